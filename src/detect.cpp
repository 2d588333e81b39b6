// Format detection. Each test looks at a bounded window at the start of the
// text, read as a C string: a NUL byte inside the window ends the window.
#include "detect.h"

#include <cstring>
#include <string_view>

#include "kavlo.h"
#include "text/text.h"

namespace kavlo {

namespace {

constexpr size_t hls_window = 65536;
constexpr size_t cue_window = 8192;
constexpr size_t url_window = 4096;

// The first `max` bytes of the text, cut at the first NUL.
std::string_view window(const char *text, size_t len, size_t max) noexcept {
  size_t n = len < max ? len : max;
  const void *nul = std::memchr(text, '\0', n);
  if (nul != nullptr) n = static_cast<size_t>(static_cast<const char *>(nul) - text);
  return {text, n};
}

bool has(std::string_view hay, std::string_view needle) noexcept {
  return hay.find(needle) != std::string_view::npos;
}

}  // namespace

bool looks_hls(const char *text, size_t len) noexcept {
  if (text == nullptr) return false;
  static constexpr std::string_view markers[] = {
      "#EXT-X-TARGETDURATION", "#EXT-X-STREAM-INF", "#EXT-X-MEDIA-SEQUENCE",
      "#EXT-X-ENDLIST",        "#EXT-X-KEY:",       "#EXT-X-MAP:",
  };
  std::string_view w = window(text, len, hls_window);
  for (std::string_view m : markers)
    if (has(w, m)) return true;
  return false;
}

int sniff(const char *text, size_t len) noexcept {
  if (text == nullptr) return KAVLO_FORMAT_UNKNOWN;
  size_t i = 0;
  while (i < len && (text[i] == '\t' || text[i] == '\n' || text[i] == '\r' || text[i] == ' ')) ++i;
  if (i < len && len - i >= 7 && std::memcmp(text + i, "#EXTM3U", 7) == 0)
    return looks_hls(text, len) ? KAVLO_FORMAT_M3U8_HLS : KAVLO_FORMAT_M3U;

  std::string_view cue = window(text, len, cue_window);
  if ((has(cue, "FILE \"") || has(cue, "\nFILE ")) && has(cue, "TRACK ") && has(cue, "INDEX "))
    return KAVLO_FORMAT_CUE;

  std::string_view url = window(text, len, url_window);
  if (has_stream_scheme(url)) return KAVLO_FORMAT_STREAMING_LIST;
  return KAVLO_FORMAT_UNKNOWN;
}

}  // namespace kavlo
