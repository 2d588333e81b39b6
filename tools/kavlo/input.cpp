// Reading the inputs and parsing them into the run's playlist handle.
#include "input.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace kavlo_cli {

namespace {

// Reads fd to its end into b. Returns 0 or an error number (ENOMEM when the
// buffer cannot grow).
int read_fd(int fd, Buffer &b, size_t expected) {
  b.size = 0;
  if (!b.grow(expected > 0 ? expected + 1 : size_t{1} << 16)) return ENOMEM;
  for (;;) {
    if (b.size == b.cap) {
      const size_t want = b.cap < (size_t{1} << 16) ? size_t{1} << 16 : b.cap * 2;
      if (want < b.cap || !b.grow(want)) return ENOMEM;
    }
    const ssize_t n = read(fd, b.data + b.size, b.cap - b.size);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno ? errno : EIO;
    }
    b.size += static_cast<size_t>(n);
  }
}

void set_io_error(Outcome &r, int err) {
  r.rc = err == ENOMEM ? KAVLO_ERR_NOMEM : KAVLO_ERR_IO;
  r.error = err == ENOMEM ? "" : std::string("io: ") + std::strerror(err);
}

// The encodings the library reads text in without a guess.
bool is_unicode(const char *name) {
  static const char *const names[] = {"UTF-8", "UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"};
  for (const char *n : names)
    if (std::strcmp(name, n) == 0) return true;
  return false;
}

}  // namespace

Buffer::~Buffer() { std::free(data); }

bool Buffer::grow(size_t want) {
  if (want <= cap) return true;
  char *p = static_cast<char *>(std::realloc(data, want));
  if (p == nullptr) return false;
  data = p;
  cap = want;
  return true;
}

bool is_stdin(const char *file) { return std::strcmp(file, "-") == 0; }

bool read_input(const char *file, Buffer &b, Outcome &r) {
  int fd = STDIN_FILENO;
  if (!is_stdin(file)) {
    fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      set_io_error(r, errno);
      return false;
    }
  }
  struct stat st;
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const int err = read_fd(fd, b, regular ? static_cast<size_t>(st.st_size) : 0);
  if (fd != STDIN_FILENO) close(fd);
  r.bytes = b.size;
  r.sized = true;
  if (err != 0) {
    set_io_error(r, err);
    return false;
  }
  return true;
}

Outcome parse_one(kavlo_playlist *p, const char *file, const Options &o, Buffer &b) {
  Outcome r;
  if (is_stdin(file)) {
    if (!read_input(file, b, r)) return r;
    r.rc = kavlo_playlist_parse(p, b.data, b.size, o.format, o.encoding);
  } else {
    // The size for the progress line and the hint at an empty file; a
    // stream tells it only once read.
    struct stat st;
    if (stat(file, &st) == 0 && S_ISREG(st.st_mode)) {
      r.bytes = static_cast<uint64_t>(st.st_size);
      r.sized = true;
    }
    r.rc = kavlo_playlist_parse_file_as(p, file, o.format, o.encoding);
  }
  if (r.rc != KAVLO_OK) {
    r.error = kavlo_playlist_last_error(p);
    return r;
  }
  if (o.auto_encoding) {
    // "raw": no encoding read the bytes, the library kept them as they were.
    const char *used = kavlo_playlist_encoding(p);
    r.auto_used = true;
    r.encoding = used != nullptr && std::strcmp(used, "raw") != 0 ? used : "";
    r.guessed = used == nullptr || !is_unicode(used);
  }
  return r;
}

}  // namespace kavlo_cli
