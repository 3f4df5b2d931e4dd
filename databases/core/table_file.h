// The contract between a table-file engine (dBase, Paradox) and the layers above it: the
// SQL layer exposes a reader as a virtual table, and the adaptors create tables and
// append to them through a writer. Every engine implements these two classes.
//
// Errors: a file that cannot be opened, a damaged header, a truncated record or a memo
// block outside its file throws TrundleError whose message names the file and the cause.
// Nothing crashes, loops forever or reads outside what it was given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "databases/core/field_types.h"
#include "engine/variant.h"

namespace trundle {

struct TableReadOptions {
  // Code page of the file's text. Empty: the one the file names (language driver byte,
  // .cpg file); where it names none, valid UTF-8 stays UTF-8 and anything else is read
  // in the locale's Windows code page (FallbackDecoder).
  std::string encoding;
};

struct TableWriteOptions {
  // Code page for the text of a created table; declared in the header where the format
  // has a place for it, and in a .cpg file beside dBase tables. When appending, the
  // table's own code page wins unless this is set explicitly.
  std::string encoding = "UTF-8";
  bool encoding_explicit = false;
  // A value the format would cut to fit its field or leave empty (a number or a date
  // out of range) refuses its record (RecordRefusedError) instead: for a run that sets
  // such records aside rather than storing less than they held.
  bool refuse_lossy = false;
};

// Reads one table file from start to end. The file must stay in place while the reader
// lives.
class TableFileReader {
 public:
  virtual ~TableFileReader() = default;

  virtual const std::string& path() const = 0;
  // The fields in file order, with their dataset types, widths and decimals.
  virtual const TFieldDefs& fields() const = 0;
  // The number of records Next() delivers from the start (a dBase header's count also
  // holds the deleted records, which are not delivered).
  virtual int64_t record_count() const = 0;

  // Fills values[0 .. fields().size()) with the next live record, resizing values to
  // fit. Null for an empty column. Returns false at the end of the table.
  virtual bool Next(std::vector<Variant>& values) = 0;
  // Starts again at the first record.
  virtual void Rewind() = 0;

  // Lines for the run log about what was read imperfectly (text not valid in the code
  // page, ...); each problem once, with a count. Empty when all went well.
  virtual std::vector<std::string> TakeNotes() = 0;
};

// Appends records to one table file, keeping the file readable after every flush: the
// records are written first, then the header's count, so a crash leaves a table whose
// header claims only whole records. The table and its memo file are held against other
// writers from opening to Close (engine/file_lock.h): opening one that another writer
// holds throws BeingWrittenError. Readers are never held up.
class TableFileWriter {
 public:
  virtual ~TableFileWriter() = default;

  virtual const std::string& path() const = 0;
  // The fields as stored (names possibly shortened to what the format holds).
  virtual const TFieldDefs& fields() const = 0;

  // Appends one record: values[i] goes to fields()[i]; missing entries and Unassigned
  // values leave the field empty. A value that does not fit (text too long, a number too
  // wide, a value the format reserves) is stored as well as the field allows and counted
  // for the notes; a value that cannot be converted at all throws TrundleError.
  virtual void Append(const std::vector<Variant>& values) = 0;
  // Writes the header so that it claims every record appended so far. Called at least
  // every 1000 records by the writer itself, and by Close.
  virtual void Flush() = 0;
  // Flushes and closes. Safe to call twice; the destructor calls it and swallows errors.
  virtual void Close() = 0;

  // Lines for the run log, one per field that lost values, with the count and the
  // cause; each field once. Called after Close (or at any time for the counts so far).
  virtual std::vector<std::string> TakeNotes() = 0;
  // Lines for the run log about what opening put right, taken once: records that a run
  // killed before it wrote the header's count left after the records counted, which
  // this writer drops (LeftoversDroppedLine). Empty for a sound file.
  virtual std::vector<std::string> TakeRepairs() { return {}; }
};

// "PATH holds WHAT after the N records its header counts, left by a run that did not
// finish; they are dropped, and the new records follow those N": what a writer says of
// records it found after the counted ones and wrote over. what: "668 records".
inline std::string LeftoversDroppedLine(const std::string& path, const std::string& what,
                                        int64_t counted) {
  const std::string n = std::to_string(counted);
  return path + " holds " + what + " after the " + n +
         " records its header counts, left by a run that did not finish; they are dropped, "
         "and the new records follow those " +
         n;
}

// What an engine's create step did with the names it was given.
struct CreatedTable {
  TFieldDefs stored;                 // as written, parallel to the requested fields
  std::vector<std::string> renames;  // log lines: "Field X stored as Y", one per rename
};

}  // namespace trundle
