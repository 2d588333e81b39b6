// Throughput of kavlo_parse and kavlo_result_json on generated inputs,
// next to the floor: a memchr line split plus one memcpy of the same bytes.
// Each figure is the median of repeated in-process runs. The peak resident
// memory of one parse + JSON of the largest M3U input is measured in a
// fresh process.
//
// usage: kavlo_bench DATADIR [RUNS]
//        kavlo_bench --file PATH [RUNS]   (parse MB/s of one file)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "kavlo.h"

namespace {

using Clock = std::chrono::steady_clock;

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
    auto start = Clock::now();
    f();
    a.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    start = Clock::now();
    g();
    b.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return {a[a.size() / 2], b[b.size() / 2]};
}

template <class F>
double median_seconds(int runs, F &&f) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    f();
    t.push_back(std::chrono::duration<double>(Clock::now() - start).count());
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

// `--rss PATH`, run in a fresh process: loads the file, parses it, writes
// the JSON and reports the peak resident memory against the input size.
int peak_rss(const char *path) {
  const std::string text = read_file(path);
  struct rusage before;
  getrusage(RUSAGE_SELF, &before);
  const int rc = kavlo_parse(text.data(), text.size(), KAVLO_FORMAT_AUTO);
  struct rusage parsed;
  getrusage(RUSAGE_SELF, &parsed);
  const size_t json = std::strlen(kavlo_result_json());
  struct rusage after;
  getrusage(RUSAGE_SELF, &after);
  const double mb = static_cast<double>(text.size()) / 1e6;
  const double total = static_cast<double>(after.ru_maxrss) / 1e3;
  const double added = static_cast<double>(after.ru_maxrss - before.ru_maxrss) / 1e3;
  std::printf("\npeak RSS, parse + JSON of %s (%.1f MB, status %d, JSON %.1f MB):\n",
              std::filesystem::path(path).filename().c_str(), mb, rc, static_cast<double>(json) / 1e6);
  const double store = static_cast<double>(parsed.ru_maxrss - before.ru_maxrss) / 1e3;
  std::printf("  added by parse + JSON %.1f MB = %.2fx the input (the parse alone %.1f MB = %.2fx);\n"
              "  whole process, input included, %.1f MB = %.2fx\n",
              added, added / mb, store, store / mb, total, total / mb);
  return 0;
}

}  // namespace

// `--file PATH [RUNS]`: only the parse throughput of one file, in MB/s.
int one_file(const char *path, int runs) {
  const std::string text = read_file(path);
  const double secs = median_seconds(runs, [&] { kavlo_parse(text.data(), text.size(), KAVLO_FORMAT_AUTO); });
  std::printf("%.1f\n", mbps(text.size(), secs));
  return 0;
}

int main(int argc, char **argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--rss") == 0) return peak_rss(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "--file") == 0)
    return one_file(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 5);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DATADIR [RUNS] | --file PATH [RUNS]\n", argv[0]);
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
  std::printf("median of %d runs; MB = 10^6 bytes\n\n", runs);
  std::printf("%-25s %6s %8s | %12s %7s | %12s %7s | %11s\n", "input", "size", "items",
              "parse MB/s", "/floor", "JSON MB/s", "/floor", "floor MB/s");
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
      const double floor_mbps = mbps(text.size(), floor_s);
      std::printf("%-25s %4dMB %8d | %12.0f %6.2fx | %12.0f %6.2fx | %11.0f%s\n", r.label, size, items,
                  mbps(text.size(), parse_s), floor_s / parse_s, mbps(json_len, json_s),
                  floor2_s / json_s * static_cast<double>(json_len) / static_cast<double>(text.size()),
                  floor_mbps, rc == KAVLO_OK ? "" : "  (parse failed)");
      kavlo_clear();
    }
  }
  const auto biggest = dir / "m3u-64MB.m3u";
  if (std::filesystem::exists(biggest)) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/proc/self/exe", argv[0], "--rss", biggest.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
  }
  return 0;
}
