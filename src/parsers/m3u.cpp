// The M3U and extended M3U parser: the #EXTM3U header, #EXTINF entries with
// their duration, attributes and title, #EXTGRP groups, location lines, and
// the IMDb date playlist decision at the end.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "../detect.h"
#include "../text.h"
#include "kavlo.h"
#include "parsers.h"

namespace kavlo {

namespace {

using sv = std::string_view;

struct PendingAttr {
  sv key;
  sv value;
};

// Everything pending is a view into the decoded text, which outlives the
// parse; only what reaches the store is copied.
struct M3uParseState {
  bool header_seen = false;
  bool extinf_pending = false;
  sv pending_title;
  int32_t pending_extinf_value = -1;
  PendingAttr pending_attrs[max_attrs];
  int pending_attr_count = 0;
  bool has_group = false;
  sv current_group;
  // The keys of the last stored entry, by position: IPTV lists repeat the
  // same keys on every entry, and equal keys share one stored copy.
  sv stored_key_text[max_attrs];
  const char *stored_key[max_attrs] = {};
  // The tag of the last kept option, shared by the options that repeat it.
  RepeatedString tag;
};

constexpr sv missing_header = "Not a valid M3U file. Missing header.";

// Equality of two short strings (attribute keys), without a library call.
[[gnu::always_inline]] inline bool same_bytes(sv a, sv b) noexcept {
  if (a.size() != b.size()) return false;
  size_t i = 0;
  for (; i + 8 <= a.size(); i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) return false;
  }
  for (; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// Bytes that end a key: "=" and white space.
struct KeyEnd {
  bool table[256] = {};
  constexpr KeyEnd() {
    for (unsigned char c : {'=', ' ', '\t', '\n', '\v', '\f', '\r'}) table[c] = true;
  }
};
constexpr KeyEnd key_end;

// Attribute list: key=value pairs, values bare or double-quoted (no
// escapes); words without "=" are skipped. At most 64 pairs are kept.
void scan_attrs(M3uParseState &st, sv a) noexcept {
  const size_t n = a.size();
  size_t i = 0;
  while (st.pending_attr_count < max_attrs) {
    i = skip_space(a, i);
    if (i >= n) return;
    const size_t t = i;
    size_t j = i;
    while (j < n && !key_end.table[static_cast<unsigned char>(a[j])]) ++j;
    if (j >= n) return;
    if (a[j] == '=' && j == t) {
      while (j < n && !is_space(static_cast<unsigned char>(a[j]))) ++j;
      if (j >= n) return;
      i = j;
      continue;
    }
    if (a[j] != '=') {
      i = j;
      continue;
    }
    const sv key = a.substr(t, j - t);
    size_t v = j + 1;
    sv value;
    if (v >= n) {
      i = n;
    } else if (a[v] == '"') {
      const size_t close = find_byte(a, v + 1, '"');
      if (close == sv::npos) {
        value = a.substr(v + 1);
        i = n;
      } else {
        value = a.substr(v + 1, close - v - 1);
        i = close + 1;
      }
    } else {
      size_t e = v;
      while (e < n && !is_space(static_cast<unsigned char>(a[e]))) ++e;
      value = a.substr(v, e - v);
      i = e;
    }
    st.pending_attrs[st.pending_attr_count++] = PendingAttr{key, value};
  }
}

void take_group(M3uParseState &st) noexcept {
  if (!st.has_group) return;
  bool has_key = false;
  for (int k = 0; k < st.pending_attr_count && !has_key; ++k)
    has_key = str_ieq(st.pending_attrs[k].key, "group-title");
  // The key is extgrp_key itself, which the stored attribute keeps (see
  // read_location), so that the writer gives the group its #EXTGRP: line.
  if (!has_key && st.pending_attr_count < max_attrs)
    st.pending_attrs[st.pending_attr_count++] = PendingAttr{sv(extgrp_key, sizeof extgrp_key - 1), st.current_group};
  st.has_group = false;
  st.current_group = sv();
}

void read_extinf(Store &s, M3uParseState &st, sv line) noexcept {
  st.pending_title = sv();
  st.pending_attr_count = 0;
  st.pending_extinf_value = -1;
  st.extinf_pending = true;

  const size_t colon = find_byte(line, 0, ':');
  if (colon == sv::npos) {
    warnf(s, "m3u: invalid EXTINF");
    take_group(st);
    return;
  }
  size_t i = skip_space(line, colon + 1);
  bool negative = false;
  if (i < line.size() && line[i] == '-') {
    negative = true;
    ++i;
  }
  if (i < line.size() && is_digit(static_cast<unsigned char>(line[i]))) {
    uint32_t v = static_cast<uint32_t>(read_digits(line, i));
    st.pending_extinf_value = static_cast<int32_t>(negative ? 0u - v : v);
  }
  const sv rest = line.substr(skip_space(line, i));

  // The title follows the last comma outside double quotes.
  const size_t split = last_unquoted_comma(rest);
  if (split == sv::npos) {
    scan_attrs(st, rest);
  } else {
    scan_attrs(st, rest.substr(0, split));
    st.pending_title = trim(rest.substr(split + 1));
  }
  take_group(st);
}

// An ignored tag line, "#TAG:KEY=VALUE", kept for the next entry: the key
// runs to the first "=" (all of the rest when there is none); a line
// without ":" is a tag alone.
void keep_option(Store &s, M3uParseState &st, sv line) noexcept {
  const sv body = line.substr(1);
  const size_t colon = find_byte(body, 0, ':');
  const sv tag = body.substr(0, colon);
  sv key, value;
  if (colon != sv::npos) {
    const sv rest = body.substr(colon + 1);
    const size_t eq = find_byte(rest, 0, '=');
    key = rest.substr(0, eq);
    if (eq != sv::npos) value = rest.substr(eq + 1);
  }
  item_option_add(s, st.tag.get(s, tag), key, value);
}

// Classifies a tag line. Only #EXTINF and #EXTGRP: act; the rest warn and
// are kept as options of the next entry.
void read_tag(Store &s, M3uParseState &st, sv line) noexcept {
  if (starts_with_icase(line, "#EXTINF")) {
    read_extinf(s, st, line);
    return;
  }
  if (starts_with_icase(line, "#EXTGRP:")) {
    st.has_group = true;
    st.current_group = trim(line.substr(8));
    return;
  }
  if (starts_with_icase(line, "#PLAYLIST:") || starts_with_icase(line, "#EXTVLCOPT") ||
      starts_with_icase(line, "#EXTIMG") || starts_with_icase(line, "#EXT-X-")) {
    warnf(s, "m3u: ignored tag");
  } else {
    warnf(s, "m3u: unknown tag");
  }
  keep_option(s, st, line);
}

// The attributes of the #EXTM3U line, read as those of an #EXTINF line.
void read_header(Store &s, M3uParseState &st, sv line) noexcept {
  scan_attrs(st, line.substr(7));
  for (int k = 0; k < st.pending_attr_count; ++k)
    header_attr_add(s, copy_string(s, st.pending_attrs[k].key), st.pending_attrs[k].value);
  st.pending_attr_count = 0;
}

[[nodiscard]] int read_location(Store &s, M3uParseState &st, sv raw, sv location,
                                size_t line) noexcept {
  if (raw.size() != location.size()) warnf(s, "m3u: location trimmed");
  if (!st.extinf_pending) {
    warnf(s, "m3u: bare path accepted");
    const int rc = item_add(s, location, sv(), -1);
    return rc == KAVLO_OK ? item_set_line(s, line) : rc;
  }
  st.extinf_pending = false;
  int rc = item_add(s, location, st.pending_title, st.pending_extinf_value);
  if (rc == KAVLO_OK) rc = item_set_line(s, line);
  if (rc != KAVLO_OK) return rc;
  for (int k = 0; k < st.pending_attr_count; ++k) {
    const PendingAttr &a = st.pending_attrs[k];
    if (a.key.data() == extgrp_key) {
      item_attr_add(s, extgrp_key, a.value);
      continue;
    }
    if (st.stored_key[k] == nullptr || !same_bytes(st.stored_key_text[k], a.key)) {
      st.stored_key[k] = copy_string(s, a.key);
      st.stored_key_text[k] = a.key;
    }
    item_attr_add(s, st.stored_key[k], a.value);
  }
  st.pending_attr_count = 0;
  st.pending_title = sv();
  return KAVLO_OK;
}

}  // namespace

void decide_imdb(Store &s) noexcept {
  s.imdb_date_playlist = 0;
  if (s.item_count == 0) return;
  for (int i = 0; i < s.item_count; ++i) {
    const PlaylistItem &it = s.items[i];
    const char *t = it.title;
    if (t == nullptr || t[0] != 't' || t[1] != 't' || it.extinf_value < 1) return;
  }
  s.imdb_date_playlist = 1;
}

int parse_m3u(Store &s, const char *text, size_t len) noexcept {
  if (looks_hls(text, len)) {
    s.detected_format = KAVLO_FORMAT_M3U8_HLS;
    set_error(s, "%s", hls_refused);
    return KAVLO_ERR_FORMAT;
  }
  M3uParseState st;
  LineCursor cur{text, len};
  sv raw;
  size_t line_no = 0;
  while (lines_next(cur, raw)) {
    ++line_no;
    const sv line = trim(raw);
    if (line.empty()) continue;
    if (!st.header_seen) {
      if (!starts_with_icase(line, "#EXTM3U")) {
        set_error(s, "%s", missing_header.data());
        return KAVLO_ERR_FORMAT;
      }
      st.header_seen = true;
      read_header(s, st, line);
    } else if (line[0] == '#') {
      read_tag(s, st, line);
    } else {
      const int rc = read_location(s, st, raw, line, line_no);
      if (rc != KAVLO_OK) return rc;
    }
  }
  drop_trailing_options(s);
  if (!st.header_seen) {
    set_error(s, "%s", missing_header.data());
    return KAVLO_ERR_FORMAT;
  }
  s.detected_format = KAVLO_FORMAT_M3U;
  decide_imdb(s);
  return KAVLO_OK;
}

}  // namespace kavlo
