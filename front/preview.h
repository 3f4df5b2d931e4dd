// A look at the first records of a source before a run: the window's preview reads them
// through the same adaptor a run would open, so that a wrong code page or delimiter shows
// before anything is written.
//
//   EndDescription source;
//   source.kind = dkCsv;
//   source.file = "in.csv";
//   const SourcePreview preview = PreviewSource(source, 100);
//   if (!preview.error.empty()) Show(preview.error);
#pragma once

#include <string>
#include <vector>

#include "front/job_description.h"

namespace trundle {

// What a preview read. Values are their ordinary text (Variant::ToText); a Null shows as
// an empty cell.
struct SourcePreview {
  std::vector<std::string> names;             // the fields, in the source's order
  std::vector<std::vector<std::string>> rows;  // at most the records asked for
  bool more = false;     // the source holds records past the last row
  std::string code_page; // the code page the text was read in, for the user
  // Empty when the records were read; otherwise the adaptor's message (the last line
  // it logged, or the error that ended its reading), which rows may precede.
  std::string error;
};

// Opens the source that `source` describes, reads up to `max_records` records and closes
// it. Never throws: a failure is the preview's error.
SourcePreview PreviewSource(const EndDescription& source, int max_records);

// True for the kinds whose code page the preview offers to change: delimited text and
// dBase tables.
bool CanChooseCodePage(TDataKind kind);

// A sentence part naming the code page a source's text is read in: the one asked for,
// the one a dBase table names for itself, or how a file that names none is read.
std::string CodePageInUse(const EndDescription& source);

}  // namespace trundle
