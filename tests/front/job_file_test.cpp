// Saved transfers: a description written as a job file and read back, and the files
// that are refused, each with the file and the key or line at fault.
#include "front/job_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/json_reader.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

void ExpectSameEnd(const EndDescription& a, const EndDescription& b) {
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.file, b.file);
  EXPECT_EQ(a.database, b.database);
  EXPECT_EQ(a.user, b.user);
  EXPECT_EQ(a.password_env, b.password_env);
  EXPECT_EQ(a.dao_version, b.dao_version);
  EXPECT_EQ(a.table, b.table);
  EXPECT_EQ(a.sql, b.sql);
  EXPECT_EQ(a.encoding, b.encoding);
  EXPECT_EQ(a.create_database, b.create_database);
  EXPECT_EQ(a.create_table, b.create_table);
}

// Every field away from its default, with text that needs escaping.
JobDescription EveryFieldSet() {
  JobDescription d;
  d.source = {dkAccess, "", "/data/Sales \"97\".mdb", "", "secret", "dao35", "Orders",
              "select * from [Orders]\n\twhere Id > 3", "cp1252", true, true, "SALES_PW"};
  d.destination = {dkOracle, "ignored.txt", "Driver=X;Server=h", "scott", "tiger", "",
                   "Orders_Copy", "", "latin1", false, true, "SERVER_PW"};
  d.if_exists = IfExists::kFail;
  d.on_error = TOnError::kSkip;
  d.reject_file = "/tmp/r\xC3\xA9jects.csv";
  d.max_rejects = 17;
  d.batch_size = 250;
  d.html_title = "Title \\ with a backslash";
  d.html_banner = "banner.html";
  d.clipboard = true;
  d.field_map = {{"Name", "Full \"name\""}, {"Secret", ""}};
  return d;
}

TEST(JobFileTest, EveryFieldComesBackAsWritten) {
  const JobDescription written = EveryFieldSet();
  const std::string text = JobFileText(written);
  const JobDescription read = JobFromText(text, "job.json");
  ExpectSameEnd(read.source, written.source);
  ExpectSameEnd(read.destination, written.destination);
  EXPECT_EQ(read.if_exists, written.if_exists);
  EXPECT_EQ(read.on_error, written.on_error);
  EXPECT_EQ(read.reject_file, written.reject_file);
  EXPECT_EQ(read.max_rejects, written.max_rejects);
  EXPECT_EQ(read.batch_size, written.batch_size);
  EXPECT_EQ(read.html_title, written.html_title);
  EXPECT_EQ(read.html_banner, written.html_banner);
  EXPECT_EQ(read.clipboard, written.clipboard);
  ASSERT_EQ(read.field_map.size(), 2u);
  EXPECT_EQ(read.field_map[0].source, "Name");
  EXPECT_EQ(read.field_map[0].destination, "Full \"name\"");
  EXPECT_EQ(read.field_map[1].source, "Secret");
  EXPECT_EQ(read.field_map[1].destination, "");  // left out
  // The passwords stay out of the file and out of what is read back.
  EXPECT_EQ(text.find("secret"), std::string::npos);
  EXPECT_EQ(text.find("tiger"), std::string::npos);
  EXPECT_EQ(read.source.password, "");
  // Written, it is the same file again: nothing is lost or added on a second round.
  EXPECT_EQ(JobFileText(read), text);
}

TEST(JobFileTest, SavedFileLoadsAndLeftOutKeysTakeTheDefaults) {
  ScratchFolder folder;
  const JobDescription written = EveryFieldSet();
  SaveJobFile(written, folder / "t.json");
  ExpectSameEnd(LoadJobFile(folder / "t.json").destination, written.destination);

  const JobDescription d = JobFromText(
      R"({"trundle_job": 1, "source": {"kind": "CSV", "file": "a.csv"},
          "destination": {"kind": "odbc"}})",
      "short.json");
  EXPECT_EQ(d.source.kind, dkCsv);  // names and aliases as the command line takes them
  EXPECT_EQ(d.destination.kind, dkOracle);
  const JobDescription defaults;
  EXPECT_EQ(d.batch_size, defaults.batch_size);
  EXPECT_EQ(d.max_rejects, defaults.max_rejects);
  EXPECT_EQ(d.if_exists, defaults.if_exists);
}

TEST(JobFileTest, PasswordsComeFromTheVariablesNamed) {
  JobDescription d;
  d.source.password_env = "TRUNDLE_JOB_TEST_PW";
  setenv("TRUNDLE_JOB_TEST_PW", "s3cret", 1);
  EXPECT_EQ(PasswordsFromEnvironment(d), "");
  EXPECT_EQ(d.source.password, "s3cret");
  unsetenv("TRUNDLE_JOB_TEST_PW");
  EXPECT_EQ(PasswordsFromEnvironment(d),
            "the environment variable TRUNDLE_JOB_TEST_PW is not set");
}

// The message JobFromText gives for `text`, or "" when it reads the file.
std::string Refusal(const std::string& text) {
  try {
    JobFromText(text, "/jobs/t.json");
  } catch (const TrundleError& e) {
    return e.what();
  }
  return "";
}

TEST(JobFileTest, RefusedFilesNameTheFileAndTheFault) {
  EXPECT_EQ(Refusal(R"({"trundle_job": 1, "source": {"kind": "csv",
                       "password": "pw"}})"),
            "/jobs/t.json, line 2: \"source.password\": a job file never holds a password; put "
            "it in an environment variable and name the variable with \"password_env\".");
  EXPECT_EQ(Refusal(R"({"trundle_job": 2})"),
            "/jobs/t.json, line 1: the job file is of version 2, made by a later Trundle; this "
            "one reads version 1.");
  EXPECT_EQ(Refusal(R"({"source": {"kind": "csv"}})"),
            "/jobs/t.json is no Trundle job file: it has no \"trundle_job\" key.");
  EXPECT_EQ(Refusal("[1]"), "/jobs/t.json is no Trundle job file: it holds an array, not an object.");
  EXPECT_EQ(Refusal("{\"trundle_job\": 1,\n\"if_exist\": \"fail\"}"),
            "/jobs/t.json, line 2: unknown key \"if_exist\".");
  EXPECT_EQ(Refusal("{\"trundle_job\": 1,\n\"destination\": {\"tabel\": \"t\"}}"),
            "/jobs/t.json, line 2: unknown key \"destination.tabel\".");
  EXPECT_EQ(Refusal(R"({"trundle_job": 1, "clipboard": "yes"})"),
            "/jobs/t.json, line 1: \"clipboard\" must be true or false, not a string.");
  EXPECT_EQ(Refusal(R"({"trundle_job": 1, "batch_size": 0})"),
            "/jobs/t.json, line 1: \"batch_size\" must be a whole number from 1 to 1000000.");
  EXPECT_EQ(Refusal(R"({"trundle_job": "1"})"),
            "/jobs/t.json, line 1: \"trundle_job\" must be a number, not a string.");
  EXPECT_EQ(Refusal(R"({"trundle_job": 1, "on_error": "ignore"})"),
            "/jobs/t.json, line 1: unknown \"on_error\" \"ignore\" (stop or skip).");
  EXPECT_NE(Refusal(R"({"trundle_job": 1, "source": {"kind": "excel"}})")
                .find("/jobs/t.json, line 1: unknown kind \"excel\" in \"source.kind\" (csv, "),
            std::string::npos);
  EXPECT_EQ(Refusal("{\"trundle_job\": 1,\n\"source\": {\"kind\": \"csv\",}}"),
            "/jobs/t.json, line 2: a key in double quotes was expected (the job file is not "
            "valid JSON).");
}

TEST(JobFileTest, FieldMapsOfTheWrongShapeAreRefused) {
  // A file written before maps were saved has none.
  EXPECT_TRUE(JobFromText(R"({"trundle_job": 1, "source": {"kind": "csv"}})", "old.json")
                  .field_map.empty());
  EXPECT_EQ(Refusal(R"({"trundle_job": 1, "field_map": {"a": "b"}})"),
            "/jobs/t.json, line 1: \"field_map\" must be an array, not an object.");
  EXPECT_EQ(Refusal("{\"trundle_job\": 1, \"field_map\": [\n\"a=b\"]}"),
            "/jobs/t.json, line 2: \"field_map[0]\" must be an object, not a string.");
  EXPECT_EQ(Refusal("{\"trundle_job\": 1, \"field_map\": [{\"source\": \"a\", \"destination\": "
                    "\"b\"},\n{\"source\": \"c\", \"dest\": \"d\"}]}"),
            "/jobs/t.json, line 2: unknown key \"field_map[1].dest\".");
  EXPECT_EQ(Refusal(R"({"trundle_job": 1, "field_map": [{"source": "a", "destination": 3}]})"),
            "/jobs/t.json, line 1: \"field_map[0].destination\" must be a string, not a number.");
  EXPECT_EQ(Refusal(R"({"trundle_job": 1, "field_map": [{"destination": "b"}]})"),
            "/jobs/t.json, line 1: \"field_map[0].source\" must name a source field.");
  for (const char* item : {R"({"source": "a"})", R"({"source": "a", "destination": "b", "leave_out": true})",
                           R"({"source": "a", "leave_out": false})"})
    EXPECT_EQ(Refusal(std::string(R"({"trundle_job": 1, "field_map": [)") + item + "]}"),
              "/jobs/t.json, line 1: \"field_map[0]\" needs either a \"destination\" name or "
              "\"leave_out\": true.")
        << item;
  EXPECT_EQ(Refusal(R"({"trundle_job": 1, "field_map": [{"source": "Name", "leave_out": true},
                       {"source": "NAME", "destination": "n"}]})"),
            "/jobs/t.json, line 2: \"field_map\" names the field NAME twice.");
}

TEST(JobFileTest, ConnectionsThatHoldAPasswordAreRefused) {
  EXPECT_NE(Refusal(R"({"trundle_job": 1, "source": {"kind": "pg",
                       "database": "postgresql://u:pw@localhost/db"}})")
                .find("holds a password"),
            std::string::npos);
  EXPECT_EQ(Refusal(R"({"trundle_job": 1, "source": {"kind": "pg",
                       "database": "postgresql://u@localhost/db"}})"),
            "");
}

TEST(JobFileTest, UnreadableFilesAreNamed) {
  ScratchFolder folder;
  const auto load_message = [](const std::string& path) -> std::string {
    try {
      LoadJobFile(path);
    } catch (const TrundleError& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(load_message(folder / "none.json"),
            "Cannot read the job file " + (folder / "none.json") + ": No such file or directory.");
  EXPECT_EQ(load_message(folder.path()),
            "Cannot read the job file " + folder.path() + ": it is a folder.");
  WriteFile(folder / "empty.json", "");
  EXPECT_EQ(load_message(folder / "empty.json"),
            folder / "empty.json" +
                ", line 1: the text ends where a value was expected (the job file is not valid "
                "JSON).");
}

// The reader beneath: what JSON allows arrives intact, what it does not is refused.
TEST(JsonReaderTest, StringsNumbersAndNesting) {
  const JsonValue v = ReadJson(
      "\xEF\xBB\xBF{\"s\": \"a\\\"b\\\\c\\/\\n\\u00e9\\ud83d\\ude00\", \"n\": -12, \"f\": 2.5e1,"
      " \"big\": 99999999999999999999, \"a\": [true, null, {}]}",
      "x");
  EXPECT_EQ(v.Find("s")->text, "a\"b\\c/\n\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_TRUE(v.Find("n")->integral);
  EXPECT_EQ(v.Find("n")->integer, -12);
  EXPECT_FALSE(v.Find("f")->integral);
  EXPECT_EQ(v.Find("f")->number, 25.0);
  EXPECT_FALSE(v.Find("big")->integral);  // beyond int64: no whole number to give
  ASSERT_EQ(v.Find("a")->items.size(), 3u);
  EXPECT_EQ(v.Find("a")->items[2].type, JsonValue::Type::kObject);
}

TEST(JsonReaderTest, RefusesWhatIsNotJson) {
  const auto message = [](const std::string& text) -> std::string {
    try {
      ReadJson(text, "f");
    } catch (const JsonError& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(message("{\"a\": 1, \"a\": 2}"), "f, line 1: the key \"a\" is given twice");
  EXPECT_EQ(message("{\"a\": 01}"), "f, line 1: a number is not written as JSON writes one");
  EXPECT_EQ(message("{\"a\": \"x\ny\"}"),
            "f, line 1: a string holds a control character; write it as an escape (\\n, \\t)");
  EXPECT_EQ(message("{\"a\": \"\\ud83d\"}"), "f, line 1: a \\u escape is half a character");
  EXPECT_EQ(message("{\"a\": \"\\x\"}"), "f, line 1: unknown escape \\x in a string");
  EXPECT_EQ(message("{} {}"), "f, line 1: there is more after the end of the JSON value");
  EXPECT_EQ(message("{\n\"a\": tru}"),
            "f, line 2: a value was expected (a string in double quotes, a number, true, "
            "false, null, an object or an array)");
  EXPECT_EQ(message("[1,]"),
            "f, line 1: a value was expected (a string in double quotes, a number, true, "
            "false, null, an object or an array)");
  EXPECT_EQ(message(std::string(100, '[')), "f, line 1: the JSON is nested too deeply");
  EXPECT_EQ(message("\"open"), "f, line 1: a string is not closed by a double quote");
}

}  // namespace
}  // namespace trundle
