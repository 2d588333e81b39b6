// Reading the suffixes of locations into the store.
#include "locations.h"

#include <climits>
#include <cstring>

#include "kavlo.h"
#include "messages.h"
#include "../mem.h"
#include "../text/text.h"
#include "../text/utf8.h"

namespace kavlo {

namespace {

constexpr bool is_separator(char c) noexcept { return c == '&' || c == '|'; }

size_t next_separator(std::string_view text, size_t i) noexcept {
  while (i < text.size() && !is_separator(text[i])) ++i;
  return i;
}

}  // namespace

bool header_pairs(std::string_view text, HeaderList &out) noexcept {
  out.count = 0;
  out.dropped = 0;
  out.first_dropped = {};
  bool any = false;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    if (is_separator(text[i])) {
      ++i;
      continue;
    }
    size_t eq = i;
    while (eq < n && text[eq] != '=' && !is_separator(text[eq])) ++eq;
    if (eq >= n || text[eq] != '=') {
      i = eq;
      continue;
    }
    const std::string_view key = text.substr(i, eq - i);
    const size_t v = eq + 1;
    std::string_view value;
    const bool quoted = v < n && text[v] == '"';
    if (quoted) {
      const size_t close = find_byte(text, v + 1, '"');
      if (close == std::string_view::npos) {
        value = text.substr(v + 1);
        i = n;
      } else {
        value = text.substr(v + 1, close - v - 1);
        i = next_separator(text, close + 1);  // what follows the quote is dropped
      }
    } else {
      i = next_separator(text, v);
      value = text.substr(v, i - v);
    }
    if (key.empty()) continue;
    any = true;
    bool seen = false;
    for (int k = 0; k < out.count && !seen; ++k) seen = str_ieq(out.key[k].view(), key);
    if (seen) continue;
    if (out.count < max_attrs) {
      out.key[out.count] = {key.data(), key.size()};
      out.value[out.count] = {value.data(), value.size()};
      out.quoted[out.count] = quoted;
      ++out.count;
    } else if (out.dropped++ == 0) {
      out.first_dropped = key;
    }
  }
  return any;
}

bool location_headers(std::string_view location, LocationHeaders &out) noexcept {
  const size_t bar = location.find('|');
  if (bar == std::string_view::npos) return false;
  out.url = location.substr(0, bar);
  return header_pairs(location.substr(bar + 1), out);
}

namespace {

// A scheme, "name://", at the start of `s`: a letter, then letters,
// digits, "+", "-" or ".".
bool starts_with_scheme(std::string_view s) noexcept {
  if (s.empty() || to_lower(static_cast<unsigned char>(s[0])) < 'a' || to_lower(static_cast<unsigned char>(s[0])) > 'z')
    return false;
  size_t i = 1;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (!((to_lower(c) >= 'a' && to_lower(c) <= 'z') || is_digit(c) || c == '+' || c == '-' || c == '.')) break;
    ++i;
  }
  return s.substr(i, 3) == "://";
}

// An address without its label: the text after its last "$", when not
// empty.
std::string_view split_label(std::string_view address, std::string_view &label) noexcept {
  const size_t dollar = address.rfind('$');
  label = {};
  if (dollar == std::string_view::npos || dollar + 1 >= address.size()) return address;
  label = trim(address.substr(dollar + 1));
  return label.empty() ? address : trim(address.substr(0, dollar));
}

}  // namespace

bool location_addresses(std::string_view location, LocationAddresses &out) noexcept {
  out.alternate_count = 0;
  out.dropped = 0;
  out.first_dropped = {};
  size_t start = 0;
  bool first = true;
  for (size_t i = 0;; ++i) {
    i = find_byte(location, i, '#');
    if (i != std::string_view::npos && !starts_with_scheme(location.substr(skip_space(location, i + 1)))) continue;
    const size_t end = i == std::string_view::npos ? location.size() : i;
    std::string_view label;
    const std::string_view address = split_label(trim(location.substr(start, end - start)), label);
    if (first) {
      out.first = address;
      out.label = label;
      first = false;
    } else if (!address.empty()) {
      if (out.alternate_count < max_attrs) out.alternate[out.alternate_count++] = address;
      else if (out.dropped++ == 0) out.first_dropped = address;
    }
    if (i == std::string_view::npos) break;
    start = i + 1;
  }
  return out.alternate_count > 0 || out.dropped > 0 || !out.label.empty();
}

namespace {

int hex_digit(unsigned char c) noexcept {
  if (is_digit(c)) return c - '0';
  c = to_lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

}  // namespace

size_t percent_decode(std::string_view in, char *out) noexcept {
  size_t n = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    const auto c = static_cast<unsigned char>(in[i]);
    if (c == '%' && i + 2 < in.size()) {
      const int hi = hex_digit(static_cast<unsigned char>(in[i + 1]));
      const int lo = hex_digit(static_cast<unsigned char>(in[i + 2]));
      if (hi >= 0 && lo >= 0) {
        out[n++] = static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out[n++] = static_cast<char>(c);
  }
  const std::string_view decoded(out, n);
  for (const char c : decoded)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return SIZE_MAX;
  return is_strict_utf8(decoded) ? n : SIZE_MAX;
}

const char *copy_header_value(Store &s, std::string_view value, bool quoted) noexcept {
  if (quoted || find_byte(value, 0, '%') == std::string_view::npos) return copy_string(s, value);
  char *out = arena_alloc(s.arena, value.size() + 1);
  if (out == nullptr) return nullptr;
  size_t n = percent_decode(value, out);
  if (n == SIZE_MAX) {
    std::memcpy(out, value.data(), value.size());
    n = value.size();
  }
  out[n] = '\0';
  return out;
}

namespace {

// The lower-case name of a header: the key itself when it is lower case.
const char *lower_name(Store &s, const char *key) noexcept {
  for (const char *p = key; *p != '\0'; ++p)
    if (*p >= 'A' && *p <= 'Z') return copy_lower(s, key);
  return key;
}

// Stage of the warnings of the format parsed.
const char *stage(const Store &s) noexcept {
  switch (s.detected_format) {
    case KAVLO_FORMAT_STREAMING_LIST: return "streaming";
    case KAVLO_FORMAT_CUE: return "cue";
    default: return "m3u";
  }
}

// Reads one location into the store; false when it cannot be kept.
bool resolve_location(Store &s, int i, bool streaming) noexcept;

}  // namespace

int item_mark_suffixed(Store &s) noexcept {
  if (append_slot(s.suffixed, s.suffixed_capacity, s.suffixed_used, 16) == nullptr) return KAVLO_ERR_NOMEM;
  s.suffixed[s.suffixed_used++] = s.item_count - 1;
  return KAVLO_OK;
}


int resolve_item_location(Store &s, size_t i) noexcept {
  const char *location = s.items[i].location;
  const bool streaming = s.detected_format == KAVLO_FORMAT_STREAMING_LIST;
  if (location == nullptr ||
      (streaming ? std::strpbrk(location, "|#$") == nullptr : std::strchr(location, '|') == nullptr))
    return KAVLO_OK;
  return resolve_location(s, static_cast<int>(i), streaming) ? KAVLO_OK : KAVLO_ERR_NOMEM;
}

int resolve_headers(Store &s, size_t from) noexcept {
  const bool streaming = s.detected_format == KAVLO_FORMAT_STREAMING_LIST;
  if (s.suffixes_marked && from == 0) {
    for (size_t k = 0; k < s.suffixed_used; ++k)
      if (!resolve_location(s, s.suffixed[k], streaming)) return KAVLO_ERR_NOMEM;
    return KAVLO_OK;
  }
  // The items of a CUE sheet share the string of their FILE: a location
  // found plain is not looked at again for the next item.
  const char *plain = nullptr;
  for (size_t i = from; i < static_cast<size_t>(s.item_count); ++i) {
    const char *location = s.items[i].location;
    if (location == nullptr || location == plain) continue;
    const bool suffixed =
        streaming ? std::strpbrk(location, "|#$") != nullptr : std::strchr(location, '|') != nullptr;
    if (!suffixed) {
      plain = location;
      continue;
    }
    if (!resolve_location(s, static_cast<int>(i), streaming)) return KAVLO_ERR_NOMEM;
  }
  return KAVLO_OK;
}

namespace {

bool resolve_location(Store &s, int i, bool streaming) noexcept {
  const char *location = s.items[i].location;
  if (location == nullptr) return true;
  LocationAddresses a;
  const bool has_addresses = streaming && location_addresses(location, a);
  const std::string_view first = has_addresses ? a.first : std::string_view(location);
  LocationHeaders h;
  const bool has_headers = location_headers(first, h);
  if (!has_addresses && !has_headers) return true;
  const int pairs = has_headers ? h.count : 0;
  const int alternates = has_addresses ? a.alternate_count : 0;
  if (append_slot(s.locations, s.location_capacity, s.location_used, 16) == nullptr ||
      !grow_array(s.header_pairs, s.header_pair_capacity, s.header_pair_used + static_cast<size_t>(pairs), 64,
                  UINT32_MAX) ||
      !grow_array(s.alternates, s.alternate_capacity, s.alternate_used + static_cast<size_t>(alternates), 16,
                  UINT32_MAX))
    return false;
  const std::string_view url = has_headers ? h.url : first;
  const char *url_copy = url.empty() ? nullptr : copy_string(s, url);
  const char *label = has_addresses && !a.label.empty() ? copy_string(s, a.label) : nullptr;
  if ((!url.empty() && url_copy == nullptr) || (has_addresses && !a.label.empty() && label == nullptr)) return false;
  ItemLocation rec{static_cast<size_t>(i), url_copy, label, static_cast<uint32_t>(s.header_pair_used), 0,
                   static_cast<uint32_t>(s.alternate_used), 0};
  for (int k = 0; k < pairs; ++k) {
    const char *key = copy_string(s, h.key[k].view());
    const char *value = copy_header_value(s, h.value[k].view(), h.quoted[k]);
    const char *name = key != nullptr ? lower_name(s, key) : nullptr;
    if (key == nullptr || value == nullptr || name == nullptr) return false;
    s.header_pairs[s.header_pair_used++] = HeaderPair{key, value, name};
  }
  for (int k = 0; k < alternates; ++k) {
    const char *alternate = copy_string(s, a.alternate[k]);
    if (alternate == nullptr) return false;
    s.alternates[s.alternate_used++] = alternate;
  }
  rec.count = static_cast<uint32_t>(pairs);
  rec.alternate_count = static_cast<uint32_t>(alternates);
  s.locations[s.location_used++] = rec;
  const uint64_t line = item_line(s, static_cast<size_t>(i));
  if (has_headers && h.dropped != 0)
    loss_at(s, line, h.first_dropped, "%s: request headers past the 64th dropped: %zu", stage(s), h.dropped);
  if (has_addresses && a.dropped != 0)
    loss_at(s, line, a.first_dropped, "streaming: alternate addresses past the 64th dropped: %zu", a.dropped);
  return true;
}

}  // namespace

}  // namespace kavlo
