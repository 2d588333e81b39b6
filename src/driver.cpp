// The parse driver: clear, decode, detect, dispatch. Also whole-file reading
// for the file entry points, and detection without parsing.
#include "driver.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "decode/decode.h"
#include "decode/guess.h"
#include "detect.h"
#include "kavlo.h"
#include "mem.h"
#include "parsers/parsers.h"
#include "text/text.h"
#include "store/messages.h"
#include "store/locations.h"

namespace kavlo {

namespace {

// A file's bytes, in a block of the store's allocator: a mapping of its
// own when large.
struct ReadBlock {
  char *data = nullptr;
  size_t bytes = 0;
  ReadBlock() = default;
  ReadBlock(const ReadBlock &) = delete;
  ReadBlock &operator=(const ReadBlock &) = delete;
  ~ReadBlock() { block_free(data, bytes); }
};

struct FileCloser {
  void operator()(FILE *f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

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

void set_io_error(Store &s, int err) noexcept {
  char buf[128];
  set_error(s, "io: %s", errno_text(err, buf));
}

// Reads a stream (pipe, FIFO, character device) to its end into `buf`,
// leaving a NUL after the bytes. KAVLO_ERR_IO for a read error or a
// stream of 2 GiB or more, KAVLO_ERR_NOMEM when the block cannot grow.
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
    const ssize_t n = ::read(fd, buf.data + got, cap - got - 1);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      set_io_error(s, errno);
      return KAVLO_ERR_IO;
    }
    got += static_cast<size_t>(n);
    if (static_cast<int64_t>(got) >= max_file_size) {
      set_io_error(s, EFBIG);
      return KAVLO_ERR_IO;
    }
  }
  buf.data[got] = '\0';
  return KAVLO_OK;
}

// The parser of the format decided (`s.detected_format`, which only the
// driver sets). An HLS manifest is refused here, also when the caller
// named M3U.
int dispatch(Store &s, const char *text, size_t len) noexcept {
  if (s.detected_format == KAVLO_FORMAT_M3U && looks_hls(text, len)) s.detected_format = KAVLO_FORMAT_M3U8_HLS;
  switch (s.detected_format) {
    case KAVLO_FORMAT_M3U:
      return parse_m3u(s, text, len);
    case KAVLO_FORMAT_M3U8_HLS:
      set_error(s, "%s", hls_refused);
      return KAVLO_ERR_FORMAT;
    case KAVLO_FORMAT_STREAMING_LIST:
      return parse_streaming_list(s, text, len);
    case KAVLO_FORMAT_CUE:
      return parse_cue(s, text, len);
    default:
      set_error(s, "unknown playlist format");
      return KAVLO_ERR_FORMAT;
  }
}

// Keeps the large blocks of the previous result for the parse that
// replaces it, and releases what that parse does not take.
struct HoldMaps {
  HoldMaps() noexcept { mem_hold_begin(); }
  ~HoldMaps() { mem_hold_end(); }
  HoldMaps(const HoldMaps &) = delete;
  HoldMaps &operator=(const HoldMaps &) = delete;
};

}  // namespace

namespace {

// Decodes with the guess of "auto": its name when it has one and the bytes
// are valid in it, else the library's own decoding.
int decode_guessed(Store &s, const char *text, size_t len, char (&name)[guess_name_size],
                   std::string_view &decoded) noexcept {
  if (guess_encoding(text, len, name)) {
    const int rc = decode_to_utf8(s, text, len, name, decoded);
    if (rc != KAVLO_ERR_DECODE) return rc;
    s.last_error[0] = '\0';
  }
  return decode_to_utf8(s, text, len, nullptr, decoded);
}

bool is_auto(const char *encoding, ParseMode mode) noexcept {
  return mode.guess_auto && encoding != nullptr && str_ieq(encoding, "auto");
}

}  // namespace

int do_parse(Store &s, const char *text, size_t len, int format, const char *encoding,
             ParseMode mode) noexcept {
  const HoldMaps hold;
  clear(s);
  if (text == nullptr && len != 0) {
    set_error(s, "null text");
    return KAVLO_ERR_INVALID;
  }
  // The parsers read the decoded text without changing it, so they work on
  // it directly: converted text from the store, or the caller's own bytes
  // when those are UTF-8 already. Nothing they keep points into it.
  std::string_view decoded;
  char guessed[guess_name_size];
  const char *name = encoding;
  if (text != nullptr && len != 0) {
    int rc;
    if (is_auto(encoding, mode)) {
      rc = decode_guessed(s, text, len, guessed, decoded);
      name = guessed;
    } else {
      rc = decode_to_utf8(s, text, len, encoding, decoded);
    }
    if (rc != KAVLO_OK) return rc;
  } else {
    s.encoding = "UTF-8";
  }
  s.text_size = decoded.size();
  arena_reserve(s.arena, decoded.size());
  // A name the caller gave (or the guess) outlives this call in the store.
  if (s.encoding != nullptr && s.encoding == name) s.encoding = copy_string(s, name);
  s.detected_format =
      format == KAVLO_FORMAT_AUTO ? sniff(decoded.data(), decoded.size()) : format;
  const int rc = dispatch(s, decoded.data(), decoded.size());
  const int headers = rc == KAVLO_ERR_NOMEM ? rc : resolve_headers(s);
  finish_diagnostics(s);
  return headers != KAVLO_OK ? headers : rc;
}

int parse_file(Store &s, const char *path, int format, const char *encoding, ParseMode mode) noexcept {
  if (path == nullptr) {
    set_error(s, "null path");
    return KAVLO_ERR_INVALID;
  }
  // O_NONBLOCK keeps a FIFO without a writer from blocking the open; it
  // changes nothing for regular files.
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    set_io_error(s, errno);
    return KAVLO_ERR_IO;
  }
  struct stat st;
  const bool have_stat = ::fstat(fd, &st) == 0;
  if (have_stat && S_ISDIR(st.st_mode)) {
    ::close(fd);
    set_io_error(s, EISDIR);
    return KAVLO_ERR_IO;
  }
  ReadBlock buf;
  size_t got = 0;
  if (mode.read_streams && have_stat && !S_ISREG(st.st_mode)) {
    // A stream blocks for its writer from here on. A FIFO whose writer has
    // not come yet would read as empty: poll waits for it (Linux reports no
    // hang-up on a FIFO no writer has opened).
    if (S_ISFIFO(st.st_mode)) {
      pollfd wait{fd, POLLIN, 0};
      while (::poll(&wait, 1, -1) < 0 && errno == EINTR) {
      }
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const int rc = read_stream(s, fd, buf, got);
    ::close(fd);
    if (rc != KAVLO_OK) return rc;
  } else {
    File f(::fdopen(fd, "rb"));
    if (!f) {
      const int err = errno;
      ::close(fd);
      set_io_error(s, err);
      return KAVLO_ERR_IO;
    }
    if (::fseeko(f.get(), 0, SEEK_END) != 0) {
      set_error(s, "seek");
      return KAVLO_ERR_IO;
    }
    const off_t end = ::ftello(f.get());
    if (end < 0 || static_cast<int64_t>(end) >= max_file_size) {
      set_error(s, "tell");
      return KAVLO_ERR_IO;
    }
    const size_t size = static_cast<size_t>(end);
    std::rewind(f.get());
    buf.bytes = size + 1 >= large_block ? mapped_size(size + 1) : size + 1;
    buf.data = static_cast<char *>(block_resize(nullptr, 0, buf.bytes));
    if (buf.data == nullptr) return KAVLO_ERR_NOMEM;
    got = std::fread(buf.data, 1, size, f.get());
    f.reset();
    buf.data[got] = '\0';
  }
  const int rc = do_parse(s, buf.data, got, format, encoding, mode);
  // A large block, its pages faulted in already, becomes the block of the
  // next JSON export, which is about as large as the text: the kernel
  // then clears those pages once, not twice.
  if (s.json_text == nullptr && buf.bytes >= large_block) {
    s.json_text = buf.data;
    s.json_capacity = buf.bytes;
    buf.data = nullptr;
  }
  return rc;
}

int detect(Store &s, const char *text, size_t len) noexcept {
  if (text == nullptr) return KAVLO_FORMAT_UNKNOWN;
  block_free(s.decoded_text, s.decoded_capacity);
  s.decoded_text = nullptr;
  s.decoded_capacity = 0;
  s.decoded_len = 0;
  std::string_view decoded;
  const int rc = len != 0 ? decode_to_utf8(s, text, len, nullptr, decoded) : KAVLO_OK;
  finish_diagnostics(s);
  return rc == KAVLO_OK ? sniff(decoded.data(), decoded.size()) : KAVLO_FORMAT_UNKNOWN;
}

int detect_text(const char *text, size_t len, const char *encoding) noexcept {
  if (text == nullptr) return KAVLO_FORMAT_UNKNOWN;
  if (len == 0) return sniff(nullptr, 0);
  // A store of its own, gone with this call: no result and no last error
  // sees the decoding.
  Store scratch{};
  std::string_view decoded;
  char guessed[guess_name_size];
  const int rc = is_auto(encoding, handle_mode) ? decode_guessed(scratch, text, len, guessed, decoded)
                                                : decode_to_utf8(scratch, text, len, encoding, decoded);
  const int format = rc == KAVLO_OK ? sniff(decoded.data(), decoded.size()) : KAVLO_FORMAT_UNKNOWN;
  clear(scratch);
  return format;
}

}  // namespace kavlo
