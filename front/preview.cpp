#include "front/preview.h"

#include <algorithm>
#include <exception>

#include "engine/codepage.h"
#ifdef TRUNDLE_WITH_TABLE_FILES
#include "databases/dbase/dbase_format.h"
#include "databases/core/file_io.h"
#endif

namespace trundle {
namespace {

// The leading names a record set: a source leaves the names past its last field
// Unassigned.
size_t NamedFields(const TRecordBuffer& names) {
  size_t count = 0;
  while (count < names.size() && !names[count].IsEmpty()) ++count;
  return count;
}

// How text of a file that names no code page is read (FallbackDecoder).
std::string FallbackCodePage() {
  return "UTF-8, or " + LocaleWindowsCodePage() + " where the text is not UTF-8";
}

}  // namespace

bool CanChooseCodePage(TDataKind kind) {
  return kind == dkCsv || kind == dkText || kind == dkDBase;
}

std::string CodePageInUse(const EndDescription& source) {
  if (!source.encoding.empty()) return NormalizeCodePageName(source.encoding);
  if (source.kind == dkCsv || source.kind == dkText) return FallbackCodePage();
#ifdef TRUNDLE_WITH_TABLE_FILES
  if (source.kind == dkDBase) {
    try {
      const RandomAccessFile file(source.file, RandomAccessFile::Mode::kRead);
      const std::string named = dbase::TableCodePage(source.file, dbase::ReadTableHeader(file));
      if (!named.empty()) return named + ", as the table names it";
    } catch (const std::exception&) {
      // A table that cannot be read says why when it is opened; here it names no page.
    }
    return FallbackCodePage();
  }
#endif
  return "as the database delivers its text";
}

SourcePreview PreviewSource(const EndDescription& source, int max_records) {
  SourcePreview preview;
  preview.code_page = CodePageInUse(source);
  std::string last_line;
  try {
    JobDescription description;
    description.source = source;
    TTrundle job;
    BuildJob(description, job);
    job.OnMessage = [&last_line](const std::string& line) { last_line = line; };
    TTrundleUnknown& adaptor = job.Source();
    if (!adaptor.OpenTable()) {
      preview.error = last_line.empty() ? "The source could not be opened." : last_line;
      return preview;
    }
    TRecordBuffer names(kRecordBufferSize);
    TRecordBuffer values(kRecordBufferSize);
    while (adaptor.ReadRecord(names, values)) {
      if (static_cast<int>(preview.rows.size()) >= max_records) {
        preview.more = true;
        break;
      }
      // A record with more fields than those before it (ragged text) widens the grid.
      const size_t count = NamedFields(names);
      for (size_t i = preview.names.size(); i < count; ++i)
        preview.names.push_back(names[i].ToText());
      std::vector<std::string>& row = preview.rows.emplace_back();
      row.reserve(count);
      for (size_t i = 0; i < count; ++i) row.push_back(values[i].ToText());
    }
    if (!preview.more && !adaptor.ReadError().empty()) preview.error = adaptor.ReadError();
  } catch (const std::exception& e) {
    preview.error = e.what();
  }
  // The job, and with it the adaptor and its file, is closed here.
  return preview;
}

}  // namespace trundle
