// The playlist writers, and results built from the items of others: the
// store rendered as extended M3U, as a streaming URL list or as a CUE
// sheet, in text that the parsers read back to the same result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../store/store.h"

namespace kavlo {

// Flags of write_playlist, the public KAVLO_WRITE_ values.
constexpr unsigned write_bom = 1u;   // begin with the UTF-8 byte-order mark
constexpr unsigned write_crlf = 2u;  // end every line with CR LF, not LF

// Renders the result of `s` as playlist text in `format`: KAVLO_FORMAT_M3U
// or KAVLO_FORMAT_STREAMING_LIST from any result, KAVLO_FORMAT_CUE from a
// CUE result, KAVLO_FORMAT_AUTO for the result's own format. The text goes
// into the store's write block (s.write_text), which the next write reuses.
// On KAVLO_OK, *text is the NUL-terminated text and *length (when not NULL)
// its size. On failure *text is NULL and *length 0: KAVLO_ERR_INVALID for a
// NULL `text` or unknown flags, KAVLO_ERR_FORMAT for a format that cannot
// be written from this result, KAVLO_ERR_NOMEM when the block cannot grow.
[[nodiscard]] int write_playlist(Store &s, int format, unsigned flags, const char **text,
                                 size_t *length) noexcept;

// Appends copies of the items `items[0..count)` of `src` (all of them, in
// order, for NULL and 0) to `dst`, with everything they carry; see
// kavlo_playlist_append() in kavlo.h for the rules. All or nothing: on
// failure `dst` holds what it held. Returns a status code.
[[nodiscard]] int append_items(Store &dst, const Store &src, const int *items, size_t count) noexcept;

// Results built entry by entry (kavlo_playlist_add_item() and the calls
// after it in kavlo.h): an item at the end, an attribute or option of the
// last item, an attribute of the #EXTM3U line. Each checks its strings
// against what the written text can give back; KAVLO_ERR_INVALID stores
// nothing, KAVLO_ERR_NOMEM leaves the store as it was.
[[nodiscard]] int build_item(Store &s, const char *location, const char *title, int64_t duration_ms) noexcept;
[[nodiscard]] int build_attr(Store &s, const char *key, const char *value) noexcept;
[[nodiscard]] int build_option(Store &s, const char *tag, const char *key, const char *value) noexcept;
[[nodiscard]] int build_header_attr(Store &s, const char *key, const char *value) noexcept;

}  // namespace kavlo
