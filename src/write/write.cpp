// The playlist writers: the store as extended M3U, as a streaming URL list
// or as a CUE sheet (m3u.cpp, streaming.cpp, cue.cpp). Each writes what its
// parser reads back to the same result; their rules follow those parsers'
// readers line by line. The text goes into one block that grows without copying (a mapping of
// its own once large) and is kept for the next write. Stored strings come
// from single lines, so none holds a line break or a NUL.
#include "write.h"

#include <cstdint>
#include <cstring>

#include "kavlo.h"
#include "out.h"
#include "../detect.h"

namespace kavlo {

using namespace write_detail;

int write_playlist(Store &s, int format, unsigned flags, const char **text, size_t *length) noexcept {
  if (length != nullptr) *length = 0;
  if (text == nullptr) return KAVLO_ERR_INVALID;
  *text = nullptr;
  if ((flags & ~(write_bom | write_crlf)) != 0) return KAVLO_ERR_INVALID;
  if (format == KAVLO_FORMAT_AUTO) format = s.detected_format;
  if (format != KAVLO_FORMAT_M3U && format != KAVLO_FORMAT_STREAMING_LIST && format != KAVLO_FORMAT_CUE)
    return KAVLO_ERR_FORMAT;
  if (format == KAVLO_FORMAT_CUE && s.detected_format != KAVLO_FORMAT_CUE) return KAVLO_ERR_FORMAT;

  Out o(s, (flags & write_crlf) != 0);
  // About the size of the text, from the store's own sizes, so that a
  // large write rarely grows.
  const size_t estimate = stored_bytes(s) + static_cast<size_t>(s.item_count) * 24 + s.attr_used * 8 +
                          s.option_used * 16 + static_cast<size_t>(s.track_count) * 48 + s.index_used * 24 +
                          s.rem_used * 12 + 64;
  if (!o.need(estimate)) return KAVLO_ERR_NOMEM;
  const size_t mark = (flags & write_bom) != 0 ? 3 : 0;
  if (mark != 0) o.lit(bom);
  const bool ok = format == KAVLO_FORMAT_M3U             ? write_m3u(o, s)
                  : format == KAVLO_FORMAT_STREAMING_LIST ? write_streaming(o, s)
                                                          : write_cue(o, s);
  if (!ok) return KAVLO_ERR_NOMEM;
  // An HLS marker in the first 64 KiB (an option "#EXT-X-ENDLIST", a title
  // naming one) would have the text refused: blank lines, which the
  // reader skips before the header, push it past them.
  if (format == KAVLO_FORMAT_M3U && looks_hls(o.text() + mark, o.size() - mark)) {
    const size_t eol = o.eol_size();
    if (!o.insert(mark, hls_window, [eol](char *p) {
          for (size_t k = 0; k < hls_window; k += eol) {
            if (eol == 2) p[k] = '\r';
            p[k + eol - 1] = '\n';
          }
        }))
      return KAVLO_ERR_NOMEM;
  }
  // A text that begins with U+FEFF (a streaming-list name) would lose it to
  // the reader as a byte-order mark: a mark before it keeps it.
  if (mark == 0 && o.size() >= 3 && std::memcmp(o.text(), bom, 3) == 0 &&
      !o.insert(0, 3, [](char *p) { std::memcpy(p, bom, 3); }))
    return KAVLO_ERR_NOMEM;
  if (!o.need(1)) return KAVLO_ERR_NOMEM;
  const size_t n = o.size();
  o.ch('\0');
  *text = s.write_text;
  if (length != nullptr) *length = n;
  return KAVLO_OK;
}

}  // namespace kavlo
