// What the full document and the handle accessors read of an item without
// the store keeping it as such: the request headers a player should send,
// the catch-up settings with the #EXTM3U line's defaults, and the
// diagnostics in the order they were raised. Made from the store when
// asked for; nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/store.h"

namespace kavlo {

// Request headers by lower-case name. The first source that gives a name a
// value that is not empty decides it; sources in the order of precedence:
//   1. the location's own headers ("URL|Name=Value...");
//   2. #EXTHTTP: objects (a later line replacing an earlier one);
//   3. #EXTVLCOPT:http-NAME options (the same);
//   4. #KODIPROP:inputstream.adaptive.*_headers lists (the same);
//   5. the item's attributes http-user-agent and user-agent ("user-agent"),
//      http-referrer and referrer ("referer"), http-origin ("origin"), the
//      first of a name winning;
//   6. the same attributes of the #EXTM3U line.
// At most 64 names, in the order they were decided.
struct HttpSet {
  int count = 0;
  const char *name[max_attrs];
  const char *value[max_attrs];
  int source[max_attrs];  // the HttpSource of a tag line's header, else 0
  // Value of a lower-case name, or NULL.
  const char *find(const char *n) const noexcept;
};

// The catch-up settings: the attributes catchup ("mode"), catchup-source,
// catchup-days and tvg-shift ("shift"), each the item's own when it has one
// that is not empty, else the #EXTM3U line's. NULL for a field neither has.
struct Catchup {
  const char *mode = nullptr;
  const char *source = nullptr;
  const char *days = nullptr;
  const char *shift = nullptr;
  bool any() const noexcept { return mode || source || days || shift; }
  // A field by name ("mode", "source", "days", "shift", letters folded);
  // NULL for another name.
  const char *field(const char *key) const noexcept;
};

// What the #EXTM3U line gives every item: sources 6 above and its
// catch-up fields.
struct ItemDefaults {
  HttpSet http;
  Catchup catchup;
};
void header_defaults(const Store &s, ItemDefaults &out) noexcept;

// The tag-line headers of one item: a range of s.http.
struct HttpRange {
  const ItemHttp *begin = nullptr;
  const ItemHttp *end = nullptr;
};
HttpRange item_http_range(const Store &s, size_t i) noexcept;

// The location record of item `i`, or NULL (a binary search).
const ItemLocation *find_location(const Store &s, size_t i) noexcept;

// The request headers and catch-up settings of item `i` (either output
// may be NULL). `location` and `tags` are the item's own (see above).
void item_view(const Store &s, size_t i, const ItemLocation *location, HttpRange tags,
               const ItemDefaults &defaults, HttpSet *http, Catchup *catchup) noexcept;

// One diagnostic: a kept warning with its line (0 for the text as a whole)
// and subject, a loss, or the count of what was dropped past either cap.
struct Diagnostic {
  uint64_t line;
  const char *message;
  const char *subject;  // "" for none
};

// The warnings (but those whose text could not be copied) and losses in
// the order raised, then the count of dropped warnings and of dropped
// losses, each when there are any.
size_t diagnostic_count(const Store &s) noexcept;
// False when `k` is out of range.
bool diagnostic_at(const Store &s, size_t k, Diagnostic &out) noexcept;

}  // namespace kavlo
