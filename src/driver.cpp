// The parse driver: clear, decode, detect, dispatch, for texts, files
// (read by io/) and descriptors; and detection without parsing.
#include "driver.h"

#include <cstdint>
#include <cstring>

#include "decode/decode.h"
#include "decode/guess.h"
#include "detect.h"
#include "io/read.h"
#include "kavlo.h"
#include "mem.h"
#include "parsers/parsers.h"
#include "store/locations.h"
#include "store/messages.h"
#include "text/text.h"

namespace kavlo {

namespace {

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
struct KeepLargeBlocks {
  KeepLargeBlocks() noexcept { mem_hold_begin(); }
  ~KeepLargeBlocks() { mem_hold_end(); }
  KeepLargeBlocks(const KeepLargeBlocks &) = delete;
  KeepLargeBlocks &operator=(const KeepLargeBlocks &) = delete;
};

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
  const KeepLargeBlocks hold;
  clear(s);
  if (text == nullptr && len != 0) {
    set_error(s, "null text");
    return KAVLO_ERR_INVALID;
  }
  s.input_size = len;
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
    if (rc != KAVLO_OK) {
      if (mode.detect_only) s.detected_format = KAVLO_FORMAT_UNKNOWN;
      return rc;
    }
  } else {
    s.encoding = "UTF-8";
  }
  s.text_size = decoded.size();
  arena_reserve(s.arena, decoded.size());
  // A name the caller gave (or the guess) outlives this call in the store.
  if (s.encoding != nullptr && s.encoding == name) s.encoding = copy_string(s, name);
  s.detected_format =
      format == KAVLO_FORMAT_AUTO ? sniff(decoded.data(), decoded.size()) : format;
  if (mode.detect_only) {
    finish_diagnostics(s);
    return KAVLO_OK;
  }
  const int rc = dispatch(s, decoded.data(), decoded.size());
  const int headers = rc == KAVLO_ERR_NOMEM ? rc : resolve_headers(s);
  finish_diagnostics(s);
  return headers != KAVLO_OK ? headers : rc;
}

namespace {

// Parses what was read, whose block may serve the next JSON export.
int parse_read(Store &s, ReadBlock &buf, size_t got, int format, const char *encoding, ParseMode mode) noexcept {
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

}  // namespace

int parse_file(Store &s, const char *path, int format, const char *encoding, ParseMode mode) noexcept {
  ReadBlock buf;
  size_t got = 0;
  const int rc = read_path(s, path, mode.read_streams, buf, got);
  return rc != KAVLO_OK ? rc : parse_read(s, buf, got, format, encoding, mode);
}

int parse_fd(Store &s, int fd, int format, const char *encoding, ParseMode mode) noexcept {
  ReadBlock buf;
  size_t got = 0;
  const int rc = read_fd(s, fd, buf, got);
  return rc != KAVLO_OK ? rc : parse_read(s, buf, got, format, encoding, mode);
}

int detect(Store &s, const char *text, size_t len) noexcept {
  if (text == nullptr) return KAVLO_FORMAT_UNKNOWN;
  block_free(s.decoded_text, s.decoded_capacity);
  s.decoded_text = nullptr;
  s.decoded_capacity = 0;
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
