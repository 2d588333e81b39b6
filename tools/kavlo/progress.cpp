// The progress line and the messages on standard error.
#include "progress.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

#include "options.h"

namespace kavlo_cli {

Progress progress;

void Progress::start(size_t total) {
  total_ = total;
  on_ = total > 1 && isatty(STDERR_FILENO);
}

void Progress::step(size_t done, uint64_t bytes) {
  bytes_ += bytes;
  if (!on_) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  const double secs = std::chrono::duration<double>(now - start_).count();
  const double mbps = secs > 0 ? static_cast<double>(bytes_) / 1e6 / secs : 0.0;
  std::fprintf(stderr, "\r\033[K%zu/%zu files, %.1f MB/s", done, total_, mbps);
  shown_ = true;
  if (done == total_) clear();
}

void Progress::clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  shown_ = false;
}

void diag(const char *fmt, ...) {
  progress.clear();
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
}

int usage_error(const char *what, const char *arg) {
  if (arg) diag("kavlo: %s: %s\n", what, arg);
  else diag("kavlo: %s\n", what);
  std::fputs("Try 'kavlo --help'.\n", stderr);
  return exit_usage;
}

}  // namespace kavlo_cli
