// The floor under an append's time: the page writes of its batches and nothing else.
// Each batch journals the old images of PAGES distinct pages, scattered over a file of
// FILE_PAGES pages, in one write, flushes the journal, writes the pages in place (runs of
// neighbours in one call) and flushes the file, as the Access writer's store does; no
// page is encoded, read or summed. Prints the CPU seconds it took (user and system).
// Run by hand, with the counts keyed_bench.sh reports (written bytes / 2 / 4096 / batches):
//   page_floor DIR FILE_PAGES PAGES BATCHES
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kPage = 4096;

double Seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

void Check(bool ok, const char* what) {
  if (ok) return;
  std::perror(what);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: page_floor DIR FILE_PAGES PAGES BATCHES\n");
    return 2;
  }
  const std::string dir = argv[1];
  const size_t file_pages = std::stoul(argv[2]), pages = std::stoul(argv[3]),
               batches = std::stoul(argv[4]);
  if (pages > file_pages) return 2;
  const std::string db_path = dir + "/floor.db", journal_path = dir + "/floor.db-journal";
  const int db = ::open(db_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  const int journal = ::open(journal_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  Check(db >= 0 && journal >= 0, "open");
  Check(::ftruncate(db, off_t(file_pages * kPage)) == 0, "ftruncate");
  std::vector<unsigned char> images(pages * kPage, 0x5A);
  std::vector<size_t> all(file_pages);
  for (size_t i = 0; i < file_pages; ++i) all[i] = i;
  std::mt19937_64 pick(7);
  rusage start{};
  ::getrusage(RUSAGE_SELF, &start);
  for (size_t b = 0; b < batches; ++b) {
    // PAGES distinct pages, in file order.
    for (size_t i = 0; i < pages; ++i) std::swap(all[i], all[i + pick() % (file_pages - i)]);
    std::vector<size_t> chosen(all.begin(), all.begin() + long(pages));
    std::sort(chosen.begin(), chosen.end());
    Check(::pwrite(journal, images.data(), images.size(), 0) == ssize_t(images.size()), "journal");
    Check(::fdatasync(journal) == 0, "fdatasync");
    for (size_t i = 0; i < pages;) {
      size_t run = 1;
      while (i + run < pages && chosen[i + run] == chosen[i] + run) ++run;
      const size_t bytes = run * kPage;
      Check(::pwrite(db, &images[i * kPage], bytes, off_t(chosen[i] * kPage)) == ssize_t(bytes),
            "write");
      i += run;
    }
    Check(::fdatasync(db) == 0, "fdatasync");
  }
  rusage end{};
  ::getrusage(RUSAGE_SELF, &end);
  const double user = Seconds(end.ru_utime) - Seconds(start.ru_utime);
  const double sys = Seconds(end.ru_stime) - Seconds(start.ru_stime);
  std::printf("%zu batches of %zu pages: %.2f CPU s (user %.2f, system %.2f), %.0f MB written\n",
              batches, pages, user + sys, user, sys, double(batches * pages * kPage * 2) / 1e6);
  ::close(db);
  ::close(journal);
  ::unlink(db_path.c_str());
  ::unlink(journal_path.c_str());
  return 0;
}
