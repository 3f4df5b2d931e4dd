// The HTML page of a table: a fixed template with the title, an optional banner
// fragment, one table row per record, the number of entries and the creation date.
#include "textfiles/html_page.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "engine/datetime.h"
#include "engine/errors.h"
#include "engine/locale_format.h"

namespace trundle {
namespace {

// False when nothing is at the path. A file that is there but cannot be read (no
// permission, a folder, a read error) is an error: the page would silently lack its banner.
bool ReadWholeFile(const std::string& path, std::string& content) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 && errno == ENOENT) return false;
  auto fail = [&path](int error) {
    throw TrundleError("Could not read the banner file " + path + ": " + std::strerror(error));
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail(errno);
  content.clear();
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      fail(error);
    }
    content.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

constexpr const char kStyle[] =
    "<STYLE> "
    ".celltext { "
    "  font-family: Verdana; "
    "  font-size: 7pt; "
    "} "
    ".cellheader { "
    "  font-family: Verdana; "
    "  font-size: 7pt; "
    "  font-weight: bold; "
    "} "
    ".heading { "
    "  font-family: Verdana; "
    "  font-size: 10pt; "
    "  font-weight: bold; "
    "} "
    "</STYLE>";

}  // namespace

HtmlPageWriter::HtmlPageWriter(OutputSink& sink, const std::string& title,
                               const std::string& banner_file,
                               const std::vector<std::string>& names)
    : sink_(sink) {
  // The page's text is UTF-8 whatever the source's code page was; a browser left to
  // guess takes it for the locale's legacy code page.
  Write("<HTML><HEAD><meta charset=\"utf-8\"><TITLE>");
  WriteEscaped(title);
  Write("</TITLE>");
  Write(kStyle);
  Write("</HEAD><BODY>");
  std::string banner;
  if (!banner_file.empty() && ReadWholeFile(banner_file, banner)) {
    // The banner is HTML by intent and goes in as it stands.
    Write("<P>");
    Write(banner);
    Write("</P>");
  }
  Write("<P CLASS=\"heading\" ALIGN=\"CENTER\">");
  WriteEscaped(title);
  Write("</P><TABLE WIDTH=\"94%\" BORDER=\"0\" ALIGN=\"CENTER\" BGCOLOR=\"#F3F3F3\"> <TR> ");
  for (const std::string& name : names) {
    Write("<TD ALIGN=\"LEFT\" CLASS=\"cellheader\">");
    WriteEscaped(name);
    Write("</TD>");
  }
  Write("</TR>");
}

void HtmlPageWriter::Cell(std::string_view text, bool empty) {
  if (empty) {
    Write("<TD CLASS=\"celltext\">&nbsp;</TD>");
    return;
  }
  Write("<TD CLASS=\"celltext\">");
  WriteEscaped(text);
  Write("</TD>");
}

void HtmlPageWriter::Finish(int64_t entries) {
  Write("<TR><TD CLASS=\"celltext\">Entries: " + std::to_string(entries) +
        "</TD></TR></TABLE><P><FONT SIZE=\"-1\"><I>Created: ");
  WriteEscaped(FormatShortDate(std::floor(NowLocal()), *CurrentLocaleFormats()));
  Write("</I></FONT></P></BODY></HTML>");
  sink_.Write(held_);
  held_.clear();
}

void HtmlPageWriter::Write(std::string_view text) {
  held_.append(text);
  if (held_.size() >= (1 << 16)) {
    sink_.Write(held_);
    held_.clear();
  }
}

// Text from the data goes into the page as text, never as markup.
void HtmlPageWriter::WriteEscaped(std::string_view text) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* entity = nullptr;
    switch (text[i]) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        entity = "&quot;";
        break;
      default:
        continue;
    }
    Write(text.substr(start, i - start));
    Write(entity);
    start = i + 1;
  }
  Write(text.substr(start));
}

void TTableObject::WriteHtmlRows(HtmlPageWriter& page, const TTrundleTickEvent& tick) const {
  SealOpenRecord();
  TickCounter ticks(tick);
  for (int r = 1; r < RecordListLength(); ++r) {
    ticks.Step();
    page.BeginRow();
    // Each column shows its own values, also where two fields share a name.
    ForEachText(r, [&page](size_t, std::string_view text, bool empty) { page.Cell(text, empty); });
    page.EndRow();
  }
}

void TTableObject::SaveToHtml(const std::string& title, const std::string& banner_file,
                              OutputSink& out, const TTrundleTickEvent& tick) const {
  HtmlPageWriter page(out, title, banner_file, FieldNames);
  WriteHtmlRows(page, tick);
  page.Finish(DataRecordCount());
}

std::string TTableObject::SaveToHtml(const std::string& title,
                                     const std::string& banner_file) const {
  StringSink sink;
  SaveToHtml(title, banner_file, sink);
  return std::move(sink.text);
}

}  // namespace trundle
