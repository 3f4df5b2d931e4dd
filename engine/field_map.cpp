#include "engine/field_map.h"

#include <algorithm>

#include "engine/ascii.h"

namespace trundle {
namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

}  // namespace

std::string ParseFieldMap(const std::string& text, std::vector<FieldRename>& out) {
  out.clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    const size_t equals = item.find('=');
    if (equals == std::string::npos)
      return "--map takes SOURCE=DEST or SOURCE=- items separated by commas, not '" + item + "'";
    FieldRename rename{Trimmed(item.substr(0, equals)), Trimmed(item.substr(equals + 1))};
    if (rename.source.empty() || rename.destination.empty())
      return "--map item '" + item + "' needs a source field and a new name (or -)";
    if (rename.destination == "-") rename.destination.clear();
    for (const FieldRename& earlier : out)
      if (EqualsIgnoringAsciiCase(earlier.source, rename.source))
        return "--map names the field " + rename.source + " twice";
    out.push_back(std::move(rename));
    start = end + 1;
  }
  return {};
}

void FieldRenamer::Fail(const std::string& message) {
  error_ = message;
  throw FieldMapError(message);
}

std::string FieldRenamer::NewName(const std::string& name) const {
  for (const FieldRename& rename : renames_)
    if (EqualsIgnoringAsciiCase(rename.source, name)) return rename.destination;
  return name;
}

void FieldRenamer::Resolve(const std::vector<std::string>& names) {
  if (names == resolved_for_ && !resolved_for_.empty()) return;
  for (const FieldRename& rename : renames_) {
    const bool found = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
      return EqualsIgnoringAsciiCase(name, rename.source);
    });
    if (!found)
      Fail("The field map names the field " + rename.source +
                          ", which the source does not have; its fields are: " + Joined(names));
  }
  kept_.clear();
  kept_names_.clear();
  for (size_t i = 0; i < names.size(); ++i) {
    std::string name = NewName(names[i]);
    if (name.empty()) continue;
    for (size_t j = 0; j < kept_names_.size(); ++j)
      if (EqualsIgnoringAsciiCase(kept_names_[j], name))
        Fail("The field map gives two fields the name " + name + ": " +
                            names[static_cast<size_t>(kept_[j])] + " and " + names[i]);
    kept_.push_back(static_cast<int>(i));
    kept_names_.push_back(std::move(name));
  }
  resolved_for_ = names;
}

int FieldRenamer::Apply(const TRecordBuffer& names, const TRecordBuffer& values,
                        TRecordBuffer& out_names, TRecordBuffer& out_values) {
  // Only the names are compared record by record; the map is worked out again only
  // when they differ from the last record's.
  size_t count = 0;
  while (count < names.size() && !names[count].IsEmpty()) ++count;
  bool same = count == resolved_for_.size();
  for (size_t i = 0; same && i < count; ++i) same = names[i].text() == resolved_for_[i];
  if (!same) {
    std::vector<std::string> now;
    now.reserve(count);
    for (size_t i = 0; i < count; ++i) now.push_back(names[i].ToText());
    Resolve(now);
  }
  for (size_t j = 0; j < out_names.size(); ++j) {
    if (j < kept_.size()) {
      if (!same || out_names[j].IsEmpty()) out_names[j] = Variant::String(kept_names_[j]);
      out_values[j] = values[static_cast<size_t>(kept_[j])];
    } else if (!out_names[j].IsEmpty() || !out_values[j].IsEmpty()) {
      out_names[j] = Variant();
      out_values[j] = Variant();
    } else {
      break;
    }
  }
  return static_cast<int>(kept_.size());
}

TFieldDefs FieldRenamer::MapFields(const TFieldDefs& fields) {
  std::vector<std::string> names;
  for (const TFieldDef& field : fields) names.push_back(field.Name);
  Resolve(names);
  TFieldDefs mapped;
  for (size_t j = 0; j < kept_.size(); ++j) {
    mapped.push_back(fields[static_cast<size_t>(kept_[j])]);
    mapped.back().Name = kept_names_[j];
  }
  return mapped;
}

TIndexDefs FieldRenamer::MapIndexes(const TIndexDefs& indexes) const {
  TIndexDefs mapped;
  for (TIndexDef index : indexes) {
    bool whole = true;
    for (std::string& field : index.Fields) {
      field = NewName(field);
      whole = whole && !field.empty();
    }
    if (whole) mapped.push_back(std::move(index));
  }
  return mapped;
}

}  // namespace trundle
