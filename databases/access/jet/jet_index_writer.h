// One index (B-tree) of a table being written: entries inserted in key order through a
// PageStore's journalled batch.
//
//   IndexWriter index(store, def, def.indexes[0], where);
//   if (!index.Insert(key, row_pointer)) ...   // unique index: the key is there already
//
// Leaf pages (type 0x04) hold entries of key bytes and a row pointer, intermediate pages
// (0x03) entries of key bytes, row pointer and child page; each page stores its entries
// after the prefix they share with the page's first entry, and marks where each entry
// ends in the header's entry mask. A page that overflows is split in two, its new sibling
// linked into the leaf chain (previous and next pages) and announced to its parent; a
// root that splits keeps its page number (its entries move to two new children), so the
// table definition's root page never changes. New pages are taken from the store and
// recorded in the index's usage map.
//
// An intermediate entry carries the key and row pointer of the last entry under its
// child; an intermediate page with more than one child keeps the last one in its header's
// tail field rather than as an entry (as the Jackcess library writes them for Access), so
// rows appended in key order change only the last leaf until it splits. Leaf pages are
// linked from the first to the last; intermediate pages only to siblings under the same
// parent. Decoded pages stay cached across inserts and batches; each changed page is
// written once per Flush.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "databases/access/jet/jet_tdef.h"

namespace trundle::jet {

class KeyRun;
class PageStore;

class IndexWriter {
 public:
  // def: the table (its TDEF page owns the index pages); index: one of def.indexes.
  // where: the message prefix ("PATH is damaged: table T"). The store must outlive the
  // writer. Throws TrundleError when the index's pages cannot be read as an index.
  IndexWriter(PageStore& store, const TableDef& def, const PhysicalIndex& index,
              std::string where);
  ~IndexWriter();

  // Adds an entry for the row at row_pointer (page << 8 | row) with the key bytes (from
  // IndexKeyEncoder). A unique index refuses a key it holds already: returns false and
  // changes nothing. new_key (when given) tells whether no other entry had an equal key:
  // the table definition's count for the index (PhysicalIndex::entry_count) counts
  // distinct keys, as the fixtures' indexes that Access kept current show (a unique index:
  // its entries). Throws TrundleError on a damaged page, a key too long for a page (the
  // message names the file, table and index), or an entry for this key and row that the
  // index holds already; the open batch must then be rolled back (and Forget called).
  // null_key: the key's columns are all Null, which a unique index takes any number of
  // times (as Access does), filed as a plain index files equal keys.
  bool Insert(const std::string& key, uint32_t row_pointer, bool* new_key = nullptr,
              bool null_key = false);
  // Throws TrundleError (naming the file, table and index) when a key is too long for
  // the index's pages, as Insert does.
  void CheckKeySize(const std::string& key) const;
  // True when the index holds an entry of exactly this key (a parent's key, for a
  // foreign key check).
  bool Contains(const std::string& key);

  // Writes pages changed since the last call to the store (the batch's commit calls it
  // before the store's Commit), and forgets cached pages after a Rollback.
  void Flush();
  void Forget();

  // Fills an index that has no entries (its root an empty leaf) with the run's entries
  // taken in order (KeyRun::SortedOrder), all in the store's open batch: leaves filled
  // one after another as far as they hold, linked from the first to the last, and above
  // them intermediate pages filled the same way (each keeping its last child in its tail;
  // siblings linked under the same parent only), up to the root, which keeps its page
  // number. The pages are written as they are filled and recorded in the index's usage
  // map. Returns the count of distinct keys (PhysicalIndex::entry_count). Throws
  // TrundleError as Insert does for a key too long for a page.
  static uint32_t Build(PageStore& store, const TableDef& def, const PhysicalIndex& index,
                      const std::string& where, const KeyRun& run,
                      const std::vector<uint32_t>& order);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace trundle::jet
