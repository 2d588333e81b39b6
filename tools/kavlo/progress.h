// Standard error of the tool: the progress line of a batch on a terminal,
// and every other message, which clears that line first.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kavlo_cli {

class Progress {
 public:
  // A batch of `total` files; shown only for several files and a terminal.
  void start(size_t total);
  // `done` files finished, the last one of `bytes` bytes.
  void step(size_t done, uint64_t bytes);
  void clear();

 private:
  size_t total_ = 0;
  uint64_t bytes_ = 0;
  bool on_ = false;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

extern Progress progress;

// A message on standard error, after clearing the progress line.
__attribute__((format(printf, 1, 2))) void diag(const char *fmt, ...);

// "kavlo: WHAT[: ARG]" and the pointer to --help; returns the usage status.
int usage_error(const char *what, const char *arg = nullptr);

}  // namespace kavlo_cli
