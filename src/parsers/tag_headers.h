// The request headers that M3U tag lines set, kept for the entry that
// follows them (item_http_add).
#pragma once

#include <cstddef>
#include <string_view>

#include "../store/store.h"

namespace kavlo {

// The lower-case name of a request header that "#EXTVLCOPT:http-NAME"
// sets (NAME given), or NULL for the player's own options that send none.
const char *vlc_header_name(Store &s, std::string_view name) noexcept;

// Request headers of a Kodi property: "Name=Value&Name=Value", values
// percent-encoded.
void kodi_headers(Store &s, std::string_view value, size_t line_no) noexcept;

// "#EXTHTTP:{...}": a JSON object whose members are request headers. When
// it is one, every value a string without control characters, its headers
// are kept for the next entry (names in lower case, the first of a name
// wins, at most 64); false otherwise.
bool read_exthttp(Store &s, std::string_view json, size_t line_no) noexcept;

}  // namespace kavlo
