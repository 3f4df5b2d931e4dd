#include "engine/field_name_mapper.h"

#include <algorithm>

#include "engine/ascii.h"
#include "engine/log_text.h"

namespace trundle {
namespace {

const std::string& NameText(const Variant& name, std::string& scratch) {
  if (name.type() == VarType::kString) return name.text();
  scratch = name.ToText();
  return scratch;
}

}  // namespace

void FieldNameMapper::SetDestination(std::vector<std::string> dest_names,
                                     std::vector<std::string> created_from) {
  dest_names_ = std::move(dest_names);
  created_from_ = std::move(created_from);
  valid_ = false;
  layout_ = 0;
}

const std::vector<int>& FieldNameMapper::Map(const TRecordBuffer& names,
                                             const TRecordBuffer& values, bool stop_at_empty,
                                             int filled, uint64_t layout) {
  if (layout != 0 && valid_ && layout == layout_) {
    if (!unmatched_.empty()) CountDropped(values);
    return map_;
  }
  const size_t limit =
      filled >= 0 ? std::min(names.size(), static_cast<size_t>(filled)) : names.size();
  size_t count = 0;
  while (count < limit && !(stop_at_empty && names[count].IsEmpty())) ++count;
  if (!stop_at_empty)
    while (count > 0 && names[count - 1].IsEmpty()) --count;
  bool same = valid_ && cached_.size() == count;
  std::string scratch;
  for (size_t i = 0; same && i < count; ++i)
    same = names[i].IsEmpty() ? cached_[i].empty() : cached_[i] == NameText(names[i], scratch);
  if (!same) Recompute(names, count);
  layout_ = layout;
  if (!unmatched_.empty()) CountDropped(values);
  return map_;
}

void FieldNameMapper::CountDropped(const TRecordBuffer& values) {
  for (size_t i : unmatched_) {
    if (i >= values.size() || values[i].IsEmpty()) continue;
    auto it = dropped_.begin();
    while (it != dropped_.end() && it->first != cached_[i]) ++it;
    if (it == dropped_.end()) it = dropped_.insert(it, {cached_[i], 0});
    ++it->second;
  }
}

std::vector<std::string> FieldNameMapper::TakeNotes() {
  std::vector<std::string> notes;
  for (const auto& [name, count] : dropped_)
    notes.push_back("Field " + ShownInLog(name) + ": " + std::to_string(count) +
                    (count == 1 ? " value was" : " values were") +
                    " not written, the destination has no field of that name");
  dropped_.clear();
  return notes;
}

void FieldNameMapper::Recompute(const TRecordBuffer& names, size_t count) {
  cached_.assign(count, std::string());
  map_.assign(count, -1);
  unmatched_.clear();
  std::vector<bool> taken(dest_names_.size(), false);
  std::string scratch;
  auto find = [&](const std::vector<std::string>& list, const std::string& name, bool exact) {
    for (size_t j = 0; j < list.size() && j < taken.size(); ++j)
      if (!taken[j] && (exact ? list[j] == name : EqualsIgnoringAsciiCase(list[j], name)))
        return static_cast<int>(j);
    return -1;
  };
  for (size_t i = 0; i < count; ++i) {
    if (names[i].IsEmpty()) continue;
    const std::string& name = NameText(names[i], scratch);
    cached_[i] = name;
    int j = find(dest_names_, name, true);
    if (j < 0) j = find(created_from_, name, true);
    if (j < 0) j = find(dest_names_, name, false);
    if (j < 0) j = find(created_from_, name, false);
    if (j >= 0)
      taken[j] = true;
    else
      unmatched_.push_back(i);
    map_[i] = j;
  }
  valid_ = true;
}

}  // namespace trundle
