// Which destination field each of a source record's names goes to, worked out once per
// run of records with the same names.
//
// For each source position in order the first destination field not yet taken by an
// earlier position is chosen: an exact name match, else a field created from that very
// source name (stored shortened or renamed), else a match that ignores letter case
// (a to z). So a header upper-cased on reading still takes a mixed-case source's values,
// and two source fields of the same name fill two destination fields, not one twice.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/trundle_unknown.h"

namespace trundle {

class FieldNameMapper {
 public:
  // Field j of the destination is named dest_names[j]; when the destination was created
  // from a source, created_from[j] is the source name it was made from (may be empty).
  void SetDestination(std::vector<std::string> dest_names,
                      std::vector<std::string> created_from = {});
  // The destination field of each source position (-1: none), for names[0 .. n) where
  // n stops at the first empty name when stop_at_empty, else covers every name (empty
  // ones mapping to -1). Counts the values of names that have no field, for the notes.
  // filled (when not negative): every name from there on is empty, as the source's
  // FilledNames tells, and is not looked at; the mapping of a run whose names stay as
  // they are is then worked out once and checked against the few names filled.
  // layout (when not 0): the source's NamesLayout; names of the layout last mapped are
  // not looked at again.
  const std::vector<int>& Map(const TRecordBuffer& names, const TRecordBuffer& values,
                              bool stop_at_empty, int filled = -1, uint64_t layout = 0);
  // One log line per source field that had no destination field, with how many of its
  // values were therefore not written; each field once.
  std::vector<std::string> TakeNotes();

 private:
  void Recompute(const TRecordBuffer& names, size_t count);
  void CountDropped(const TRecordBuffer& values);

  std::vector<std::string> dest_names_;
  std::vector<std::string> created_from_;
  std::vector<std::string> cached_;
  std::vector<int> map_;
  bool valid_ = false;
  uint64_t layout_ = 0;  // of the names map_ was worked out or checked for; 0: none
  std::vector<size_t> unmatched_;  // positions of the current names without a field
  std::vector<std::pair<std::string, int64_t>> dropped_;  // name, values not written
};

}  // namespace trundle
