#include "fake_engine.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <utility>

#include "engine/errors.h"

namespace trundle::testing {
namespace {

namespace fs = std::filesystem;

std::map<std::string, FakeTable>& Tables() {
  static std::map<std::string, FakeTable> tables;
  return tables;
}

int readers_opened = 0;

std::string Key(const std::string& path) { return fs::weakly_canonical(path).string(); }

FakeTable& Find(const std::string& path) {
  auto it = Tables().find(Key(path));
  if (it == Tables().end()) throw TrundleError("Cannot open " + path + ": not a fake table");
  return it->second;
}

class FakeReader : public TableFileReader {
 public:
  FakeReader(std::string path, const FakeTable& table) : path_(std::move(path)), table_(table) {
    ++table_.open_readers;
  }
  ~FakeReader() override { --table_.open_readers; }
  const std::string& path() const override { return path_; }
  const TFieldDefs& fields() const override { return table_.fields; }
  int64_t record_count() const override {
    return table_.header_count >= 0 ? table_.header_count : Size();
  }
  bool Next(std::vector<Variant>& values) override {
    if (next_ == table_.fail_at)
      throw TrundleError(path_ + ": record " + std::to_string(next_ + 1) + " is damaged");
    if (next_ >= Size()) return false;
    if (table_.generate) {
      values.resize(table_.fields.size());
      table_.generate(next_, values);
    } else {
      values = table_.records[static_cast<size_t>(next_)];
    }
    ++next_;
    return true;
  }
  void Rewind() override { next_ = 0; }
  std::vector<std::string> TakeNotes() override { return std::exchange(notes_, {}); }

 private:
  int64_t Size() const {
    return table_.generate ? table_.generated_rows : static_cast<int64_t>(table_.records.size());
  }

  std::string path_;
  const FakeTable& table_;
  int64_t next_ = 0;
  std::vector<std::string> notes_ = table_.notes;
};

// Converts as a real engine would: to the field's type, throwing on what cannot be read.
Variant Converted(const Variant& value, const TFieldDef& field) {
  if (value.IsEmpty()) return Variant::Null();
  switch (field.DataType) {
    case ftSmallint:
    case ftInteger:
    case ftLargeint:
      return Variant::Integer(value.ToInteger());
    case ftFloat:
      return Variant::Float(value.ToDouble());
    case ftCurrency:
      return Variant::Currency(value.ToCurrency());
    case ftBoolean:
      return Variant::Boolean(value.ToBoolean());
    case ftDate:
    case ftTime:
    case ftDateTime:
      return Variant::DateTime(value.ToDateTime());
    case ftBlob:
      return Variant::Blob(value.ToText());
    default:
      return Variant::String(value.ToText());
  }
}

class FakeWriter : public TableFileWriter {
 public:
  FakeWriter(std::string path, FakeTable& table) : path_(std::move(path)), table_(table) {}
  const std::string& path() const override { return path_; }
  const TFieldDefs& fields() const override { return table_.fields; }
  void Append(const std::vector<Variant>& values) override {
    if (table_.open_readers > 0) throw TrundleError(path_ + " is being read while appended to");
    std::vector<Variant> record(table_.fields.size(), Variant::Null());
    for (size_t i = 0; i < record.size() && i < values.size(); ++i)
      record[i] = Converted(values[i], table_.fields[i]);
    table_.records.push_back(std::move(record));
  }
  void Flush() override {}
  void Close() override { closed_ = true; }
  std::vector<std::string> TakeNotes() override {
    if (!closed_) return {};
    return {"Closed " + fs::path(path_).filename().string()};
  }

 private:
  std::string path_;
  FakeTable& table_;
  bool closed_ = false;
};

}  // namespace

void RegisterFakeEngine() {
  TableEngine engine;
  engine.name = "fake";
  engine.extensions = {".fake"};
  engine.open = [](const std::string& path, const TableReadOptions&) {
    const FakeTable& table = Find(path);
    ++readers_opened;
    return std::make_unique<FakeReader>(path, table);
  };
  engine.append = [](const std::string& path, const TableWriteOptions&) {
    return std::make_unique<FakeWriter>(path, Find(path));
  };
  RegisterTableEngine(std::move(engine));
}

void PutFakeTable(const std::string& path, FakeTable table) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path).close();
  Tables()[Key(path)] = std::move(table);
}

const FakeTable& GetFakeTable(const std::string& path) { return Find(path); }

int FakeReadersOpened() { return readers_opened; }

}  // namespace trundle::testing
