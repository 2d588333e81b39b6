// What a location carries besides its address: request headers after
// "|" (Kodi's "k=v&k2=v2" and iptv-org's `K="v"|K2="v2"`), and in a
// streaming list alternate addresses after "#" and a label after "$".
// Read once, after the parser, into the store's location records.
#pragma once

#include <cstddef>
#include <string_view>

#include "store.h"

namespace kavlo {

// Request headers written as "Name=Value" pairs: in a location's suffix
// (see location_headers) and in the value of a #KODIPROP ..._headers line.
// The text is split at "&" and "|", each part at its first "="; a value
// that begins with a double quote runs to the next one (separators inside
// included) and is taken without the quotes, any other value runs to the
// next separator. Parts without "=" or with an empty name add nothing.
// Names are compared with ASCII letters folded and the first value of a
// name wins; at most 64 are kept, `dropped` counts the further names and
// `first_dropped` is the first of them.
struct HeaderList {
  struct Span {  // left uninitialised: the writer makes one for every item
    const char *data;
    size_t size;
    std::string_view view() const noexcept { return {data, size}; }
  };
  int count;
  Span key[max_attrs];
  Span value[max_attrs];
  bool quoted[max_attrs];  // the value stood in double quotes
  size_t dropped;
  std::string_view first_dropped;
};
// False, leaving the pairs undefined, when no part has a name and "=".
bool header_pairs(std::string_view text, HeaderList &out) noexcept;

// The headers of a location: the URL before the first "|" and the pairs
// after it, in either dialect: "URL|User-Agent=a&Referer=b" (Kodi: values
// percent-encoded, see percent_decode) and "URL|Referer="b"|User-Agent="a""
// (iptv-org: values quoted).
struct LocationHeaders : HeaderList {
  std::string_view url;
};
// False, leaving `out` undefined, when the location has no such pair.
bool location_headers(std::string_view location, LocationHeaders &out) noexcept;

// The addresses of a streaming-list location: "URL#URL2#URL3" lists
// further addresses (a "#" followed by a scheme, "name://", separates
// them, white space around it ignored) and "URL$LABEL" gives an address
// a label (the text after its last "$", when not empty). `first` is the first address without its label,
// the alternates the others without theirs; at most 64 alternates are
// kept, `dropped` counts the rest.
struct LocationAddresses {
  std::string_view first;
  std::string_view label;
  int alternate_count;
  std::string_view alternate[max_attrs];
  size_t dropped;
  std::string_view first_dropped;
};
// False when the location has neither further addresses nor a label.
bool location_addresses(std::string_view location, LocationAddresses &out) noexcept;

// A store-owned copy of a header value: one in quotes as it stands, any
// other percent-decoded (see percent_decode). NULL when it cannot be
// copied.
const char *copy_header_value(Store &s, std::string_view value, bool quoted) noexcept;

// A header value of Kodi's dialect, percent-decoded into `out` (room for
// `in.size()` bytes): "%XX" gives the byte XX, any other "%" stays. Returns
// the length written, or SIZE_MAX when the decoded text would hold a
// control character or not be strict UTF-8 (the value then stays as
// written).
size_t percent_decode(std::string_view in, char *out) noexcept;

// Notes that the last item's location may carry more than its address.
// KAVLO_ERR_NOMEM when the note cannot be kept.
[[nodiscard]] int item_mark_suffixed(Store &s) noexcept;

// Reads the URL part, label, alternates and request headers of the
// locations of the items from `from` on into the store: those the parser
// marked with item_mark_suffixed when it marks them (`from` 0 after an M3U
// or streaming-list parse), else every one. Request headers
// in every format, addresses and labels in a streaming list.
// KAVLO_ERR_NOMEM when they cannot be kept.
[[nodiscard]] int resolve_headers(Store &s, size_t from = 0) noexcept;

// As resolve_headers for item `i` alone (an item added after the parse).
[[nodiscard]] int resolve_item_location(Store &s, size_t i) noexcept;

// The location record of item `i` at or after position `from` (a cursor
// for a walk in item order), or NULL.
inline const ItemLocation *item_location(const Store &s, size_t &from, size_t i) noexcept {
  while (from < s.location_used && s.locations[from].item < i) ++from;
  return from < s.location_used && s.locations[from].item == i ? &s.locations[from] : nullptr;
}

}  // namespace kavlo
