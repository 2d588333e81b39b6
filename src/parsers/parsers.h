// The format parsers. Each reads `len` bytes of decoded UTF-8 text (not
// NUL-terminated, never written), fills the store only through its
// operations, keeps no pointer into the text and returns a status code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "../store/messages.h"
#include "../store/store.h"
#include "../text/text.h"

namespace kavlo {

// The error text of a refused HLS manifest.
inline constexpr const char *hls_refused = "HLS manifest detected; not parsed as playlist items";

[[nodiscard]] int parse_m3u(Store &s, const char *text, size_t len) noexcept;
[[nodiscard]] int parse_streaming_list(Store &s, const char *text, size_t len) noexcept;
[[nodiscard]] int parse_cue(Store &s, const char *text, size_t len) noexcept;

// Calls `line(raw, trimmed, line_no)` for every line of the text that is
// not blank once trimmed (line_no 1-based), and records the loss of a line
// cut at a NUL byte as "STAGE: line cut at a NUL byte". Stops at the first
// status other than KAVLO_OK, and returns it.
template <class Line>
int for_each_line(Store &s, const char *text, size_t len, const char *stage, Line &&line) noexcept {
  LineCursor cur{text, len};
  std::string_view raw;
  size_t line_no = 0;
  while (lines_next(cur, raw)) {
    ++line_no;
    const std::string_view trimmed = trim(raw);
    if (cur.cut) loss_at(s, line_no, trimmed, "%s: line cut at a NUL byte", stage);
    if (trimmed.empty()) continue;
    if (const int rc = line(raw, trimmed, line_no); rc != 0) return rc;
  }
  return 0;
}

// The IMDb date playlist decision the M3U parser makes at its end: every
// title starts with "tt" and every #EXTINF number is positive (that number
// is then the release date, see item_release_date). Sets or clears the flag.
void decide_imdb(Store &s) noexcept;

// Keeps the EPG addresses of an x-tvg-url or url-tvg attribute of the
// #EXTM3U line: comma-separated, trimmed, each once, at most 64; counts
// those past the 64th in `dropped`, the first of them in `first_dropped`.
void keep_epg(Store &s, std::string_view list, size_t &dropped, std::string_view &first_dropped) noexcept;

// The separator of a streaming-list line: the first ASCII comma or
// full-width comma (U+FF0C), found a character at a time, so that a comma
// byte inside a multi-byte sequence never separates. `len` 0: none.
struct StreamSeparator {
  size_t pos;
  size_t len;
};
StreamSeparator stream_separator(std::string_view line) noexcept;

// Reads a run of ASCII digits at `pos` as a decimal number. Runs too long
// for 32 bits wrap modulo 2^32 (unsigned arithmetic, then taken as a signed
// 32-bit value), so hostile input never overflows a signed integer.
inline int32_t read_digits(std::string_view s, size_t &pos) noexcept {
  uint32_t v = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9')
    v = v * 10u + static_cast<uint32_t>(s[pos++] - '0');
  return static_cast<int32_t>(v);
}

}  // namespace kavlo
