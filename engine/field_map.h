// The user's field map (trundle-cli --map "src=dst,other=-"): source fields renamed or left
// out on their way to the destination. The job applies it to the records it passes on and
// to the fields a created table is made from, so every destination kind gets it.
//
//   std::vector<FieldRename> renames;
//   ParseFieldMap("name=full_name,age=-", renames);   // "" on success
//   job.FieldMap = renames;
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/trundle_unknown.h"

namespace trundle {

struct FieldRename {
  std::string source;       // a source field's name (letter case a to z ignored)
  std::string destination;  // its name in the destination; empty: left out
};

// A map that does not fit the source: a field it does not have, or two fields given one
// name. A usage error: the what() names the field and lists the source's fields.
class FieldMapError : public TrundleError {
 public:
  using TrundleError::TrundleError;
};

// Parses "a=b,c=-" (a field left out is written "=-"). Returns an error sentence for the
// user, or empty; `out` is then the map in the order given.
std::string ParseFieldMap(const std::string& text, std::vector<FieldRename>& out);

// The map worked out against one list of source names: which source position goes to which
// destination position, under which name. Worked out again only when the names change.
class FieldRenamer {
 public:
  explicit FieldRenamer(std::vector<FieldRename> renames) : renames_(std::move(renames)) {}

  // Throws FieldMapError when a name of the map is none of `names`, or when two of the
  // fields kept would share a name.
  void Resolve(const std::vector<std::string>& names);
  // The record as the destination gets it: the names kept, renamed, and their values.
  // Returns the count of names set in out_names. Throws FieldMapError as Resolve.
  int Apply(const TRecordBuffer& names, const TRecordBuffer& values, TRecordBuffer& out_names,
            TRecordBuffer& out_values);
  TFieldDefs MapFields(const TFieldDefs& fields);
  // The what() of the last FieldMapError thrown, empty when none was: a destination's
  // CreateTable may catch it and only return false, and the job then throws it again.
  const std::string& error() const { return error_; }
  // Keys over a field left out are dropped; the others name the fields as renamed.
  TIndexDefs MapIndexes(const TIndexDefs& indexes) const;

 private:
  [[noreturn]] void Fail(const std::string& message);
  // The new name of a source name, empty when it is left out.
  std::string NewName(const std::string& name) const;

  std::vector<FieldRename> renames_;
  std::vector<std::string> resolved_for_;  // the names the positions below are for
  std::vector<int> kept_;                  // source position of each destination field
  std::vector<std::string> kept_names_;    // the destination names, in order
  std::string error_;
};

// The source as a created table sees it: its fields and keys through the map. Borrows
// both; they must outlive it. Used only for the destination's CreateTable.
class MappedSource : public TTrundleUnknown {
 public:
  MappedSource(TTrundleUnknown& source, FieldRenamer& renamer)
      : source_(source), renamer_(renamer) {}
  TDataKind GetKind() const override { return source_.GetKind(); }
  TFieldDefs SourceFieldDefs(const TextLength& measure_widths) override {
    return renamer_.MapFields(source_.SourceFieldDefs(measure_widths));
  }
  TIndexDefs SourceIndexDefs() override { return renamer_.MapIndexes(source_.SourceIndexDefs()); }

 private:
  TTrundleUnknown& source_;
  FieldRenamer& renamer_;
};

}  // namespace trundle
