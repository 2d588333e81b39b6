// The parse driver: clear, decode, detect, dispatch. Also whole-file reading
// for the file entry points, and detection without parsing.
#include "driver.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "decode/decode.h"
#include "detect.h"
#include "kavlo.h"
#include "mem.h"
#include "parsers/parsers.h"

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

int dispatch(Store &s, const char *text, size_t len) noexcept {
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

int do_parse(Store &s, const char *text, size_t len, int format, const char *encoding) noexcept {
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
  if (text != nullptr && len != 0) {
    const int rc = decode_to_utf8(s, text, len, encoding, decoded);
    if (rc != KAVLO_OK) return rc;
  }
  s.text_size = decoded.size();
  arena_reserve(s.arena, decoded.size());
  s.detected_format =
      format == KAVLO_FORMAT_AUTO ? sniff(decoded.data(), decoded.size()) : format;
  return dispatch(s, decoded.data(), decoded.size());
}

int parse_file(Store &s, const char *path, const char *encoding) noexcept {
  if (path == nullptr) {
    set_error(s, "null path");
    return KAVLO_ERR_INVALID;
  }
  // O_NONBLOCK keeps a FIFO without a writer from blocking the open; it
  // changes nothing for regular files.
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    set_error(s, "io: %s", std::strerror(errno));
    return KAVLO_ERR_IO;
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    set_error(s, "io: %s", std::strerror(EISDIR));
    return KAVLO_ERR_IO;
  }
  File f(::fdopen(fd, "rb"));
  if (!f) {
    int err = errno;
    ::close(fd);
    set_error(s, "io: %s", std::strerror(err));
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
  ReadBlock buf;
  buf.bytes = size + 1 >= large_block ? mapped_size(size + 1) : size + 1;
  buf.data = static_cast<char *>(block_resize(nullptr, 0, buf.bytes));
  if (buf.data == nullptr) return KAVLO_ERR_NOMEM;
  const size_t got = std::fread(buf.data, 1, size, f.get());
  f.reset();
  buf.data[got] = '\0';
  const int rc = do_parse(s, buf.data, got, KAVLO_FORMAT_AUTO, encoding);
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
  if (len != 0 && decode_to_utf8(s, text, len, nullptr, decoded) != KAVLO_OK)
    return KAVLO_FORMAT_UNKNOWN;
  return sniff(decoded.data(), decoded.size());
}

}  // namespace kavlo
