// Request headers, catch-up settings and diagnostics, read from the store
// (see views.h).
#include "views.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "text/text.h"
#include "store/locations.h"

namespace kavlo {

namespace {

// What an attribute key means to the views.
enum class Role { none, user_agent, referer, origin, mode, source, days, shift };

Role attr_role(const char *key) noexcept {
  if (key == nullptr) return Role::none;
  const std::string_view k(key);
  switch (k.size()) {
    case 7: return str_ieq(k, "catchup") ? Role::mode : Role::none;
    case 8: return str_ieq(k, "referrer") ? Role::referer : Role::none;
    case 9: return str_ieq(k, "tvg-shift") ? Role::shift : Role::none;
    case 10: return str_ieq(k, "user-agent") ? Role::user_agent : Role::none;
    case 11: return str_ieq(k, "http-origin") ? Role::origin : Role::none;
    case 12: return str_ieq(k, "catchup-days") ? Role::days : Role::none;
    case 13: return str_ieq(k, "http-referrer") ? Role::referer : Role::none;
    case 14: return str_ieq(k, "catchup-source") ? Role::source : Role::none;
    case 15: return str_ieq(k, "http-user-agent") ? Role::user_agent : Role::none;
    default: return Role::none;
  }
}

// Gives `name` its value unless a source before decided it. A tag line
// (`source` not 0) replaces the value of an earlier line of its own kind.
void add(HttpSet &set, const char *name, const char *value, int source = 0) noexcept {
  if (name == nullptr || value == nullptr || name[0] == '\0' || value[0] == '\0') return;
  for (int k = 0; k < set.count; ++k) {
    if (std::strcmp(set.name[k], name) != 0) continue;
    if (source != 0 && set.source[k] == source) set.value[k] = value;
    return;
  }
  if (set.count >= max_attrs) return;
  set.name[set.count] = name;
  set.value[set.count] = value;
  set.source[set.count] = source;
  ++set.count;
}

// Sources 5 and 6 of the header set, and the catch-up fields, from one
// walk over a list of attributes (the first of each wins).
void read_attrs(const ItemAttr *attrs, int count, HttpSet *http, Catchup *catchup) noexcept {
  for (int k = 0; k < count; ++k) {
    const char *v = attrs[k].value;
    if (v == nullptr || v[0] == '\0') continue;
    const char **field = nullptr;
    switch (attr_role(attrs[k].key)) {
      case Role::none: continue;
      case Role::user_agent: if (http) add(*http, "user-agent", v); continue;
      case Role::referer: if (http) add(*http, "referer", v); continue;
      case Role::origin: if (http) add(*http, "origin", v); continue;
      case Role::mode: field = catchup ? &catchup->mode : nullptr; break;
      case Role::source: field = catchup ? &catchup->source : nullptr; break;
      case Role::days: field = catchup ? &catchup->days : nullptr; break;
      case Role::shift: field = catchup ? &catchup->shift : nullptr; break;
    }
    if (field != nullptr && *field == nullptr) *field = v;
  }
}

}  // namespace

const char *HttpSet::find(const char *n) const noexcept {
  for (int k = 0; k < count; ++k)
    if (std::strcmp(name[k], n) == 0) return value[k];
  return nullptr;
}

const char *Catchup::field(const char *key) const noexcept {
  if (key == nullptr) return nullptr;
  if (str_ieq(key, "mode")) return mode;
  if (str_ieq(key, "source")) return source;
  if (str_ieq(key, "days")) return days;
  if (str_ieq(key, "shift")) return shift;
  return nullptr;
}

void header_defaults(const Store &s, ItemDefaults &out) noexcept {
  out = ItemDefaults{};
  if (s.header_attr_count > 0)
    read_attrs(s.attrs + s.header_attr_begin, s.header_attr_count, &out.http, &out.catchup);
}

HttpRange item_http_range(const Store &s, size_t i) noexcept {
  const auto [first, last] = item_records<ItemHttp>(s.http, s.http_used, i, s.stamp);
  return {first, last};
}

const ItemLocation *find_location(const Store &s, size_t i) noexcept {
  const auto [first, last] = item_records<ItemLocation>(s.locations, s.location_used, i, s.stamp);
  return first != last ? first : nullptr;
}

void item_view(const Store &s, size_t i, const ItemLocation *location, HttpRange tags,
               const ItemDefaults &defaults, HttpSet *http, Catchup *catchup) noexcept {
  if (http != nullptr) {
    http->count = 0;
    if (location != nullptr)
      for (uint32_t k = 0; k < location->count; ++k) {
        const HeaderPair &p = s.header_pairs[location->begin + k];
        add(*http, p.name, p.value);
      }
    for (const HttpSource source : {http_exthttp, http_vlcopt, http_kodiprop})
      for (const ItemHttp *h = tags.begin; h != tags.end; ++h)
        if (h->source == source) add(*http, h->name, h->value, source);
  }
  if (catchup != nullptr) *catchup = Catchup{};
  read_attrs(item_attrs(s, i), item_attr_count(s, i), http, catchup);
  if (http != nullptr)
    for (int k = 0; k < defaults.http.count; ++k) add(*http, defaults.http.name[k], defaults.http.value[k]);
  if (catchup != nullptr) {
    const Catchup &d = defaults.catchup;
    if (catchup->mode == nullptr) catchup->mode = d.mode;
    if (catchup->source == nullptr) catchup->source = d.source;
    if (catchup->days == nullptr) catchup->days = d.days;
    if (catchup->shift == nullptr) catchup->shift = d.shift;
  }
}

size_t diagnostic_count(const Store &s) noexcept {
  return static_cast<size_t>(s.warning_diagnosed_count) + s.loss_used + (s.warnings_dropped != 0) +
         (s.losses_dropped != 0);
}

bool diagnostic_at(const Store &s, size_t k, Diagnostic &out) noexcept {
  const size_t listed = static_cast<size_t>(s.warning_diagnosed_count) + s.loss_used;
  if (k < listed) {
    // Loss j stands at position after + j: the first loss at or past k.
    size_t lo = 0, hi = s.loss_used;
    while (lo < hi) {
      const size_t mid = lo + (hi - lo) / 2;
      if (static_cast<size_t>(s.losses[mid].after) + mid < k) lo = mid + 1;
      else hi = mid;
    }
    if (lo < s.loss_used && static_cast<size_t>(s.losses[lo].after) + lo == k) {
      const Loss &l = s.losses[lo];
      out = Diagnostic{l.line, l.message, l.subject != nullptr ? l.subject : ""};
      return true;
    }
    const size_t w = s.warning_diagnosed[k - lo];
    const char *subject = s.warning_subject[w];
    out = Diagnostic{s.warning_line[w], s.warnings[w], subject != nullptr ? subject : ""};
    return true;
  }
  k -= listed;
  if (s.warnings_dropped != 0) {
    if (k == 0) {
      const char *first = s.warnings_dropped_first;
      out = Diagnostic{s.warnings_dropped_line, s.warnings_dropped_message, first != nullptr ? first : ""};
      return true;
    }
    --k;
  }
  if (s.losses_dropped != 0 && k == 0) {
    const char *first = s.losses_dropped_first;
    out = Diagnostic{s.losses_dropped_line, s.losses_dropped_message, first != nullptr ? first : ""};
    return true;
  }
  return false;
}

}  // namespace kavlo
