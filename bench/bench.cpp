// Throughput of kavlo_parse and kavlo_result_json on generated inputs,
// next to the floor: a memchr line split plus one memcpy of the same bytes.
// Each figure is the median of repeated in-process runs (CPU time of the
// thread, see now()), in MB of input per
// second (the JSON export too); "full" is the speed of the full document
// (kavlo_result_json_full) per document, as a share of the ordinary
// export's; then kavlo_playlist_write against the JSON export of the same
// handle on the 64 MB inputs. Then, each in a fresh process: the first
// parse of the 1 MB inputs against the parses after it, and the peak
// resident memory of one kavlo_parse_file + kavlo_result_json of each 64 MB
// input against its bound, 1.5x the input plus the JSON text.
//
// usage: kavlo_bench DATADIR [RUNS]
//        kavlo_bench --write DATADIR [RUNS] (only the writer against the JSON export)
//        kavlo_bench --file PATH [RUNS]   (parse MB/s of one file)
//        kavlo_bench --first PATH         (first parse and later ones)
//        kavlo_bench --rss PATH           (peak memory of parse + JSON)
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <thread>

#include "kavlo.h"

namespace {

// Times are CPU time of the calling thread, user and system (page faults
// included): on a machine shared with other work, the wall clock mostly
// measures that work.
double now() noexcept {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The whole file in one allocation of its exact size.
std::string read_file(const std::filesystem::path &p) {
  std::ifstream f(p, std::ios::binary);
  std::string s(static_cast<size_t>(std::filesystem::file_size(p)), '\0');
  f.read(s.data(), static_cast<std::streamsize>(s.size()));
  s.resize(static_cast<size_t>(f.gcount()));
  return s;
}

// Medians of two measurements taken in turns, so that both see the same
// state of a machine whose speed drifts.
template <class F, class G>
std::pair<double, double> median_pair(int runs, F &&f, G &&g) {
  std::vector<double> a, b;
  for (int i = 0; i < runs; ++i) {
    auto start = now();
    f();
    a.push_back(now() - start);
    start = now();
    g();
    b.push_back(now() - start);
  }
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return {a[a.size() / 2], b[b.size() / 2]};
}

template <class F>
double median_seconds(int runs, F &&f) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto start = now();
    f();
    t.push_back(now() - start);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

// The least work any line-oriented parser does: find every line end and
// copy the bytes once.
size_t floor_pass(const std::string &in, std::vector<char> &out) {
  std::memcpy(out.data(), in.data(), in.size());
  size_t lines = 0;
  const char *p = in.data(), *end = p + in.size();
  while (p < end) {
    const void *nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
    if (nl == nullptr) break;
    p = static_cast<const char *>(nl) + 1;
    ++lines;
  }
  return lines;
}

struct Row {
  const char *label;
  const char *file;
  int format;
};

double mbps(size_t bytes, double secs) { return static_cast<double>(bytes) / 1e6 / secs; }

// `--rss PATH`, run in a fresh process: parses the file through the file
// entry point, writes the JSON and reports the peak resident memory of the
// whole process against 1.5x the input + the JSON text, and the speed of
// that first export, which faults in its block.
int peak_rss(const char *path) {
  const double mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  const int rc = kavlo_parse_file(path);
  struct rusage parsed;
  getrusage(RUSAGE_SELF, &parsed);
  const auto start = now();
  const double json = static_cast<double>(std::strlen(kavlo_result_json())) / 1e6;
  const double json_s = now() - start;
  struct rusage after;
  getrusage(RUSAGE_SELF, &after);
  const double peak = static_cast<double>(after.ru_maxrss) / 1e3;
  const double bound = 1.5 * mb + json;
  std::printf("%-22s %7.1f %7.1f | %9.1f %9.1f %6.2fx | %9.1f %6.2f | %10.0f%s\n",
              std::filesystem::path(path).filename().c_str(), mb, json,
              static_cast<double>(parsed.ru_maxrss) / 1e3, peak, peak / mb, bound, peak / bound, mb / json_s,
              rc == KAVLO_OK ? "" : "  (parse failed)");
  return 0;
}

// `--first PATH`, run in a fresh process: the time of the first parse of
// the file and the median of the parses after it, in seconds.
int first_parse(const char *path) {
  const std::string text = read_file(path);
  const auto start = now();
  kavlo_parse(text.data(), text.size(), KAVLO_FORMAT_AUTO);
  const double first = now() - start;
  const double later = median_seconds(9, [&] { kavlo_parse(text.data(), text.size(), KAVLO_FORMAT_AUTO); });
  std::printf("%.9f %.9f\n", first, later);
  return 0;
}

// Medians over `runs` fresh processes of the first parse of `path` and of
// the parses after it.
void first_parses(const char *self, const std::filesystem::path &path, int runs) {
  if (!std::filesystem::exists(path)) return;
  std::vector<double> first, later;
  const std::string cmd = std::string("'") + self + "' --first '" + path.string() + "'";
  for (int i = 0; i < runs; ++i) {
    std::fflush(stdout);
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr) return;
    double f = 0, l = 0;
    if (std::fscanf(p, "%lf %lf", &f, &l) == 2) {
      first.push_back(f);
      later.push_back(l);
    }
    pclose(p);
  }
  if (first.empty()) return;
  std::sort(first.begin(), first.end());
  std::sort(later.begin(), later.end());
  const size_t bytes = static_cast<size_t>(std::filesystem::file_size(path));
  const double f = first[first.size() / 2], l = later[later.size() / 2];
  std::printf("%-22s %7.1f | %8.0f us %8.0f MB/s | %8.0f us %8.0f MB/s\n", path.filename().c_str(),
              static_cast<double>(bytes) / 1e6, f * 1e6, mbps(bytes, f), l * 1e6, mbps(bytes, l));
}

// Runs this program again with `mode` on `path`, in a fresh process.
void run_fresh(const char *self, const char *mode, const std::filesystem::path &path) {
  if (!std::filesystem::exists(path)) return;
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/proc/self/exe", self, mode, path.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace

// `--file PATH [RUNS]`: only the parse throughput of one file, in MB/s.
int one_file(const char *path, int runs) {
  const std::string text = read_file(path);
  const double secs = median_seconds(runs, [&] { kavlo_parse(text.data(), text.size(), KAVLO_FORMAT_AUTO); });
  std::printf("%.1f\n", mbps(text.size(), secs));
  return 0;
}

double wall_now() noexcept {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A batch of texts parsed by `threads` threads, each with a handle of its
// own taking every threads-th text; wall-clock seconds of the whole batch.
double batch_seconds(const std::vector<std::string> &texts, int threads) {
  const double start = wall_now();
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&, t] {
      kavlo_playlist *p = kavlo_playlist_new();
      for (size_t i = static_cast<size_t>(t); i < texts.size(); i += static_cast<size_t>(threads))
        (void)kavlo_playlist_parse(p, texts[i].data(), texts[i].size(), KAVLO_FORMAT_AUTO, nullptr);
      kavlo_playlist_free(p);
    });
  for (auto &th : pool) th.join();
  return wall_now() - start;
}

void parallel_batch(const std::filesystem::path &dir, int runs) {
  std::vector<std::string> texts;
  size_t bytes = 0;
  for (int size : {1, 16})
    for (const char *f : {"m3u", "streaming", "cue", "streaming-utf16", "streaming-gbk"}) {
      const std::string ext = std::strcmp(f, "m3u") == 0 ? ".m3u" : std::strcmp(f, "cue") == 0 ? ".cue" : ".txt";
      const auto path = dir / (std::string(f) + "-" + std::to_string(size) + "MB" + ext);
      if (!std::filesystem::exists(path)) continue;
      texts.push_back(read_file(path));
      bytes += texts.back().size();
    }
  // Twice over, so that each thread has several texts of each size.
  for (size_t i = 0, n = texts.size(); i < n; ++i) texts.push_back(texts[i]);
  bytes *= 2;
  if (texts.empty()) return;
  std::vector<double> one, two;
  for (int i = 0; i < runs; ++i) {
    one.push_back(batch_seconds(texts, 1));
    two.push_back(batch_seconds(texts, 2));
  }
  std::sort(one.begin(), one.end());
  std::sort(two.begin(), two.end());
  const double a = one[one.size() / 2], b = two[two.size() / 2];
  std::printf("\nbatch of the 1 MB and 16 MB inputs (%zu texts, %.0f MB), a handle per thread, wall clock:\n"
              "  1 thread %.3f s, 2 threads %.3f s: %.2fx (%u cores)\n",
              texts.size(), static_cast<double>(bytes) / 1e6, a, b, a / b, std::thread::hardware_concurrency());
}

// The playlist writer against the JSON export of the same handle, in
// turns, on the 64 MB inputs: both in MB of input per second, the writer
// in the result's own format.
static void write_against_json(const std::filesystem::path &dir, const Row *rows, size_t count, int runs) {
  std::printf("\nkavlo_playlist_write (own format) against kavlo_playlist_json, MB/s of input, 64 MB inputs:\n");
  std::printf("%-25s | %10s %10s %7s | %10s\n", "input", "JSON MB/s", "write MB/s", "/JSON", "text size");
  kavlo_playlist *p = kavlo_playlist_new();
  for (size_t k = 0; k < count && p != nullptr; ++k) {
    const Row &r = rows[k];
    const std::string ext = std::strcmp(r.file, "m3u") == 0 ? ".m3u" : std::strcmp(r.file, "cue") == 0 ? ".cue" : ".txt";
    const auto path = dir / (std::string(r.file) + "-64MB" + ext);
    if (!std::filesystem::exists(path)) continue;
    const std::string text = read_file(path);
    if (kavlo_playlist_parse(p, text.data(), text.size(), r.format, nullptr) != KAVLO_OK) continue;
    volatile size_t sink = 0;
    size_t written = 0;
    const auto [json_s, write_s] = median_pair(
        runs, [&] { sink = sink + std::strlen(kavlo_playlist_json(p)); },
        [&] {
          const char *out = nullptr;
          if (kavlo_playlist_write(p, KAVLO_FORMAT_AUTO, 0, &out, &written) != KAVLO_OK) written = 0;
        });
    std::printf("%-25s | %10.0f %10.0f %6.2fx | %9.2fx\n", r.label, mbps(text.size(), json_s),
                mbps(text.size(), write_s), json_s / write_s,
                static_cast<double>(written) / static_cast<double>(text.size()));
  }
  kavlo_playlist_free(p);
}

int main(int argc, char **argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--rss") == 0) return peak_rss(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "--first") == 0) return first_parse(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "--batch") == 0) {
    parallel_batch(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 5);
    return 0;
  }
  if (argc >= 3 && std::strcmp(argv[1], "--file") == 0)
    return one_file(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 5);
  const bool write_only = argc >= 3 && std::strcmp(argv[1], "--write") == 0;
  if (write_only) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [--write] DATADIR [RUNS] | --file PATH [RUNS]\n", argv[0]);
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  const Row rows[] = {
      {"extended M3U", "m3u", KAVLO_FORMAT_AUTO},
      {"streaming list", "streaming", KAVLO_FORMAT_AUTO},
      {"CUE sheet", "cue", KAVLO_FORMAT_AUTO},
      {"streaming, UTF-16 BOM", "streaming-utf16", KAVLO_FORMAT_AUTO},
      {"streaming, GBK fallback", "streaming-gbk", KAVLO_FORMAT_AUTO},
  };
  if (write_only) {
    write_against_json(dir, rows, std::size(rows), runs);
    return 0;
  }
  std::printf("median of %d runs, CPU time of the thread; MB = 10^6 bytes; MB/s of input, the JSON export's too\n\n", runs);
  std::printf("%-25s %6s %8s | %12s %7s | %10s %7s %6s | %6s | %11s\n", "input", "size", "items",
              "parse MB/s", "/floor", "JSON MB/s", "/floor", "size", "full", "floor MB/s");
  double parse_rate[3][std::size(rows)] = {};
  for (int size : {1, 16, 64}) {
    for (const Row &r : rows) {
      const std::string ext = std::strcmp(r.file, "m3u") == 0 ? ".m3u" : std::strcmp(r.file, "cue") == 0 ? ".cue" : ".txt";
      const auto path = dir / (std::string(r.file) + "-" + std::to_string(size) + "MB" + ext);
      if (!std::filesystem::exists(path)) continue;
      const std::string text = read_file(path);
      std::vector<char> scratch(text.size() + 1);
      volatile size_t sink = 0;
      int rc = 0;
      const auto [floor_s, parse_s] = median_pair(
          runs, [&] { sink = sink + floor_pass(text, scratch); },
          [&] { rc = kavlo_parse(text.data(), text.size(), r.format); });
      const int items = kavlo_item_count();
      size_t json_len = 0;
      const auto [floor2_s, json_s] = median_pair(
          runs, [&] { sink = sink + floor_pass(text, scratch); },
          [&] { json_len = std::strlen(kavlo_result_json()); });
      // The full document against the ordinary one, in turns: its speed as
      // a share of the ordinary export's, per document.
      const auto [ordinary_s, full_s] = median_pair(
          runs, [&] { sink = sink + std::strlen(kavlo_result_json()); },
          [&] { sink = sink + std::strlen(kavlo_result_json_full()); });
      const double floor_mbps = mbps(text.size(), floor_s);
      parse_rate[size == 1 ? 0 : size == 16 ? 1 : 2][&r - rows] = mbps(text.size(), parse_s);
      std::printf("%-25s %4dMB %8d | %12.0f %6.2fx | %10.0f %6.2fx %5.2fx | %5.2fx | %11.0f%s\n", r.label,
                  size, items, mbps(text.size(), parse_s), floor_s / parse_s, mbps(text.size(), json_s),
                  floor2_s / json_s, static_cast<double>(json_len) / static_cast<double>(text.size()),
                  ordinary_s / full_s, floor_mbps, rc == KAVLO_OK ? "" : "  (parse failed)");
      kavlo_clear();
    }
  }
  std::printf("\nparse of the 1 MB inputs against the 64 MB ones:");
  for (const Row &r : rows)
    if (parse_rate[0][&r - rows] > 0 && parse_rate[2][&r - rows] > 0)
      std::printf(" %s %.2fx%s", r.file, parse_rate[0][&r - rows] / parse_rate[2][&r - rows],
                  &r == &rows[std::size(rows) - 1] ? "" : ",");
  std::printf("\n");
  write_against_json(dir, rows, std::size(rows), runs);
  parallel_batch(dir, runs);
  std::printf("\nfirst parse in a fresh process and the parses after it (medians of %d processes):\n", runs);
  std::printf("%-22s %7s | %23s | %23s\n", "input", "MB", "first parse", "later parses");
  for (const char *f : {"m3u-1MB.m3u", "streaming-1MB.txt", "cue-1MB.cue"})
    first_parses(std::filesystem::read_symlink("/proc/self/exe").c_str(), dir / f, runs);
  std::printf("\npeak RSS of kavlo_parse_file + kavlo_result_json in a fresh process (MB), against\n"
              "the bound 1.5x the input + the JSON text; and that first export, whose block is new, in MB/s:\n");
  std::printf("%-22s %7s %7s | %9s %9s %7s | %9s %6s | %10s\n", "input", "input", "JSON", "parsed", "peak",
              "/input", "bound", "/bound", "1st JSON");
  for (const char *f : {"m3u-64MB.m3u", "streaming-64MB.txt", "cue-64MB.cue"}) run_fresh(argv[0], "--rss", dir / f);
  return 0;
}
