// Decoding of the host's bytes into the UTF-8 working text of the store.
#pragma once

#include <cstddef>
#include <string_view>

#include "../store/store.h"

namespace kavlo {

// Converter name for a caller's encoding name (aliases matched with ASCII
// letters folded; any other name unchanged). NULL or "" gives NULL.
const char *resolve_encoding(const char *name) noexcept;

// Decodes `len` (>= 1) bytes to UTF-8 and sets `text` to the result: a
// byte-order mark first, then the named encoding, else a structural UTF-8
// check with the GBK -> CP1252 -> Latin-1 -> as-is fallback. Converted text
// is kept in s.decoded_text; bytes taken as they are (valid UTF-8, or the
// last fallback) are not copied, and `text` then points into `bytes`.
// Returns KAVLO_OK or KAVLO_ERR_DECODE (message in last_error).
[[nodiscard]] int decode_to_utf8(Store &s, const char *bytes, size_t len, const char *encoding,
                                 std::string_view &text) noexcept;

// Size of the output buffer of a conversion of `len` bytes: four output
// bytes per input byte cover every encoding of the alias table, and one
// more stays free for the NUL. Callers check `len` against overflow.
constexpr size_t iconv_capacity(size_t len) noexcept { return 4 * len + 16; }

// One strict conversion to UTF-8 through iconv. On success returns 0 and
// hands over a NUL-terminated buffer of iconv_capacity(len) bytes (release
// it with block_free); on failure returns -1 and leaves nothing allocated.
int iconv_to_utf8(const char *from, const char *bytes, size_t len, char **out,
                  size_t *out_len) noexcept;


}  // namespace kavlo
