// What the full document and the handle accessors read of an item without
// the store keeping it as such: the request headers a player should send,
// the catch-up settings with the #EXTM3U line's defaults, and the
// diagnostics in the order they were raised. Made from the store when
// asked for; nothing here allocates.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "mem.h"
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

// The records of item `i` in an array kept in item order (options, #EXTGRP:
// groups, tag-line headers, locations). Hosts walk items in order, asking
// for each item's records several times (a count, then each one), so the
// last range found on this thread is kept, keyed by the array, its length
// and the store's stamp: the same item is found again at once and the next
// one by a gallop from there; any other item by a binary search.
template <class T>
std::pair<const T *, const T *> item_records(const T *records, size_t used, size_t i, uint64_t stamp) noexcept {
  struct Last {
    const T *records;
    size_t used;
    uint64_t stamp;
    size_t item;
    const T *first, *last;
  };
  static KAVLO_PER_THREAD Last last{nullptr, 0, 0, 0, nullptr, nullptr};
  const T *end = records + used;
  // The first record from `from` on for which `past` holds, where it holds
  // for none before `from`.
  auto gallop = [end](const T *from, auto past) {
    size_t step = 1;
    while (step <= static_cast<size_t>(end - from) && !past(from[step - 1])) from += step, step *= 2;
    const T *to = from + std::min(step, static_cast<size_t>(end - from));
    return std::partition_point(from, to, [&](const T &r) { return !past(r); });
  };
  const T *from = records;
  if (last.records == records && last.used == used && last.stamp == stamp) {
    if (last.item == i) return {last.first, last.last};
    if (last.item < i) from = last.last;
  }
  const T *first = from == records ? std::lower_bound(records, end, i, [](const T &r, size_t v) { return r.item < v; })
                                   : gallop(from, [i](const T &r) { return r.item >= i; });
  const T *after = gallop(first, [i](const T &r) { return r.item > i; });
  last = Last{records, used, stamp, i, first, after};
  return {first, after};
}

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
