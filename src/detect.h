// Format detection over bounded windows of the decoded text.
#pragma once

#include <cstddef>

namespace kavlo {

// Format code (0 to 4) of a decoded text; never KAVLO_FORMAT_AUTO.
int sniff(const char *text, size_t len) noexcept;

// True when one of the HLS markers stands in the first 64 KiB.
bool looks_hls(const char *text, size_t len) noexcept;

}  // namespace kavlo
