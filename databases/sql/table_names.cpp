#include "databases/sql/table_names.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle {
namespace fs = std::filesystem;
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// Letters, digits, '_', '$' and every byte of a UTF-8 sequence, as SQLite's tokenizer
// takes them in a bare name; '.' too, so that cust.dbf names the file.
bool IsBareNameChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '.' || u >= 0x80;
}

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void SkipSpace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  }
  bool AtEnd() const { return pos_ == text_.size(); }
  bool Take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) return ++pos_, true;
    return false;
  }
  // A keyword not followed by more of a bare name ("selected" is not "select").
  bool TakeKeyword(std::string_view word) {
    if (text_.size() - pos_ < word.size()) return false;
    if (!EqualsIgnoringAsciiCase(text_.substr(pos_, word.size()), word)) return false;
    const size_t after = pos_ + word.size();
    if (after < text_.size() && IsBareNameChar(text_[after])) return false;
    pos_ = after;
    return true;
  }
  std::optional<std::string> TakeName() {
    if (AtEnd()) return std::nullopt;
    const char open = text_[pos_];
    const char close = open == '[' ? ']' : open;
    if (open == '"' || open == '`' || open == '[') {
      std::string name;
      for (size_t i = pos_ + 1; i < text_.size(); ++i) {
        if (text_[i] != close) {
          name += text_[i];
        } else if (close != ']' && i + 1 < text_.size() && text_[i + 1] == close) {
          name += close;
          ++i;
        } else {
          pos_ = i + 1;
          return name;
        }
      }
      return std::nullopt;
    }
    const size_t start = pos_;
    while (pos_ < text_.size() && IsBareNameChar(text_[pos_])) ++pos_;
    if (pos_ == start) return std::nullopt;
    return std::string(text_.substr(start, pos_ - start));
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// The engine of a file: the chosen one for the chosen file, else the one its extension
// names. nullptr when neither applies or the path is no regular file.
const TableEngine* EngineOf(const fs::path& path, const TableFile* chosen) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return nullptr;
  if (chosen && chosen->engine) {
    const fs::path other(chosen->path);
    if (path == other || fs::equivalent(path, other, error)) return chosen->engine;
  }
  return EngineForPath(path.filename().string());
}

}  // namespace

std::optional<std::string> WholeTableSelectName(std::string_view sql) {
  Scanner scan(sql);
  scan.SkipSpace();
  if (!scan.TakeKeyword("select")) return std::nullopt;
  scan.SkipSpace();
  if (!scan.Take('*')) return std::nullopt;
  scan.SkipSpace();
  if (!scan.TakeKeyword("from")) return std::nullopt;
  scan.SkipSpace();
  std::optional<std::string> name = scan.TakeName();
  if (!name || name->empty()) return std::nullopt;
  scan.SkipSpace();
  scan.Take(';');
  scan.SkipSpace();
  if (!scan.AtEnd()) return std::nullopt;
  return name;
}

namespace {

std::optional<TableFile> FindTableFileFrom(const std::string& name, const std::string& base_folder,
                                           std::string* looked_for, const TableFile* chosen) {
  if (looked_for) looked_for->clear();
  if (name.empty()) return std::nullopt;
  std::error_code error;
  fs::path full(name);
  if (!full.is_absolute()) {
    fs::path base = base_folder.empty() ? fs::current_path(error) : fs::path(base_folder);
    full = fs::absolute(base / full, error);
  }
  full = full.lexically_normal();
  const fs::path folder = full.parent_path();
  const std::string file_name = full.filename().string();
  if (file_name.empty()) return std::nullopt;

  std::vector<std::string> candidates{file_name};
  if (!EngineForPath(file_name))
    for (const TableEngine* engine : RegisteredTableEngines())
      for (const std::string& extension : engine->extensions)
        candidates.push_back(file_name + extension);

  // Each candidate spelt as written, else in another letter case than the file's (CUST
  // for cust.dbf, as on the file systems where these tables were made): one pass over
  // the folder, and of two spellings of one candidate the first in byte order.
  std::vector<fs::path> found(candidates.size());
  bool all_exact = true;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (EngineOf(folder / candidates[i], chosen))
      found[i] = folder / candidates[i];
    else
      all_exact = false;
  }
  if (!all_exact) {
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      const std::string entry = it->path().filename().string();
      for (size_t i = 0; i < candidates.size(); ++i) {
        if (!EqualsIgnoringAsciiCase(entry, candidates[i]) || !EngineOf(it->path(), chosen))
          continue;
        if (found[i].empty() || (found[i].filename() != candidates[i] && it->path() < found[i]))
          found[i] = it->path();
        break;
      }
    }
  }
  // The name as written is what it says; a name without extension that stands for tables
  // of two engines (amb.dbf, amb.db) is
  // the user's to settle: taking either would read the wrong table without a word.
  if (!found[0].empty()) return TableFile{found[0].string(), EngineOf(found[0], chosen)};
  std::vector<fs::path> tables;
  for (const fs::path& path : found)
    if (!path.empty()) tables.push_back(path);
  if (tables.size() > 1) {
    std::string listed;
    for (size_t i = 0; i < tables.size(); ++i)
      listed += (i == 0 ? "" : i + 1 == tables.size() ? " and " : ", ") + tables[i].string();
    throw TrundleError("The table name " + name + " matches " + listed +
                       "; write it with the file's extension");
  }
  if (!tables.empty()) return TableFile{tables[0].string(), EngineOf(tables[0], chosen)};

  if (looked_for) {
    *looked_for = "looked for ";
    for (size_t i = 0; i < candidates.size(); ++i) *looked_for += (i ? ", " : "") + candidates[i];
    *looked_for += " in " + folder.string();
  }
  return std::nullopt;
}

}  // namespace

std::optional<TableFile> FindTableFile(const std::string& name, const std::string& base_folder,
                                       std::string* looked_for, const TableFile* chosen) {
  // A relative path (sub/t.dbf) is first what it is anywhere else, a path from the
  // current folder, as a user typed it on the command line; then one from base_folder.
  if (name.find('/') != std::string::npos && !fs::path(name).is_absolute()) {
    if (auto found = FindTableFileFrom(name, "", nullptr, chosen)) return found;
  }
  return FindTableFileFrom(name, base_folder, looked_for, chosen);
}

std::string AbsoluteTablePath(const std::string& path) {
  std::error_code error;
  return fs::absolute(fs::path(path), error).lexically_normal().string();
}

std::string QuoteSqlName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace trundle
