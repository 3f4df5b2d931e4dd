#include "textfiles/trundle_text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>

#include "engine/errors.h"
#include "engine/locale_format.h"
#include "tests/test_files.h"
#include "textfiles/clipboard.h"

namespace trundle {
namespace {

struct Loaded {
  bool ok = false;
  std::vector<std::string> log;
  std::vector<std::string> names;
  std::vector<std::vector<Variant>> rows;
  int32_t record_count = 0;
};

Loaded Load(TTrundleDelimited& adaptor, const std::string& path) {
  Loaded out;
  adaptor.TableName = path;
  adaptor.OnMessage = [&out](const std::string& m) { out.log.push_back(m); };
  out.ok = adaptor.OpenTable();
  out.names = adaptor.Table.FieldNames;
  out.record_count = adaptor.RecordCount;
  if (!out.ok) return out;
  TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
  while (adaptor.ReadRecord(names, values))
    out.rows.emplace_back(values.begin(), values.begin() + out.names.size());
  return out;
}

Loaded LoadCsv(const std::string& bytes) {
  ScratchFolder dir;
  WriteFile(dir / "t.csv", bytes);
  TTrundleCsv csv;
  return Load(csv, dir / "t.csv");
}

std::vector<std::string> Texts(const std::vector<Variant>& row) {
  std::vector<std::string> out;
  for (const Variant& v : row) out.push_back(v.IsNull() ? "<null>" : v.text());
  return out;
}

TEST(DelimitedReadTest, ParsesQuotingLineEndsAndOddLines) {
  using Rows = std::vector<std::vector<std::string>>;
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> header;
    Rows rows;
  } cases[] = {
      {"short line", "a,b\r\n1,2\r\n3", {"A", "B"}, {{"1", "2"}, {"3", "<null>"}}},
      {"quoted header", "\"x\",\"y,z\"\r\n", {"X", "Y,Z"}, {}},
      {"doubled quotes", "h,i\r\n\"he said \"\"hi\"\"\",2", {"H", "I"}, {{"he said \"hi\"", "2"}}},
      {"quote then comma inside", "h,i\r\n\"a\"\",b\",c", {"H", "I"}, {{"a\",b", "c"}}},
      {"leading comma quoted", "h,i\r\n\",x\",y", {"H", "I"}, {{",x", "y"}}},
      {"empty first", "h,i\r\n,a", {"H", "I"}, {{"", "a"}}},
      {"trailing delimiter",
       "h,i,j\r\na,b,\r\n,\r\n",
       {"H", "I", "J"},
       {{"a", "b", "<null>"}, {"", "<null>", "<null>"}}},
      {"line ends", "h\ra\nb\r\nc\n\"d\r\ne\"", {"H"}, {{"a"}, {"b"}, {"c"}, {"d\r\ne"}}},
      {"text after closing quote", "h,i\r\n\"ab\"cd,e", {"H", "I"}, {{"abcd", "e"}}},
      {"byte-order mark", "\xEF\xBB\xBFid,n\r\n1,x", {"ID", "N"}, {{"1", "x"}}},
      {"end-of-file mark",
       "h\r\na\r\n\x1A"
       "b\r\n",
       {"H"},
       {{"a"}}},
      {"lower case letters only", "näme,b-c\r\n", {"NäME", "B-C"}, {}},
      {"blank line is a record", "h\r\n\r\nx\r\n", {"H"}, {{"<null>"}, {"x"}}},
  };
  for (const Case& c : cases) {
    const Loaded l = LoadCsv(c.bytes);
    EXPECT_TRUE(l.ok) << c.name;
    EXPECT_EQ(l.names, c.header) << c.name;
    ASSERT_EQ(l.rows.size(), c.rows.size()) << c.name;
    for (size_t r = 0; r < c.rows.size(); ++r) EXPECT_EQ(Texts(l.rows[r]), c.rows[r]) << c.name;
    EXPECT_EQ(l.record_count, static_cast<int32_t>(c.rows.size() + 1)) << c.name;
    EXPECT_EQ(l.log.back(), std::to_string(c.rows.size()) + " records read") << c.name;
  }
}

// A program, a picture or a database on the Text tab is no table: reading it says so
// instead of moving a few records of garbage; as a destination it is left alone. Text
// in UTF-16, with or without its mark, holds NULs too and is not taken for binary.
TEST(DelimitedReadTest, ABinaryFileIsNotText) {
  ScratchFolder dir;
  std::string binary = "\x7F" "ELF\x02\x01\x01";
  binary += std::string(9, '\0') + "\x03\x00\x3E\x00,\n" + std::string(40, '\x01');
  WriteFile(dir / "program.csv", binary);
  TTrundleCsv source;
  const Loaded read = Load(source, dir / "program.csv");
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.log.back(),
            dir / "program.csv is not a text file: it holds NUL bytes, as binary files do");

  TTrundleCsv dest;
  dest.TableName = dir / "program.csv";
  dest.PrepareDestination();
  EXPECT_THROW(dest.OpenTable(), TrundleError);
  EXPECT_EQ(ReadFile(dir / "program.csv"), binary);

  using namespace std::string_literals;
  for (const std::string& utf16 : {"\xFF\xFE" "a\0,\0b\0\r\0\n\0"s, "a\0,\0b\0\r\0\n\0"s}) {
    WriteFile(dir / "wide.csv", utf16);
    TTrundleCsv text;
    for (const std::string& line : Load(text, dir / "wide.csv").log)
      EXPECT_EQ(line.find("not a text file"), std::string::npos) << line;
  }
}

TEST(DelimitedReadTest, FailuresAreMessages) {
  ScratchFolder dir;
  TTrundleCsv empty_csv;
  WriteFile(dir / "empty.csv", "");
  Loaded empty = Load(empty_csv, dir / "empty.csv");
  EXPECT_FALSE(empty.ok);
  EXPECT_EQ(empty.log, (std::vector<std::string>{"Reading table", "File is empty",
                                                 dir / "empty.csv: the file has 0 bytes"}));
  WriteFile(dir / "eof.csv",
            "\x1A"
            "a,b\r\n");
  Loaded eof = Load(empty_csv, dir / "eof.csv");
  EXPECT_FALSE(eof.ok);
  EXPECT_EQ(eof.log.back(), dir /
                                "eof.csv: the file holds no line, only a byte-order mark or an "
                                "end-of-file mark (character 26)");

  Loaded blank_header = LoadCsv("\r\na,b\r\n");
  EXPECT_FALSE(blank_header.ok);
  EXPECT_EQ(blank_header.log.back(), "1 records read");

  const std::string max = std::to_string(kMaxRecordValues);
  const std::string over = std::to_string(kMaxRecordValues + 1);
  std::string wide;
  for (int i = 0; i <= kMaxRecordValues; ++i) wide += "v,";
  WriteFile(dir / "wide.csv", "h\r\n1\r\n2\r\n" + wide);
  TTrundleCsv wide_csv;
  Loaded too_wide = Load(wide_csv, dir / "wide.csv");
  EXPECT_FALSE(too_wide.ok);
  ASSERT_GE(too_wide.log.size(), 2u);
  EXPECT_EQ(too_wide.log[too_wide.log.size() - 2], "Range check error");
  EXPECT_EQ(too_wide.log.back(),
            dir / "wide.csv line 4: " + over + " values, and a text record holds at most " + max);
  // Empty values count too: N commas are N values (the last delimiter adds none).
  WriteFile(dir / "wide.csv", "h\r\n" + std::string(kMaxRecordValues + 1, ','));
  EXPECT_EQ(Load(wide_csv, dir / "wide.csv").log.back(),
            dir / "wide.csv line 2: " + over + " values, and a text record holds at most " + max);
  WriteFile(dir / "wide.csv", "h\r\n" + std::string(kMaxRecordValues, ','));
  EXPECT_TRUE(Load(wide_csv, dir / "wide.csv").ok);

  TTrundleCsv missing;
  Loaded none = Load(missing, "/nonexistent/t.csv");
  EXPECT_FALSE(none.ok);
  EXPECT_EQ(none.log, (std::vector<std::string>{"Reading table", "Table doesn't exist or is empty",
                                                "/nonexistent/t.csv: no such file"}));
  std::filesystem::create_directory(dir / "folder.csv");
  Loaded folder = Load(missing, dir / "folder.csv");
  EXPECT_FALSE(folder.ok);
  EXPECT_EQ(folder.log,
            (std::vector<std::string>{"Reading table", "Table doesn't exist or is empty",
                                      dir / "folder.csv is a folder, not a file"}));

  Loaded wider = LoadCsv("a\r\n1\r\n2,x\r\n3,y,z\r\n");
  EXPECT_TRUE(wider.ok);
  EXPECT_NE(wider.log[1].find(": 2 records have more values than the header has names (the "
                              "first at line 3); the values past the last name are not moved"),
            std::string::npos)
      << wider.log[1];

  Loaded unclosed = LoadCsv("h,i\r\n\"abc,d\r\nx,y\r\n");
  EXPECT_TRUE(unclosed.ok);
  ASSERT_EQ(unclosed.rows.size(), 1u);
  EXPECT_EQ(unclosed.rows[0][0].text(), "abc,d\r\nx,y\r\n");
  EXPECT_NE(unclosed.log[1].find("line 2: a quoted value has no closing quote"), std::string::npos);
}

TEST(DelimitedReadTest, RangeCheckErrorsSayWhereAndWhichLimit) {
  ScratchFolder dir;
  // A header of more names than a record holds, over records that hold fewer values:
  // refused at opening, as no record could be handed on whole; the header alone opens.
  constexpr int kOver = kMaxRecordValues + 1;
  const std::string max = std::to_string(kMaxRecordValues);
  const std::string over = std::to_string(kOver);
  std::string header;
  for (int i = 0; i < kOver; ++i) header += FieldName(i) + ",";
  const std::string refusal = (dir / "names.csv") + " line 1: the header names " + over +
                              " fields, and a text record holds at most " + max + " values";
  WriteFile(dir / "names.csv", header + "\r\n1\r\n");
  TTrundleCsv source;
  std::vector<std::string> log;
  source.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  source.TableName = dir / "names.csv";
  EXPECT_FALSE(source.OpenTable());
  EXPECT_EQ(log.back(), refusal);
  WriteFile(dir / "names.csv", header + "\r\n");
  ASSERT_TRUE(source.OpenTable());
  TRecordBuffer names(kOver), values(kOver);
  EXPECT_FALSE(source.ReadRecord(names, values));

  // Writing: a record that reaches the field past the last has no place; one that fills
  // every field has.
  TTrundleCsv dest;
  dest.TableName = dir / "out.csv";
  for (int i = 0; i < kOver; ++i) {
    dest.Table.FieldNames.push_back(FieldName(i));
    names[i].SetString(FieldName(i));
    values[i].SetInteger(i);
  }
  TRecordBuffer all_but_last = names;
  all_but_last[kOver - 1] = Variant();
  EXPECT_TRUE(dest.WriteRecord(all_but_last, values));
  try {
    dest.WriteRecord(names, values);
    FAIL() << "no error";
  } catch (const TrundleError& e) {
    EXPECT_EQ(std::string(e.what()), "Range check error\r\n" + (dir / "out.csv") +
                                         ", record 2: a value for field " + over + " of " + over +
                                         ", and a text record holds at most " + max + " values");
  }
}

// Garbage of the characters that steer the parser: every file either loads or fails
// with a message, and what loads keeps every byte (but the ones the format consumes).
TEST(DelimitedReadTest, GarbageNeverBreaksTheReader) {
  std::mt19937 rng(11);
  const std::string alphabet = std::string(
      "\"\"\",,\t\r\n\x1A\xEF\xBB\xBF\0"
      "ab",
      15);
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    const int len = static_cast<int>(rng() % 400);
    for (int i = 0; i < len; ++i)
      bytes += rng() % 8 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng());
    const Loaded l = LoadCsv(bytes);
    ASSERT_FALSE(l.log.empty());
    EXPECT_EQ(l.log[0], "Reading table");
    if (l.ok) {
      EXPECT_EQ(l.rows.size() + 1, static_cast<size_t>(l.record_count));
    }
  }
}

TEST(DelimitedReadTest, ReadsInChunksAcrossRecordBoundaries) {
  // Enough records that the reader refills its buffer many times mid-record.
  std::string bytes = "a,b\r\n";
  for (int i = 0; i < 200000; ++i)
    bytes += std::to_string(i) + ",\"x\"\"" + std::string(i % 50, 'y') + "\r\n\"\r\n";
  const Loaded l = LoadCsv(bytes);
  ASSERT_EQ(l.rows.size(), 200000u);
  EXPECT_EQ(l.rows[199999][1].text(), "x\"" + std::string(199999 % 50, 'y') + "\r\n");
}

// Random values with every character that matters to the format, through both kinds:
// what is written must read back identical.
TEST(DelimitedRoundTripTest, RandomValuesSurviveBothKinds) {
  std::mt19937 rng(7);
  const std::vector<std::string> pieces = {"\"", ",", "\t", "\r",   "\n",   "\r\n", "a",
                                           "Z",  " ", "é",  "Офис", "東京", "''",   "\"\""};
  std::vector<std::vector<Variant>> rows;
  for (int r = 0; r < 300; ++r) {
    std::vector<Variant> row;
    for (int f = 0; f < 4; ++f) {
      const int len = static_cast<int>(rng() % 6);
      if (len == 5) {
        row.push_back(Variant::Null());
        continue;
      }
      std::string s;
      for (int k = 0; k < len; ++k) s += pieces[rng() % pieces.size()];
      row.push_back(Variant::String(s));
    }
    rows.push_back(row);
  }
  for (bool tab : {false, true}) {
    ScratchFolder dir;
    const std::string path = dir / (tab ? "t.txt" : "t.csv");
    std::unique_ptr<TTrundleDelimited> out;
    if (tab)
      out = std::make_unique<TTrundleText>();
    else
      out = std::make_unique<TTrundleCsv>();
    out->TableName = path;
    out->Table.FieldNames = {"a", "b\"", "c,d", "e"};
    TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
    for (const auto& row : rows) {
      for (int f = 0; f < 4; ++f) {
        names[f].SetString(out->Table.FieldNames[f]);
        values[f] = row[f];
      }
      out->WriteRecord(names, values);
    }
    out->SaveTable();
    std::unique_ptr<TTrundleDelimited> in;
    if (tab)
      in = std::make_unique<TTrundleText>();
    else
      in = std::make_unique<TTrundleCsv>();
    const Loaded l = Load(*in, path);
    EXPECT_EQ(l.names, (std::vector<std::string>{"A", "B\"", "C,D", "E"}));
    ASSERT_EQ(l.rows.size(), rows.size());
    for (size_t r = 0; r < rows.size(); ++r)
      for (int f = 0; f < 4; ++f) {
        // The format has no Null: it reads back as empty text.
        const std::string want = rows[r][f].IsNull() ? "" : rows[r][f].text();
        ASSERT_EQ(l.rows[r][f].text(), want) << "row " << r << " field " << f;
      }
  }
}

TEST(DelimitedWriteTest, AppendsAfterExistingRecordsMatchingNamesInAnyCase) {
  ScratchFolder dir;
  WriteFile(dir / "old.csv", "\"NAME\",\"QTY\"\r\n\"a\",\"1\"\r\n\"b\",\"2\"\r\n");
  TTrundleCsv dest;
  Loaded before = Load(dest, dir / "old.csv");
  ASSERT_TRUE(before.ok);
  TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
  for (int i = 0; i < 3; ++i) {
    names[0].SetString("Name");
    values[0].SetString("new" + std::to_string(i));
    names[1].SetString("qty");
    values[1].SetInteger(i);
    names[2].SetString("Other");
    values[2].SetString("dropped");
    dest.WriteRecord(names, values);
  }
  std::vector<std::string> log;
  dest.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  dest.SaveTable();
  EXPECT_EQ(log, (std::vector<std::string>{
                     "Writing table", "5 records written",
                     "Field Other: 3 values were not written, the destination has no field "
                     "of that name"}));
  EXPECT_EQ(ReadFile(dir / "old.csv"),
            "\"NAME\",\"QTY\"\r\n\"a\",\"1\"\r\n\"b\",\"2\"\r\n\"new0\",\"0\"\r\n"
            "\"new1\",\"1\"\r\n\"new2\",\"2\"\r\n");
}

TEST(DelimitedWriteTest, ExactNameWinsOverOneInAnotherCase) {
  TTrundleCsv dest;
  dest.Table.FieldNames = {"id", "ID"};
  TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
  names[0].SetString("ID");
  values[0].SetString("upper");
  dest.WriteRecord(names, values);
  EXPECT_TRUE(dest.Table.GetValue(0, 1).IsNull());
  EXPECT_EQ(dest.Table.GetValue(1, 1).text(), "upper");
}

TEST(DelimitedWriteTest, AFailedSaveLeavesTheOldFileAlone) {
  ScratchFolder dir;
  const std::string old_text = "\"A\"\r\n\"kept\"\r\n";
  WriteFile(dir / "t.csv", old_text);
  TTrundleCsv dest;
  dest.TableName = dir / "t.csv";
  for (int i = 0; i <= kMaxRecordValues; ++i) dest.Table.FieldNames.push_back(FieldName(i));
  dest.Table.AddRecord();
  try {
    dest.SaveTable();
    FAIL() << "no error";
  } catch (const TrundleError& e) {
    EXPECT_STREQ(e.what(), "Range check error");
  }
  EXPECT_EQ(ReadFile(dir / "t.csv"), old_text);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);  // no temporary file left behind

  TTrundleCsv nowhere;
  nowhere.TableName = "/nonexistent-folder/t.csv";
  try {
    nowhere.SaveTable();
    FAIL() << "no error";
  } catch (const TrundleError& e) {
    EXPECT_STREQ(e.what(), "Could not create /nonexistent-folder/t.csv: No such file or directory");
  }
}

TEST(DelimitedWriteTest, CodePagesBothWays) {
  ScratchFolder dir;
  WriteFile(dir / "in.csv", "NAME\r\n\xCE\xF4\xE8\xF1\r\n");  // "Офис" in Windows-1251
  TTrundleCsv in;
  in.Encoding = "cp1251";
  const Loaded l = Load(in, dir / "in.csv");
  ASSERT_EQ(l.rows.size(), 1u);
  EXPECT_EQ(l.rows[0][0].text(), "Офис");

  TTrundleCsv out;
  out.TableName = dir / "out.csv";
  out.Encoding = "windows-1252";
  out.Table.FieldNames = {"N"};
  out.Table.AddTextRecord({"café Офис"});
  std::vector<std::string> log;
  out.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  out.SaveTable();
  EXPECT_EQ(ReadFile(dir / "out.csv"), "\"N\"\r\n\"caf\xE9 ????\"\r\n");
  EXPECT_EQ(log[1], "4 characters have no place in code page CP1252 and were written as ?");
}

// UTF-16 text, either byte order, is read as UTF-16 whatever code page is given: its
// byte 26 (half of U+011A) ends nothing, a quoted line break stays one value, and the log
// says how the file was read.
TEST(DelimitedReadTest, Utf16FilesAreReadByTheirByteOrderMark) {
  const std::string text = "name,note\r\n\xC4\x9A\xE6\x9D\xB1,\"a\r\nb\"\r\nx,\xF0\x9F\x98\x80\r\n";
  const auto utf16 = [](const std::string& utf8, bool big_endian) {
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    std::u16string wide;
    for (size_t i = 0; i < utf8.size();) {
      const auto c = static_cast<unsigned char>(utf8[i]);
      const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      char32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
      for (int k = 1; k < n; ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
      i += n;
      if (cp >= 0x10000) {
        wide += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        wide += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        wide += static_cast<char16_t>(cp);
      }
    }
    for (char16_t u : wide) {
      const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
      out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
  };
  for (bool big_endian : {false, true}) {
    for (const char* code_page : {"", "cp1252"}) {
      ScratchFolder dir;
      WriteFile(dir / "t.csv", utf16(text, big_endian));
      TTrundleCsv csv;
      csv.Encoding = code_page;
      const Loaded l = Load(csv, dir / "t.csv");
      ASSERT_TRUE(l.ok) << big_endian << code_page;
      EXPECT_EQ(l.names, (std::vector<std::string>{"NAME", "NOTE"}));
      ASSERT_EQ(l.rows.size(), 2u);
      EXPECT_EQ(Texts(l.rows[0]), (std::vector<std::string>{"\xC4\x9A\xE6\x9D\xB1", "a\r\nb"}));
      EXPECT_EQ(Texts(l.rows[1]), (std::vector<std::string>{"x", "\xF0\x9F\x98\x80"}));
      EXPECT_EQ(l.log[1], dir / "t.csv" + " is UTF-16 text (" + (big_endian ? "big" : "little") +
                              "-endian, as its byte order mark says) and is read as such");
    }
  }
}

// A file in a code page is converted a chunk at a time (the reader reads 4 MB at a time):
// a character cut by a chunk's end reads back whole. With the first padding the cut falls
// inside a two-byte Shift-JIS character, with the second inside a UTF-16 surrogate pair.
TEST(DelimitedReadTest, CodePageTextAcrossChunksReadsWhole) {
  std::string sjis, utf8;
  for (int i = 0; i < 300; ++i) sjis += "\x93\xFA", utf8 += "\xE6\x97\xA5";  // 日
  const std::string crlf16("\r\0\n\0", 4);
  struct Case {
    const char* code_page;
    std::string header, line, value;  // header and line in the file's code page
  };
  const Case cases[] = {
      {"cp932", "N\r\n", sjis + "\r\n", utf8},
      {"cp932", "NN\r\n", sjis + "\r\n", utf8},
      {"", std::string("\xFF\xFEN\0", 4) + crlf16, std::string("\x3D\xD8\x00\xDE\x2C\x67", 6) + crlf16,
       "\xF0\x9F\x98\x80\xE6\x9C\xAC"},  // 😀本
      {"", std::string("\xFF\xFEN\0N\0N\0", 8) + crlf16,
       std::string("\x3D\xD8\x00\xDE\x2C\x67", 6) + crlf16, "\xF0\x9F\x98\x80\xE6\x9C\xAC"}};
  for (const Case& c : cases) {
    std::string bytes = c.header;
    while (bytes.size() < (9u << 20)) bytes += c.line;
    ScratchFolder dir;
    WriteFile(dir / "t.csv", bytes);
    TTrundleCsv csv;
    csv.Encoding = c.code_page;
    const Loaded l = Load(csv, dir / "t.csv");
    ASSERT_TRUE(l.ok) << c.header.size();
    ASSERT_EQ(l.rows.size(), (bytes.size() - c.header.size()) / c.line.size()) << c.header.size();
    size_t wrong = 0;
    for (const auto& row : l.rows) wrong += row[0].text() != c.value;
    EXPECT_EQ(wrong, 0u) << c.header.size();
    for (const std::string& m : l.log) EXPECT_EQ(m.find("read as ?"), std::string::npos) << m;
  }
}

// A text source is counted when opened and read again record by record: a file written
// to (or replaced) between the two passes stops the read with a message, rather than
// moving other records than were counted; read twice untouched, it gives the same records.
TEST(DelimitedReadTest, AStreamedSourceThatChangesIsNotReadAsIfItHadNot) {
  ScratchFolder dir;
  std::string csv = "k,v\r\n";
  for (int i = 0; i < 3000; ++i)
    csv += std::to_string(i) + ",\"x\r\n" + std::to_string(i) + "\"\r\n";
  const auto changes = [&](const std::function<void()>& change) {
    WriteFile(dir / "t.csv", csv);
    TTrundleCsv source;
    source.TableName = dir / "t.csv";
    EXPECT_TRUE(source.OpenTable());
    TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
    int read = 0;
    try {
      for (; source.ReadRecord(names, values); ++read) {
        EXPECT_EQ(values[1].text(), "x\r\n" + std::to_string(read));
        if (read == 1000) change();
      }
    } catch (const TrundleError& e) {
      return std::string(e.what());
    }
    return "read " + std::to_string(read);
  };
  EXPECT_EQ(changes([] {}), "read 3000");
  const std::string changed = dir / "t.csv" + " changed while it was read";
  EXPECT_EQ(changes([&] {
              std::ofstream(dir / "t.csv", std::ios::app) << "9999,late\r\n";
            }).substr(0, changed.size()),
            changed);
  EXPECT_EQ(changes([&] {
              WriteFile(dir / "other", "k,v\r\n1,2\r\n");
              std::filesystem::rename(dir / "other", dir / "t.csv");
            }).substr(0, changed.size()),
            changed);
  EXPECT_EQ(changes([&] {
              std::filesystem::resize_file(dir / "t.csv", csv.size() / 2);
            }).substr(0, changed.size()),
            changed);
}

class CapturingClipboard : public SystemClipboard {
 public:
  void SetText(const std::string& t) override { text = t; }
  std::string text;
};

TEST(ClipboardTest, TabTextGoesToTheClipboardAndNoFileIsWritten) {
  ScratchFolder dir;
  auto clipboard = std::make_shared<CapturingClipboard>();
  SetSystemClipboard(clipboard);
  TTrundleText text;
  text.TableName = dir / "never.txt";
  text.Clipboard = true;
  text.Table.FieldNames = {"A", "B"};
  text.Table.AddTextRecord({"1", "x\ty"});
  text.SaveTable();
  EXPECT_EQ(clipboard->text, "\"A\"\t\"B\"\r\n\"1\"\t\"x\ty\"\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "never.txt"));

  TTrundleCsv csv;  // a comma-delimited destination ignores the flag
  csv.TableName = dir / "c.csv";
  csv.Clipboard = true;
  csv.SaveTable();
  EXPECT_TRUE(std::filesystem::exists(dir / "c.csv"));

  SetSystemClipboard(nullptr);
  try {
    text.SaveTable();
    FAIL() << "no error";
  } catch (const TrundleError& e) {
    EXPECT_STREQ(e.what(), "Can't put the table on the clipboard: no clipboard is available");
  }
}

// Every pass over a whole table ticks: reading a source, measuring its widths, counting
// an existing destination, copying its records into the new file, writing a page from
// memory. Reading and counting end when the tick asks to stop, without a message of their
// own (the job reports the stop) and without touching the file.
TEST(LongPhaseTest, PassesOverWholeTablesTickAndReadingStopsWhenAsked) {
  constexpr int kStrides = 10;
  ScratchFolder dir;
  std::string csv = "ID,NAME\r\n";
  for (int i = 0; i < kStrides * kTickStride; ++i)
    csv += std::to_string(i) + ",n" + std::to_string(i) + "\r\n";
  WriteFile(dir / "in.csv", csv);
  WriteFile(dir / "old.csv", csv);
  int ticks = 0;
  bool stop = false;
  const TTrundleTickEvent tick = [&ticks, &stop] {
    ++ticks;
    return stop;
  };

  TTrundleCsv source;
  source.OnTick = tick;
  ASSERT_TRUE(Load(source, dir / "in.csv").ok);
  EXPECT_GE(ticks, kStrides) << "reading";
  ticks = 0;
  source.SourceFieldDefs(Utf8Bytes);
  EXPECT_GE(ticks, kStrides) << "measuring";

  TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
  TTrundleHtml page;
  page.TableName = dir / "out.html";
  page.OnTick = tick;
  ASSERT_TRUE(page.CreateTable(source));
  // A page of records held in its table is written whole by SaveTable (records that
  // arrive by WriteRecord are written as they come).
  source.CurrentRecord = 0;
  while (source.ReadRecord(names, values)) page.Table.AddRecordFrom({&values[0], &values[1]});
  ticks = 0;
  page.SaveTable();
  EXPECT_GE(ticks, kStrides) << "writing the page";

  {
    TTrundleCsv destination;  // holds old.csv until it goes
    destination.PrepareDestination();
    destination.TableName = dir / "old.csv";
    destination.OnTick = tick;
    ticks = 0;
    ASSERT_TRUE(destination.OpenTable());
    EXPECT_GE(ticks, kStrides) << "counting";
    ticks = 0;
    destination.WriteRecord(names, values);
    EXPECT_GE(ticks, kStrides) << "copying the old records";
  }

  stop = true;
  TTrundleCsv stopped;
  stopped.OnTick = tick;
  const Loaded cut = Load(stopped, dir / "in.csv");
  EXPECT_FALSE(cut.ok);
  EXPECT_EQ(cut.log, std::vector<std::string>{"Reading table"});
  TTrundleCsv stopped_destination;
  stopped_destination.PrepareDestination();
  stopped_destination.TableName = dir / "old.csv";
  stopped_destination.OnTick = tick;
  std::vector<std::string> log;
  stopped_destination.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  EXPECT_FALSE(stopped_destination.OpenTable());
  EXPECT_EQ(log, std::vector<std::string>{"Reading table"});
  EXPECT_EQ(ReadFile(dir / "old.csv"), csv);
}

TEST(HtmlTest, PageTemplateEscapingAndBanner) {
  ScratchFolder dir;
  TTrundleHtml html;
  std::vector<std::string> log;
  html.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  EXPECT_FALSE(html.OpenTable());
  EXPECT_EQ(log, (std::vector<std::string>{"Can't read from HTML"}));
  html.TableName = dir / "p.html";
  html.HtmlTitle = "Q&A <1>";
  WriteFile(dir / "banner.html", "<B>Hello</B>");
  html.HtmlBanner = dir / "banner.html";
  html.Table.FieldNames = {"N<", "N<"};
  html.Table.AddRecord();
  html.Table.SetValueAt(0, 1, Variant::String("<script>"));
  html.Table.SetValueAt(1, 1, Variant::String(""));
  html.Table.AddRecord();
  html.SaveTable();
  const std::string page = ReadFile(dir / "p.html");
  EXPECT_EQ(page.substr(0, 58), "<HTML><HEAD><meta charset=\"utf-8\"><TITLE>Q&amp;A &lt;1&gt;");
  EXPECT_NE(page.find("<BODY><P><B>Hello</B></P><P CLASS=\"heading\" ALIGN=\"CENTER\">Q&amp;A "
                      "&lt;1&gt;</P>"),
            std::string::npos);
  EXPECT_NE(page.find("<TD ALIGN=\"LEFT\" CLASS=\"cellheader\">N&lt;</TD>"), std::string::npos);
  EXPECT_NE(page.find("<TR><TD CLASS=\"celltext\">&lt;script&gt;</TD><TD "
                      "CLASS=\"celltext\"></TD></TR><TR><TD CLASS=\"celltext\">&nbsp;</TD><TD "
                      "CLASS=\"celltext\">&nbsp;</TD></TR><TR><TD CLASS=\"celltext\">Entries: "
                      "2</TD></TR></TABLE><P><FONT SIZE=\"-1\"><I>Created: "),
            std::string::npos);
  EXPECT_EQ(page.substr(page.size() - 29), "</I></FONT></P></BODY></HTML>");
  EXPECT_EQ(log.back(), "2 records written");

  // A banner name that is nowhere: no banner paragraph, and the log says so.
  html.HtmlBanner = "no-such-banner.html";
  html.HtmlTitle = "";
  html.SaveTable();
  const std::string plain = ReadFile(dir / "p.html");
  EXPECT_NE(plain.find("<BODY><P CLASS=\"heading\" ALIGN=\"CENTER\"></P>"), std::string::npos);
  EXPECT_EQ(log[log.size() - 2],
            "No banner: no-such-banner.html was not found (nor in " + ProgramFolder() + ")");
}

// The page without its creation date, which a test cannot know.
std::string Undated(const std::string& page) { return page.substr(0, page.find("Created: ")); }

// Records written one by one make the page the same records held in a table make; the
// page's file takes them only at SaveTable, so a run stopped before leaves it alone.
TEST(HtmlTest, RecordsArrivingMakeThePageOfTheHeldTableAndOnlySaveTableShowsIt) {
  ScratchFolder dir;
  WriteFile(dir / "p.html", "old page");
  const std::vector<std::vector<Variant>> rows = {
      {Variant::Integer(7), Variant::String("<b>&\"x\""), Variant::DateTime(45000.5),
       Variant::String("dropped")},
      {Variant::Null(), Variant::String(""), Variant::Float(2.5), Variant::String("dropped")},
      {Variant::Currency(12345), Variant(), Variant::Boolean(true), Variant::String("dropped")}};
  const std::vector<std::string> fields = {"ID", "NAME", "WHEN"};
  TTableObject held;
  held.FieldNames = fields;
  for (const auto& row : rows) held.AddRecordFrom({&row[0], &row[1], &row[2]});
  const std::string expected = Undated(held.SaveToHtml("T", ""));

  for (bool stopped : {true, false}) {
    SCOPED_TRACE(stopped ? "stopped" : "saved");
    TTrundleHtml html;
    std::vector<std::string> log;
    html.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    html.TableName = dir / "p.html";
    html.HtmlTitle = "T";
    html.HtmlBanner = "no-such-banner.html";
    EXPECT_FALSE(html.OpenTable());
    html.Table.FieldNames = fields;
    TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
    for (const auto& row : rows) {
      for (size_t i = 0; i < row.size(); ++i) {
        names[i].SetString(i < 3 ? fields[i] : "Other");
        values[i] = row[i];
      }
      EXPECT_TRUE(html.WriteRecord(names, values));
    }
    EXPECT_TRUE(html.Table.DataRecordCount() == 0) << "records are not held";
    EXPECT_EQ(ReadFile(dir / "p.html"), "old page");
    if (stopped) {
      EXPECT_EQ(html.WhatAStopLeaves(3),
                "The destination " + (dir / "p.html") +
                    " is left as it was: it holds none of the records moved");
      continue;
    }
    html.SaveTable();
    EXPECT_EQ(Undated(ReadFile(dir / "p.html")), expected);
    EXPECT_EQ(log,
              (std::vector<std::string>{
                  "Can't read from HTML", "Writing table",
                  "No banner: no-such-banner.html was not found (nor in " + ProgramFolder() + ")",
                  "3 records written",
                  "Field Other: 3 values were not written, the destination has no field "
                  "of that name"}));
  }
  // Neither run left a temporary file behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(HtmlTest, ABannerThatCannotBeReadStopsTheSave) {
  ScratchFolder dir;
  TTrundleHtml html;
  html.TableName = dir / "p.html";
  html.Table.FieldNames = {"A"};
  // A folder is there but cannot be read as a banner (permissions would not stop root).
  std::filesystem::create_directory(dir / "banner.html");
  html.HtmlBanner = dir / "banner.html";
  try {
    html.SaveTable();
    FAIL() << "no error";
  } catch (const TrundleError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Could not read the banner file " + (dir / "banner.html") + ": Is a directory");
  }
  // No page, and no temporary file beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(HtmlTest, BannerFoundBesideTheProgram) {
  const std::string name = "trundle-test-banner.html";
  const std::string beside = ProgramFolder() + name;
  WriteFile(beside, "<I>ours</I>");
  ScratchFolder dir;
  TTrundleHtml html;
  html.TableName = dir / "p.html";
  html.HtmlBanner = name;
  // From another folder, so that the name alone does not already find the file.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  html.SaveTable();
  std::filesystem::current_path(cwd);
  std::filesystem::remove(beside);
  EXPECT_EQ(html.HtmlBanner, beside);
  EXPECT_NE(ReadFile(dir / "p.html").find("<P><I>ours</I></P>"), std::string::npos);
}

}  // namespace
}  // namespace trundle
