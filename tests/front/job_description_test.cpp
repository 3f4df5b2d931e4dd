// The job a description builds, and the texts the pages propose.
#include "front/job_description.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/adaptor_registry.h"
#include "front/register_adaptors.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

TEST(JobDescriptionTest, EachEndFillsTheFieldsItsKindReads) {
  RegisterAllAdaptors();
  JobDescription d;
  d.source = {dkDBase, "/data/t.dbf", "db", "u", "pw", "dao36", "ignored", "select 1", "cp1251"};
  d.destination = {dkHtml, "/out/t.html", "", "", "", "", "ignored too", "", ""};
  d.html_title = "Title";
  d.html_banner = "b.html";
  d.clipboard = true;
  TTrundle job;
  BuildJob(d, job);
  // The kind was set before the fields: a later kind change would have emptied them.
  EXPECT_EQ(job.Source().GetKind(), dkDBase);
  EXPECT_EQ(job.Destination().GetKind(), dkHtml);
  EXPECT_EQ(job.Source().TableName, "/data/t.dbf");
  EXPECT_EQ(job.Source().Database, "db");
  EXPECT_EQ(job.Source().UserName, "u");
  EXPECT_EQ(job.Source().Password, "pw");
  EXPECT_EQ(job.Source().DaoVersion, "dao36");
  EXPECT_EQ(job.Source().Sql, "select 1");
  EXPECT_EQ(job.Source().Encoding, "cp1251");
  EXPECT_EQ(job.Source().HtmlTitle, "");
  EXPECT_EQ(job.Destination().TableName, "/out/t.html");
  EXPECT_EQ(job.Destination().HtmlTitle, "Title");
  EXPECT_EQ(job.Destination().HtmlBanner, "b.html");
  EXPECT_TRUE(job.Destination().Clipboard);

  // A database end names its table, not a file; texts pass unchanged, spaces and all.
  d.source = {dkAccess, "not a table", "/m/a.mdb", "", " pw ", "dao35", " Orders ", "", ""};
  BuildJob(d, job);
  EXPECT_EQ(job.Source().TableName, " Orders ");
  EXPECT_EQ(job.Source().Database, "/m/a.mdb");
  EXPECT_EQ(job.Source().Password, " pw ");

  // A text tab with no file type chosen still names its file, in the fields and the log.
  d.source = {dkUnknown, "/in/a.csv", "", "", "", "", "", "", ""};
  d.destination = {dkCsv, "/out/b.csv", "", "", "", "", "", "", ""};
  BuildJob(d, job);
  EXPECT_EQ(job.Source().TableName, "/in/a.csv");
  std::vector<std::string> log;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  job.Execute();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[1], "Moving data from /in/a.csv to /out/b.csv\r\n");
  EXPECT_EQ(log[2], "Source or destination not set");
}

TEST(JobDescriptionTest, WholeTableStatements) {
  struct Case {
    TDataKind kind;
    const char* table;
    const char* sql;
  } cases[] = {
      {dkDBase, "/d/t.dbf", "select * from \"/d/t.dbf\""},
      {dkParadox, "say \"hi\".db", "select * from \"say \"\"hi\"\".db\""},
      {dkAccess, "Order Lines", "select * from [Order Lines]"},
      {dkAccess, "odd]name", "select * from \"odd]name\""},
      {dkOracle, "SCOTT.EMP", "select * from SCOTT.EMP"},
      {dkOracle, "Order Lines", "select * from \"Order Lines\""},
      {dkOracle, "t; drop table \"v\"", "select * from \"t; drop table \"\"v\"\"\""},
      {dkSqlite, "Order Lines", "select * from \"Order Lines\""},
      {dkSqlite, "say \"hi\"", "select * from \"say \"\"hi\"\"\""},
      {dkAccess, "", ""},
      {dkSqlite, "", ""},
      {dkCsv, "a.csv", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(WholeTableSql(c.kind, c.table), c.sql) << c.table;
}

TEST(JobDescriptionTest, ATableFileIsProposedOnlyOnceItExists) {
  ScratchFolder dir;
  WriteFile(dir / "t.dbf", "x");
  EXPECT_EQ(ProposedSql(dkDBase, dir / "t.dbf"), "select * from \"" + (dir / "t.dbf") + "\"");
  EXPECT_EQ(ProposedSql(dkDBase, dir / "t.db"), "");     // a prefix of nothing
  EXPECT_EQ(ProposedSql(dkParadox, dir / "none.db"), "");
  EXPECT_EQ(ProposedSql(dkDBase, dir.path()), "");       // a folder is no table
  EXPECT_EQ(ProposedSql(dkDBase, ""), "");
  // A database table needs no file.
  EXPECT_EQ(ProposedSql(dkOracle, "EMP"), "select * from EMP");
  EXPECT_EQ(ProposedSql(dkSqlite, "orders"), "select * from \"orders\"");
}

TEST(JobDescriptionTest, HtmlTitleIsTheFileNameCutAtItsFirstDot) {
  struct Case {
    const char* path;
    const char* title;
  } cases[] = {
      {"/out/sales.2004.html", "sales"}, {"report", "report"},
      {"report.final.htm", "report"},    {"/a.b/c.d/page.html", "page"},
      {"/out/", ""},                     {".hidden.html", ""},
      {"C:\\out\\x.html", "C:\\out\\x"},  // a backslash is part of a Linux file name
  };
  for (const Case& c : cases) EXPECT_EQ(HtmlTitleForFile(c.path), c.title) << c.path;
}

TEST(JobDescriptionTest, KindsWithoutAnAdaptorAreNamed) {
  RegisterAllAdaptors();
  JobDescription d;
  d.source.kind = dkCsv;
  d.destination.kind = dkDBase;
  EXPECT_EQ(MissingKindMessage(d), "");
  d.destination.kind = dkUnknown;  // reported by the run itself
  EXPECT_EQ(MissingKindMessage(d), "");
  for (TDataKind kind : {dkAccess, dkOracle}) {
    if (IsAdaptorRegistered(kind)) continue;
    d.source.kind = kind;
    EXPECT_EQ(MissingKindMessage(d),
              std::string(KindTitle(kind)) + " sources are not available in this version of Trundle");
  }
}

// One Access database may be both ends, for two tables; one table may not.
TEST(JobDescriptionTest, AnAccessTableIsNotItsOwnDestination) {
  ScratchFolder dir;
  WriteFile(dir / "shop.mdb", "stand-in: only its device and inode are compared");
  std::filesystem::create_symlink(dir / "shop.mdb", dir / "link.mdb");
  JobDescription d;
  d.source = {dkAccess, "", dir / "shop.mdb", "", "", "", "Orders", "", ""};
  d.destination = {dkAccess, "", dir / "link.mdb", "", "", "", "ORDERS", "", ""};
  EXPECT_NE(SameAsSourceMessage(d).find("is the source table"), std::string::npos);
  d.destination.table = "Orders 2";
  EXPECT_EQ(SameAsSourceMessage(d), "");
  // A destination file that does not exist yet is no file of the source's.
  d.source = {dkCsv, dir / "in.csv", "", "", "", "", "", "", ""};
  d.destination = {dkCsv, dir / "in.csv", "", "", "", "", "", "", ""};
  EXPECT_EQ(SameAsSourceMessage(d), "");
}

// The window's reject file lies beside the destination's file, or in the folder given
// for a server or the clipboard, and never is a file of either end.
TEST(JobDescriptionTest, TheWindowsRejectFileLiesBesideTheDestination) {
  ScratchFolder dir;
  JobDescription d;
  d.source = {dkCsv, dir / "in.csv", "", "", "", "", "", "", ""};
  d.destination = {dkDBase, dir / "out.dbf", "", "", "", "", "", "", ""};
  EXPECT_EQ(RejectFileBesideDestination(d, "/elsewhere"), dir / "out.dbf.rejects.csv");
  d.destination = {dkSqlite, "", dir / "shop.sqlite", "", "", "", "orders", "", ""};
  EXPECT_EQ(RejectFileBesideDestination(d, "/elsewhere"), dir / "orders.rejects.csv");
  d.destination = {dkOracle, "", "shop_dsn", "clerk", "", "", "ORDERS", "", ""};
  EXPECT_EQ(RejectFileBesideDestination(d, dir.path()), dir / "ORDERS.rejects.csv");
  d.destination = {dkText, "", "", "", "", "", "", "", ""};
  d.clipboard = true;
  EXPECT_EQ(RejectFileBesideDestination(d, dir.path() + "/./"), dir / "records.rejects.csv");

  // A mended reject file loaded again, through a link, is not written over; nor is a
  // destination database of that name that is not made yet.
  WriteFile(dir / "orders.rejects.csv", "Record,ID,Reason\r\n");
  std::filesystem::create_symlink(dir / "orders.rejects.csv", dir / "mended.csv");
  d.clipboard = false;
  d.source = {dkCsv, dir / "mended.csv", "", "", "", "", "", "", ""};
  d.destination = {dkSqlite, "", dir / "orders.rejects.2.csv", "", "", "", "orders", "", ""};
  EXPECT_EQ(RejectFileBesideDestination(d, "/elsewhere"), dir / "orders.rejects.3.csv");
}

}  // namespace
}  // namespace trundle
