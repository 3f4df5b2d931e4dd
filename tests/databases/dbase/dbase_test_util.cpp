#include "tests/databases/dbase/dbase_test_util.h"

#include <charconv>
#include <cstdlib>

#include "engine/datetime.h"

namespace trundle::dbase_test {
namespace {

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t end = line.find(sep, start);
    parts.push_back(line.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
  }
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Ours(const Variant& v) {
  return std::string(VarTypeName(v.type())) + " '" + v.ToText() + "'";
}

}  // namespace

std::vector<std::vector<std::string>> ReadWithOther(const std::string& reader,
                                                    const std::string& path,
                                                    const std::string& encoding) {
  int status = 0;
  const std::string script =
      std::string(TRUNDLE_SOURCE_DIR) + "/tests/databases/dbase/read_with_others.py";
  const std::string out =
      Run("/usr/bin/python3 " + script + " " + reader + " '" + path + "' " + encoding, status);
  std::vector<std::vector<std::string>> rows;
  if (status != 0) return rows;
  for (const std::string& line : Split(out, '\n'))
    if (!line.empty() || !rows.empty()) rows.push_back(Split(line, '\t'));
  while (!rows.empty() && rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

std::string CompareValue(const Variant& ours, const std::string& theirs, TFieldType type) {
  const std::string kind = theirs.substr(0, 2);
  const std::string body = theirs.size() > 2 ? theirs.substr(2) : "";
  if (theirs == "\\N") {
    // A blank text field may read as Null elsewhere; a blank logical likewise.
    if (ours.IsNull() || (ours.IsText() && ours.text().empty())) return {};
    return "ours " + Ours(ours) + ", theirs Null";
  }
  if (kind == "s:") {
    const std::string text = Unescape(body);
    if (ours.type() == VarType::kBoolean) {
      const bool t = text == "T" || text == "t" || text == "Y" || text == "y";
      return t == ours.boolean() && !text.empty() ? "" : "ours " + Ours(ours) + ", theirs " + text;
    }
    if (ours.IsNull() && (text.empty() || text == "?")) return {};
    if (ours.IsText() && ours.text() == text) return {};
    return "ours " + Ours(ours) + ", theirs '" + text + "'";
  }
  if (kind == "n:") {
    double d = std::strtod(body.c_str(), nullptr);
    double mine = 0;
    if (ours.type() == VarType::kInteger)
      mine = static_cast<double>(ours.integer());
    else if (ours.type() == VarType::kFloat)
      mine = ours.real();
    else if (ours.type() == VarType::kCurrency)
      mine = ours.integer() / 10000.0;
    else
      return "ours " + Ours(ours) + ", theirs number " + body;
    return mine == d ? "" : "ours " + Ours(ours) + ", theirs " + body;
  }
  if (kind == "b:") {
    if (ours.type() == VarType::kBoolean && ours.boolean() == (body == "1")) return {};
    return "ours " + Ours(ours) + ", theirs " + body;
  }
  if (kind == "d:" || kind == "t:") {
    if (ours.type() != VarType::kDateTime) return "ours " + Ours(ours) + ", theirs " + body;
    std::string text = IsoText(ours.real());
    if (kind == "t:" && text.size() == 19) text += ".000";
    if (kind == "t:" && text.size() == 10) text += " 00:00:00.000";
    return text == body ? "" : "ours " + text + ", theirs " + body;
  }
  if (kind == "x:") {
    if ((ours.type() == VarType::kBlob || ours.IsText()) && Hex(ours.text()) == body) return {};
    return "ours " + Hex(ours.text()) + ", theirs " + body;
  }
  (void)type;
  return "unknown token " + theirs;
}

}  // namespace trundle::dbase_test
