// A structural check of a Jet database: the allocation of its pages, each table's usage
// maps, rows, long values and indexes. The writer's tests run it after every write, and
// `trundle-cli --check-access FILE` prints what it finds.
//
// It reads the file only. Damage of any kind becomes a finding, never a crash, a hang or
// an exception: every pointer, chain and count read from the file is checked first.
#pragma once

#include <string>
#include <vector>

namespace trundle::jet {

struct JetFinding {
  // A fault makes the file unsound. A note is a departure that Access itself leaves in
  // files it writes (stale row counts of system tables) or that harms nothing (a page
  // allocated to an index and never reached).
  bool fault = true;
  std::string text;  // one sentence: where ("table T", "page N") and what
};

struct JetVerifyReport {
  std::string path;
  std::vector<JetFinding> findings;  // at most kMaxFindings of each kind are kept
  int faults = 0;                    // counted in full, kept or not
  int notes = 0;
  int tables = 0;      // tables checked, system tables included
  long long rows = 0;  // live rows seen in them

  bool sound() const { return faults == 0; }
  // The findings, one a line: "PATH: fault: TEXT" / "PATH: note: TEXT", then a summary.
  std::string Text() const;

  static constexpr int kMaxFindings = 200;
};

// Checks the database at path:
// - every page is free in the global usage map (page 1, row 0) or owned exactly once: the
//   header, the global map, a table's definition pages, its data pages (its owned-pages
//   map), its index pages (each index's map), its long-value pages (the maps of its Memo
//   and OLE columns), the pages holding usage maps; owned pages are not marked free;
//   allocated pages that nothing uses are one note (Access leaves them until the database
//   is compacted), unless one holds live rows of a table whose map has lost it;
// - each table's maps agree with the pages (type and owner), its free-space map lies
//   within its owned-pages map;
// - row offsets and sizes lie inside their pages, the pages' free space is what their
//   rows leave, no row is longer than the format allows, every live row decodes, moved
//   rows lead to a live row of the same table;
// - the AutoNumber counter in the definition (the last number given) has reached every
//   number the rows hold;
// - long values: their rows exist on long-value pages the table owns, chains are well
//   formed and no long-value row serves two values;
// - the row count in each user table's definition equals its live rows (system tables:
//   a note, as Access leaves some stale);
// - every index reaches only its own pages, keeps each page's entries in key order, each
//   entry points at a live row, and each row has exactly one entry (none for an index that
//   leaves out Nulls when its keys are Null).
JetVerifyReport VerifyJetDatabase(const std::string& path);

}  // namespace trundle::jet
