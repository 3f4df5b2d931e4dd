// The HTML page of a table, written as it goes: the head (title, style, the banner file's
// fragment) and the header row, then one row per record, then the count of entries and
// the creation date. Nothing of the page is held but the last 64 KB on their way out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "textfiles/qor_tables.h"

namespace trundle {

class HtmlPageWriter {
 public:
  // Writes the head and the header row of names to sink, which must outlive the writer.
  // The banner goes in when banner_file names a file (an empty name or nothing there:
  // no banner); a file there that cannot be read throws TrundleError naming it.
  HtmlPageWriter(OutputSink& sink, const std::string& title, const std::string& banner_file,
                 const std::vector<std::string>& names);

  void BeginRow() { Write("<TR>"); }
  // One cell: text goes in as text, never as markup; an empty cell (a Null or a missing
  // value) shows a non-breaking space, so that its borders still show.
  void Cell(std::string_view text, bool empty);
  void EndRow() { Write("</TR>"); }
  // Writes the closing part, with entries as the count of records, and sends everything
  // to the sink.
  void Finish(int64_t entries);

 private:
  void Write(std::string_view text);
  void WriteEscaped(std::string_view text);

  OutputSink& sink_;
  std::string held_;  // page text not yet sent to sink_
};

}  // namespace trundle
