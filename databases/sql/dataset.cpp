#include "databases/sql/dataset.h"

#include <algorithm>
#include <utility>

#include "databases/sql/sql_query.h"
#include "databases/sql/table_names.h"
#include "databases/sql/table_resolver.h"
#include "databases/core/table_engine.h"
#include "engine/errors.h"

namespace trundle {
namespace {

constexpr char kReadOnly[] =
    "The query is read-only: only a whole-table select (select * from a table file) opened "
    "with RequestLive takes new records";

void AddNotes(std::vector<std::string> more, std::vector<std::string>& notes) {
  for (std::string& note : more)
    if (std::find(notes.begin(), notes.end(), note) == notes.end())
      notes.push_back(std::move(note));
}

// A whole-table select: the file read straight through its engine, with no SQL between,
// so its count is the header's and records can be appended.
class DirectTable {
 public:
  DirectTable(const TableFile& file, const TableReadOptions& read_options,
              const TableWriteOptions& write_options, bool append_from_open)
      : engine_(*file.engine),
        path_(file.path),
        read_options_(read_options),
        write_options_(write_options) {
    if (append_from_open) OpenWriter();
    try {
      OpenReader();
    } catch (const TrundleError& e) {
      // What opening the writer put right is in the file already: it is said even when
      // the table then cannot be read.
      if (repairs_.empty()) throw;
      std::string message;
      for (const std::string& line : repairs_) message += line + "\r\n";
      throw TrundleError(message + e.what());
    }
    fields_ = reader_->fields();
    record_count_ = reader_->record_count();
  }

  const TFieldDefs& fields() const { return fields_; }
  int64_t RecordCount() const { return record_count_ + posted_; }
  bool AtEnd() const { return at_end_; }
  const std::vector<Variant>& row() const { return appending_ ? buffer_ : row_; }

  void Next() {
    if (!at_end_) at_end_ = !reader_->Next(row_);
  }

  // After appending, the reader is opened again so that the new records are read too.
  void First() {
    appending_ = false;
    if (!reader_) {
      writer_->Flush();
      OpenReader();
    }
    reader_->Rewind();
    at_end_ = !reader_->Next(row_);
  }

  void Append() {
    if (!writer_ && !engine_.append) throw TrundleError("Records cannot be appended to " + path_);
    // The writer changes the file under the reader; the reader goes first, also when
    // First opened it again between two appends.
    CloseReader();
    if (!writer_) OpenWriter();
    buffer_.assign(fields_.size(), Variant());
    appending_ = true;
  }

  void SetValue(int i, const Variant& value) {
    if (!appending_) throw TrundleError("SetValue needs Append first");
    if (i < 0 || static_cast<size_t>(i) >= buffer_.size()) throw TrundleError(kRangeCheckError);
    buffer_[static_cast<size_t>(i)] = value;
  }

  // The writer converts, fits and flushes every 1000 records; a failure leaves the record
  // pending so the caller can correct it.
  void Post() {
    if (!appending_) throw TrundleError("Post needs Append first");
    writer_->Append(buffer_);
    ++posted_;
    appending_ = false;
  }

  // Closes the writer (writing the header's final count); the notes stay for TakeNotes.
  void Close() {
    CloseReader();
    if (!writer_) return;
    std::unique_ptr<TableFileWriter> writer = std::move(writer_);
    writer->Close();
    AddNotes(writer->TakeNotes(), notes_);
  }

  std::vector<std::string> TakeNotes() {
    if (reader_) AddNotes(reader_->TakeNotes(), notes_);
    if (writer_) AddNotes(writer_->TakeNotes(), notes_);
    return std::exchange(notes_, {});
  }

  std::vector<std::string> TakeRepairs() { return std::exchange(repairs_, {}); }

 private:
  void OpenWriter() {
    if (!engine_.append) throw TrundleError("Records cannot be appended to " + path_);
    writer_ = engine_.append(path_, write_options_);
    repairs_ = writer_->TakeRepairs();
  }
  void OpenReader() {
    reader_ = engine_.open(path_, read_options_);
    at_end_ = !reader_->Next(row_);
  }
  void CloseReader() {
    if (!reader_) return;
    AddNotes(reader_->TakeNotes(), notes_);
    reader_.reset();
    at_end_ = true;
  }

  TableEngine engine_;  // a copy: the registry may replace its entry meanwhile
  std::string path_;
  TableReadOptions read_options_;
  TableWriteOptions write_options_;
  std::unique_ptr<TableFileReader> reader_;  // null once appending has begun
  std::unique_ptr<TableFileWriter> writer_;  // opened by the first Append
  TFieldDefs fields_;
  int64_t record_count_ = 0;  // the header's when opened
  int64_t posted_ = 0;
  std::vector<Variant> row_;
  std::vector<Variant> buffer_;  // the record being appended
  bool appending_ = false;
  bool at_end_ = true;
  std::vector<std::string> notes_;
  std::vector<std::string> repairs_;  // from opening the writer
};

}  // namespace

struct TQuery::Impl {
  std::unique_ptr<DirectTable> direct;  // a whole-table select, or
  std::unique_ptr<SqlQuery> sql;        // anything else
  std::vector<std::string> notes;       // kept from results already closed
  TFieldDefs no_fields;

  void RequireOpen() const {
    if (!direct && !sql) throw TrundleError("The query is not open");
  }
  const std::vector<Variant>& row() const { return direct ? direct->row() : sql->row(); }
};

TQuery::TQuery() : impl_(std::make_unique<Impl>()) {}

TQuery::~TQuery() {
  try {
    Close();
  } catch (const std::exception&) {
    // A destructor cannot report; callers who care call Close() themselves.
  }
}

void TQuery::Open() {
  Close();
  std::optional<TableFile> chosen;
  if (!KindFile.empty()) {
    const TableEngine* engine = EngineByName(KindEngine);
    if (!engine) throw TrundleError("No engine for " + KindEngine + " tables");
    chosen = TableFile{AbsoluteTablePath(KindFile), engine};
  }
  const TableFile* kind_file = chosen ? &*chosen : nullptr;
  if (const std::optional<std::string> name = WholeTableSelectName(SQL)) {
    if (const std::optional<TableFile> file =
            FindTableFile(*name, BaseFolder, nullptr, kind_file)) {
      impl_->direct =
          std::make_unique<DirectTable>(*file, read_options, write_options, AppendFromOpen);
      return;
    }
  }
  impl_->sql = std::make_unique<SqlQuery>(
      SQL, std::make_shared<TableFileResolver>(BaseFolder, read_options, chosen), OnTick);
}

void TQuery::Close() {
  if (impl_->sql) {
    AddNotes(impl_->sql->TakeNotes(), impl_->notes);
    impl_->sql.reset();
  }
  if (impl_->direct) {
    std::unique_ptr<DirectTable> direct = std::move(impl_->direct);
    direct->Close();
    AddNotes(direct->TakeNotes(), impl_->notes);
  }
}

bool TQuery::Active() const { return impl_->direct || impl_->sql; }

int64_t TQuery::RecordCount() {
  impl_->RequireOpen();
  return impl_->direct ? impl_->direct->RecordCount() : impl_->sql->Count();
}

const TFieldDefs& TQuery::FieldDefs() const {
  if (impl_->direct) return impl_->direct->fields();
  if (impl_->sql) return impl_->sql->fields();
  return impl_->no_fields;
}

int TQuery::FieldCount() const { return static_cast<int>(FieldDefs().size()); }

int TQuery::FieldIndex(const std::string& name) const { return FindFieldIndex(FieldDefs(), name); }

const Variant& TQuery::Value(int i) const {
  impl_->RequireOpen();
  const std::vector<Variant>& row = impl_->row();
  if (i < 0 || static_cast<size_t>(i) >= row.size()) throw TrundleError(kRangeCheckError);
  return row[static_cast<size_t>(i)];
}

bool TQuery::Eof() const {
  if (impl_->direct) return impl_->direct->AtEnd();
  if (impl_->sql) return impl_->sql->AtEnd();
  return true;
}

void TQuery::Next() {
  impl_->RequireOpen();
  if (impl_->direct)
    impl_->direct->Next();
  else
    impl_->sql->Next();
}

void TQuery::First() {
  impl_->RequireOpen();
  if (impl_->direct)
    impl_->direct->First();
  else
    impl_->sql->First();
}

void TQuery::Append() {
  impl_->RequireOpen();
  if (!impl_->direct || !RequestLive) throw TrundleError(kReadOnly);
  impl_->direct->Append();
}

void TQuery::SetValue(int i, const Variant& value) {
  impl_->RequireOpen();
  if (!impl_->direct || !RequestLive) throw TrundleError(kReadOnly);
  impl_->direct->SetValue(i, value);
}

void TQuery::Post() {
  impl_->RequireOpen();
  if (!impl_->direct || !RequestLive) throw TrundleError(kReadOnly);
  impl_->direct->Post();
}

std::vector<std::string> TQuery::TakeNotes() {
  if (impl_->direct) AddNotes(impl_->direct->TakeNotes(), impl_->notes);
  if (impl_->sql) AddNotes(impl_->sql->TakeNotes(), impl_->notes);
  return std::exchange(impl_->notes, {});
}

std::vector<std::string> TQuery::TakeRepairs() {
  return impl_->direct ? impl_->direct->TakeRepairs() : std::vector<std::string>();
}

}  // namespace trundle
