// Tables we write, read back by a reader we did not write: Debian's pxlib, through the
// small witness program beside this test (built only where pkg-config finds pxlib;
// PXLIB_WITNESS is then its path, otherwise empty and the tests skip).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "databases/paradox/paradox_file.h"
#include "px_test_util.h"

namespace trundle {
namespace {

using pxtest::Def;
using pxtest::Moment;

// Runs the witness with a time limit; returns its output, or sets failed.
std::string RunWitness(const std::string& table, bool& failed) {
  const std::string command =
      std::string("timeout 10 ") + PXLIB_WITNESS + " '" + table + "' 2>/dev/null";
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return failed = true, out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  failed = ::pclose(pipe) != 0;
  return out;
}

TEST(ParadoxPxlib, SimpleTypesReadBackEqual) {
  if (std::string(PXLIB_WITNESS).empty())
    GTEST_SKIP() << "pxlib is not installed (apt-get install pxlib-dev)";
  ScratchFolder dir;
  const std::string path = dir / "witness.db";
  CreateParadoxTable(path,
                     {Def("Name", ftString, 12), Def("Qty", ftSmallint), Def("Count", ftInteger),
                      Def("Ratio", ftFloat), Def("Price", ftCurrency), Def("Day", ftDate),
                      Def("Ok", ftBoolean), Def("At", ftTime), Def("Stamp", ftDateTime)},
                     {});
  auto writer = AppendToParadoxTable(path, {});
  writer->Append({Variant::String("Grüße"), Variant::Integer(-2), Variant::Integer(100000),
                  Variant::Float(100.5), Variant::Currency(-12345),
                  Variant::DateTime(Moment(1996, 5, 4)), Variant::Boolean(true),
                  Variant::DateTime(0.5), Variant::DateTime(Moment(1996, 5, 4, 12, 0, 0))});
  writer->Append({Variant::Null(), Variant::Integer(0), Variant::Integer(-1), Variant::Float(-0.25),
                  Variant::Currency(0), Variant::DateTime(Moment(1812, 6, 24)),
                  Variant::Boolean(false), Variant::DateTime(0),
                  Variant::DateTime(Moment(100, 1, 1))});
  writer->Append(std::vector<Variant>(9, Variant::Null()));
  // Enough rows to fill several blocks, so pxlib walks the block chain too.
  for (int i = 0; i < 1500; ++i)
    writer->Append(
        {Variant::String(std::string("r").append(std::to_string(i))), Variant::Integer(i % 30000)});
  writer->Close();

  bool failed = false;
  const std::string out = RunWitness(path, failed);
  ASSERT_FALSE(failed) << out;
  // Days since 1 January of year 1: 1996-05-04 is 728783 in the format notes; 1812-06-24 is
  // 661629 and 100-01-01 is 36160. Timestamps are milliseconds on the same count.
  const std::string want_head =
      "1503 records, 9 fields\n"
      "Grüße|-2|100000|100.5|-1.2344999999999999|728783|1|43200000|62966894400000\n"
      "NULL|0|-1|-0.25|0|661629|0|0|3124224000000\n"
      "NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL\n"
      "r0|0|NULL|NULL|NULL|NULL|NULL|NULL|NULL\n";
  EXPECT_EQ(out.substr(0, want_head.size()), want_head);
  EXPECT_NE(out.find("\nr1499|1499|NULL"), std::string::npos);
}

}  // namespace
}  // namespace trundle
