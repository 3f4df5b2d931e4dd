// Appends rows of ten fields to a new Paradox table, then reads them back, printing the
// CPU seconds of each step. Run by hand:
//   paradox_bench /tmp/bench.db 1000000
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "databases/paradox/paradox_file.h"

namespace {

double CpuSeconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

trundle::TFieldDef Def(const char* name, trundle::TFieldType type, int size = 0) {
  trundle::TFieldDef d;
  d.Name = name;
  d.DataType = type;
  d.Size = size;
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace trundle;
  if (argc < 2) {
    std::fprintf(stderr, "usage: paradox_bench TABLE.db [ROWS]\n");
    return 2;
  }
  const std::string path = argv[1];
  const long rows = argc > 2 ? std::atol(argv[2]) : 1000000;
  ::unlink(path.c_str());
  CreateParadoxTable(
      path,
      {Def("Id", ftInteger), Def("Name", ftString, 30), Def("City", ftString, 20),
       Def("Qty", ftSmallint), Def("Price", ftCurrency), Def("Ratio", ftFloat), Def("Born", ftDate),
       Def("Seen", ftDateTime), Def("Ok", ftBoolean), Def("Code", ftString, 10)},
      {});
  std::vector<Variant> row(10);
  double start = CpuSeconds();
  auto writer = AppendToParadoxTable(path, {});
  for (long i = 0; i < rows; ++i) {
    row[0].SetInteger(i);
    row[1].SetString("Customer number " + std::to_string(i));
    row[2].SetString(i % 2 ? "Amsterdam" : "Berlin");
    row[3].SetInteger(i % 1000);
    row[4].SetCurrency(i * 125);
    row[5].SetFloat(static_cast<double>(i) / 7.0);
    row[6].SetDateTime(static_cast<double>(i % 40000));
    row[7].SetDateTime(static_cast<double>(i % 40000) + 0.5);
    row[8].SetBoolean(i % 3 == 0);
    row[9].SetString("C" + std::to_string(i % 100000));
    writer->Append(row);
  }
  writer->Close();
  const double write_s = CpuSeconds() - start;
  start = CpuSeconds();
  auto reader = OpenParadoxTable(path, {});
  long count = 0;
  while (reader->Next(row)) ++count;
  const double read_s = CpuSeconds() - start;
  std::printf("%ld rows x 10 fields: append %.2f CPU s, read %.2f CPU s (%ld read)\n", rows,
              write_s, read_s, count);
  return count == rows ? 0 : 1;
}
