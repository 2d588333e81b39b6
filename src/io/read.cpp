// Reading files and streams whole (see read.h).
#include "read.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "kavlo.h"
#include "../store/messages.h"

namespace kavlo {

namespace {

// Files of 2 GiB or more are refused: sizes are kept in int-sized fields
// elsewhere, and a wrapped size would silently parse a fraction of the file.
constexpr int64_t max_file_size = int64_t{1} << 31;

// The system's message for an error number (strerror is not thread-safe).
const char *errno_text(int err, char (&buf)[128]) noexcept {
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  return ::strerror_r(err, buf, sizeof buf);
#else
  return ::strerror_r(err, buf, sizeof buf) == 0 ? buf : "unknown error";
#endif
}

// A block for `size` bytes and the NUL after them.
bool allocate(ReadBlock &buf, size_t size) noexcept {
  buf.bytes = size + 1 >= large_block ? mapped_size(size + 1) : size + 1;
  buf.data = static_cast<char *>(block_resize(nullptr, 0, buf.bytes));
  if (buf.data == nullptr) buf.bytes = 0;
  return buf.data != nullptr;
}

// One read of up to `n` bytes into `to`, again after a signal: the count
// (0 at the end), or -1 with the store's error set.
ssize_t read_some(Store &s, int fd, char *to, size_t n) noexcept {
  for (;;) {
    const ssize_t got = ::read(fd, to, n);
    if (got >= 0) return got;
    if (errno != EINTR) {
      set_io_error(s, errno);
      return -1;
    }
  }
}

// Reads a stream to its end into `buf`, leaving a NUL after the bytes.
int read_stream(Store &s, int fd, ReadBlock &buf, size_t &got) noexcept {
  got = 0;
  size_t cap = 0;
  for (;;) {
    if (cap - got < 2) {
      const size_t want = cap == 0 ? size_t{64} << 10 : cap * 2;
      const size_t bytes = want >= large_block ? mapped_size(want) : want;
      void *p = block_resize(buf.data, buf.bytes, bytes);
      if (p == nullptr) return KAVLO_ERR_NOMEM;
      buf.data = static_cast<char *>(p);
      buf.bytes = cap = bytes;
    }
    const ssize_t n = read_some(s, fd, buf.data + got, cap - got - 1);
    if (n < 0) return KAVLO_ERR_IO;
    if (n == 0) break;
    got += static_cast<size_t>(n);
    if (static_cast<int64_t>(got) >= max_file_size) {
      set_io_error(s, EFBIG);
      return KAVLO_ERR_IO;
    }
  }
  buf.data[got] = '\0';
  return KAVLO_OK;
}

// Reads the bytes of a seekable file from `start` to its end as it is now:
// a file that grows meanwhile is read to that size, one that shrinks to
// its new end.
int read_sized(Store &s, int fd, off_t start, ReadBlock &buf, size_t &got) noexcept {
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) {
    set_error(s, "seek");
    return KAVLO_ERR_IO;
  }
  if (static_cast<int64_t>(end) >= max_file_size || end < start || ::lseek(fd, start, SEEK_SET) != start) {
    set_error(s, "tell");
    return KAVLO_ERR_IO;
  }
  const auto size = static_cast<size_t>(end - start);
  if (!allocate(buf, size)) return KAVLO_ERR_NOMEM;
  got = 0;
  while (got < size) {
    const ssize_t n = read_some(s, fd, buf.data + got, size - got);
    if (n < 0) return KAVLO_ERR_IO;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  buf.data[got] = '\0';
  return KAVLO_OK;
}

// A stream blocks for its writer from here on. A FIFO whose writer has not
// come yet would read as empty: poll waits for it (Linux reports no
// hang-up on a FIFO no writer has opened).
int read_as_stream(Store &s, int fd, bool fifo, bool own_fd, ReadBlock &buf, size_t &got) noexcept {
  if (fifo) {
    pollfd wait{fd, POLLIN, 0};
    while (::poll(&wait, 1, -1) < 0 && errno == EINTR) {
    }
  }
  // The descriptor opened here without blocking now blocks; a host's is
  // left as it is.
  const int flags = own_fd ? ::fcntl(fd, F_GETFL) : -1;
  if (flags >= 0 && (flags & O_NONBLOCK) != 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return read_stream(s, fd, buf, got);
}

}  // namespace

void set_io_error(Store &s, int err) noexcept {
  char buf[128];
  set_error(s, "io: %s", errno_text(err, buf));
}

int read_path(Store &s, const char *path, bool streams, ReadBlock &buf, size_t &got) noexcept {
  if (path == nullptr) {
    set_error(s, "null path");
    return KAVLO_ERR_INVALID;
  }
  // O_NONBLOCK keeps a FIFO without a writer from blocking the open; it
  // changes nothing for regular files.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    set_io_error(s, errno);
    return KAVLO_ERR_IO;
  }
  struct stat st;
  const bool have_stat = ::fstat(fd, &st) == 0;
  int rc;
  if (have_stat && S_ISDIR(st.st_mode)) {
    set_io_error(s, EISDIR);
    rc = KAVLO_ERR_IO;
  } else if (streams && have_stat && !S_ISREG(st.st_mode)) {
    rc = read_as_stream(s, fd, S_ISFIFO(st.st_mode), true, buf, got);
  } else {
    rc = read_sized(s, fd, 0, buf, got);
  }
  ::close(fd);
  return rc;
}

int read_fd(Store &s, int fd, ReadBlock &buf, size_t &got) noexcept {
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    set_io_error(s, fd < 0 ? EBADF : errno);
    return KAVLO_ERR_IO;
  }
  if (S_ISDIR(st.st_mode)) {
    set_io_error(s, EISDIR);
    return KAVLO_ERR_IO;
  }
  if (!S_ISREG(st.st_mode)) return read_as_stream(s, fd, false, false, buf, got);
  const off_t start = ::lseek(fd, 0, SEEK_CUR);
  return start < 0 ? read_as_stream(s, fd, false, false, buf, got) : read_sized(s, fd, start, buf, got);
}

}  // namespace kavlo
