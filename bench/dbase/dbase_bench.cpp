// dbase_bench [FOLDER] [ROWS]: appends ROWS records of ten fields to a new table in
// FOLDER (default /tmp), reads them back, and prints the CPU and wall seconds of each step.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "databases/dbase/dbase_file.h"
#include "engine/datetime.h"

namespace {

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace trundle;
  const std::string folder = argc > 1 ? argv[1] : "/tmp";
  const long rows = argc > 2 ? std::stol(argv[2]) : 1000000;
  const std::string path = folder + "/dbase_bench.dbf";
  for (const char* ext : {".dbf", ".cpg"}) std::filesystem::remove(folder + "/dbase_bench" + ext);

  const TFieldDefs fields = {{"ID", ftInteger},      {"NAME", ftString, 30},
                             {"CITY", ftString, 20}, {"AMOUNT", ftFloat, 12, 2},
                             {"RATIO", ftFloat},     {"BORN", ftDate},
                             {"ACTIVE", ftBoolean},  {"BIG", ftLargeint},
                             {"CODE", ftString, 8},  {"PRICE", ftCurrency}};
  CreateDBaseTable(path, fields, {});

  double cpu = CpuSeconds(), wall = WallSeconds();
  {
    auto writer = AppendToDBaseTable(path, {});
    std::vector<Variant> row(fields.size());
    for (long i = 0; i < rows; ++i) {
      row[0].SetInteger(i);
      row[1].SetString("Customer number " + std::to_string(i));
      row[2].SetString(i % 2 ? "Zürich" : "Springfield");
      row[3].SetFloat(i * 0.25 - 1000);
      row[4].SetFloat(1.0 / (i + 1));
      row[5].SetDateTime(
          EncodeDateTime(DateParts{1950 + static_cast<int>(i % 70), 1 + static_cast<int>(i % 12),
                                   1 + static_cast<int>(i % 28)}));
      row[6].SetBoolean(i % 3 == 0);
      row[7].SetInteger(i * 1000003LL);
      row[8].SetString("C" + std::to_string(i % 1000));
      row[9].SetCurrency(i * 123);
      writer->Append(row);
    }
    writer->Close();
  }
  std::printf("append %ld rows: %.2f s CPU, %.2f s wall, %.0f MB\n", rows, CpuSeconds() - cpu,
              WallSeconds() - wall, std::filesystem::file_size(path) / 1e6);

  cpu = CpuSeconds();
  wall = WallSeconds();
  long read = 0;
  {
    auto reader = OpenDBaseTable(path, {});
    std::vector<Variant> row;
    while (reader->Next(row)) ++read;
  }
  std::printf("read %ld rows: %.2f s CPU, %.2f s wall\n", read, CpuSeconds() - cpu,
              WallSeconds() - wall);
  std::filesystem::remove(path);
  std::filesystem::remove(folder + "/dbase_bench.cpg");
  return read == rows ? 0 : 1;
}
