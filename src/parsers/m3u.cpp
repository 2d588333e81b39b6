// The M3U and extended M3U parser: the #EXTM3U header, #EXTINF entries with
// their duration, attributes and title, #EXTGRP groups, location lines, and
// the IMDb date playlist decision at the end. For the full document it also
// keeps the tag lines it does not read, their request headers, the list's
// title and EPG addresses, and what it drops without a warning.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "../detect.h"
#include "../text/text.h"
#include "kavlo.h"
#include "parsers.h"
#include "tag_headers.h"
#include "../store/messages.h"
#include "../store/locations.h"
#include "../text/utf8.h"

namespace kavlo {

namespace {

using sv = std::string_view;

struct PendingAttr {
  sv key;
  sv value;
};

// The kind of a kept option's tag, as far as request headers go.
enum class TagKind { other, vlcopt, kodiprop, exthttp };

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
  LastCopy tag;
  // The stored tag last classified by option_headers, and its kind.
  const char *kind_tag = nullptr;
  TagKind kind = TagKind::other;
  // The stored copy of the last #EXTGRP: line that names one group, and
  // the text it copies: the "group-title" it gives shares it.
  sv group_text;
  const char *group_copy = nullptr;
  // Attributes of the last scanned list past the 64th: their count and
  // the key of the first.
  size_t attrs_dropped = 0;
  sv first_dropped;
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
// escapes); words without "=" are skipped. At most 64 pairs are kept; the
// further ones are counted.
void scan_attrs(M3uParseState &st, sv a) noexcept {
  const size_t n = a.size();
  size_t i = 0;
  st.attrs_dropped = 0;
  for (;;) {
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
    if (st.pending_attr_count < max_attrs) {
      st.pending_attrs[st.pending_attr_count++] = PendingAttr{key, value};
    } else if (st.attrs_dropped++ == 0) {
      st.first_dropped = key;
    }
  }
}

// The attributes of a line past the 64th, reported.
void report_dropped_attrs(Store &s, const M3uParseState &st, size_t line_no) noexcept {
  if (st.attrs_dropped != 0)
    loss_at(s, line_no, st.first_dropped, "m3u: attributes past the 64th dropped: %zu", st.attrs_dropped);
}

void take_group(Store &s, M3uParseState &st, size_t line_no) noexcept {
  if (!st.has_group) return;
  bool has_key = false;
  for (int k = 0; k < st.pending_attr_count && !has_key; ++k)
    has_key = str_ieq(st.pending_attrs[k].key, "group-title");
  // The key is extgrp_key itself, which the stored attribute keeps (see
  // read_location), so that the writer gives the group its #EXTGRP: line.
  if (!has_key && st.pending_attr_count < max_attrs)
    st.pending_attrs[st.pending_attr_count++] = PendingAttr{sv(extgrp_key, sizeof extgrp_key - 1), st.current_group};
  else if (!has_key)
    loss_at(s, line_no, st.current_group, "m3u: EXTGRP group dropped past the 64th attribute");
  st.has_group = false;
  st.current_group = sv();
}

// A duration written with a fraction ("10.5") keeps its whole seconds;
// a fraction other than zeros is reported.
void report_fraction(Store &s, sv line, size_t digits, size_t i, size_t line_no) noexcept {
  if (i + 1 >= line.size() || line[i] != '.' || !is_digit(static_cast<unsigned char>(line[i + 1]))) return;
  size_t e = i + 1;
  bool lost = false;
  for (; e < line.size() && is_digit(static_cast<unsigned char>(line[e])); ++e) lost = lost || line[e] != '0';
  if (lost) loss_at(s, line_no, line.substr(digits, e - digits), "m3u: fraction of the EXTINF duration dropped");
}

void read_extinf(Store &s, M3uParseState &st, sv line, size_t line_no) noexcept {
  st.pending_title = sv();
  st.pending_attr_count = 0;
  st.pending_extinf_value = -1;
  st.extinf_pending = true;

  const size_t colon = find_byte(line, 0, ':');
  if (colon == sv::npos) {
    warn_at(s, line_no, line, "m3u: invalid EXTINF");
    take_group(s, st, line_no);
    return;
  }
  size_t i = skip_space(line, colon + 1);
  bool negative = false;
  if (i < line.size() && line[i] == '-') {
    negative = true;
    ++i;
  }
  if (i < line.size() && is_digit(static_cast<unsigned char>(line[i]))) {
    const size_t digits = i;
    uint32_t v = static_cast<uint32_t>(read_digits(line, i));
    st.pending_extinf_value = static_cast<int32_t>(negative ? 0u - v : v);
    if (!negative) report_fraction(s, line, digits, i, line_no);
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
  report_dropped_attrs(s, st, line_no);
  take_group(s, st, line_no);
}

// The request headers a kept option sets: "#EXTVLCOPT:http-NAME=VALUE"
// (surrounding quotes removed), the header lists of
// "#KODIPROP:inputstream.adaptive.{stream,manifest,common}_headers" and
// the JSON object of "#EXTHTTP:", the text after the tag's ":" (`rest`).
void option_headers(Store &s, M3uParseState &st, const ItemOption &o, sv rest, size_t line_no) noexcept {
  // Options that repeat a tag share its stored copy: its kind is found once.
  if (o.tag != st.kind_tag) {
    st.kind_tag = o.tag;
    st.kind = str_ieq(o.tag, "EXTVLCOPT") ? TagKind::vlcopt
              : str_ieq(o.tag, "KODIPROP") ? TagKind::kodiprop
              : str_ieq(o.tag, "EXTHTTP")  ? TagKind::exthttp
                                           : TagKind::other;
  }
  if (st.kind == TagKind::exthttp) {
    (void)read_exthttp(s, trim(rest), line_no);
    return;
  }
  const sv key = o.key;
  if (st.kind == TagKind::vlcopt) {
    if (!starts_with_icase(key, "http-")) return;
    const char *name = vlc_header_name(s, key.substr(5));
    const sv value = o.value;
    const sv unquoted = strip_quotes(value);
    item_http_add(s, http_vlcopt, name, unquoted.size() == value.size() ? o.value : copy_string(s, unquoted));
  } else if (st.kind == TagKind::kodiprop) {
    if (str_ieq(key, "inputstream.adaptive.stream_headers") || str_ieq(key, "inputstream.adaptive.manifest_headers") ||
        str_ieq(key, "inputstream.adaptive.common_headers"))
      kodi_headers(s, o.value, line_no);
  }
}

// An ignored tag line, "#TAG:KEY=VALUE", kept for the next entry: the key
// runs to the first "=" (all of the rest when there is none); a line
// without ":" is a tag alone.
// `colon` is the position of the line's first ":", or npos.
void keep_option(Store &s, M3uParseState &st, sv line, size_t colon, size_t line_no) noexcept {
  const sv tag = line.substr(1, colon == sv::npos ? sv::npos : colon - 1);
  sv rest, key, value;
  if (colon != sv::npos) {
    rest = line.substr(colon + 1);
    const size_t eq = find_byte(rest, 0, '=');
    key = rest.substr(0, eq);
    if (eq != sv::npos) value = rest.substr(eq + 1);
  }
  if (const ItemOption *o = item_option_add(s, st.tag.get(s, tag), key, value))
    option_headers(s, st, *o, rest, line_no);
}

// A comment: "#" not followed by a tag name (a letter, then letters,
// digits, "-" and "_", then white space at most, up to ":" or the end of
// the line).
bool is_comment(sv line) noexcept {
  const size_t n = line.size();
  auto letter = [](unsigned char c) { return (to_lower(c) >= 'a' && to_lower(c) <= 'z'); };
  if (n < 2 || !letter(static_cast<unsigned char>(line[1]))) return true;
  size_t i = 2;
  while (i < n) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (!letter(c) && !is_digit(c) && c != '-' && c != '_') break;
    ++i;
  }
  i = skip_space(line, i);
  return i < n && line[i] != ':';
}

// The groups of an "#EXTGRP:" line, split at ";", for the entry whose
// location follows.
void keep_groups(Store &s, M3uParseState &st, sv value) noexcept {
  st.group_copy = nullptr;
  for (size_t start = 0;;) {
    const size_t semi = find_byte(value, start, ';');
    const sv group = trim(value.substr(start, semi == sv::npos ? sv::npos : semi - start));
    if (!group.empty()) {
      const char *copy = item_extgrp_add(s, group);
      if (group.size() == value.size()) {
        st.group_text = value;
        st.group_copy = copy;
      }
    }
    if (semi == sv::npos) return;
    start = semi + 1;
  }
}

// Classifies a tag line. Only #EXTINF and #EXTGRP: act; the rest warn. Of
// those, #PLAYLIST: gives the list's title, a comment nothing, and every
// other line an option of the next entry, with the request headers it
// sets.
void read_tag(Store &s, M3uParseState &st, sv line, size_t line_no) noexcept {
  if (starts_with_icase(line, "#EXTINF")) {
    read_extinf(s, st, line, line_no);
    return;
  }
  if (starts_with_icase(line, "#EXTGRP:")) {
    st.has_group = true;
    st.current_group = trim(line.substr(8));
    keep_groups(s, st, st.current_group);
    return;
  }
  // The subject of the warning: the tag, up to the ":"; a comment whole.
  const size_t colon = find_byte(line, 0, ':');
  const sv tag = line.substr(0, colon);
  const bool playlist = starts_with_icase(line, "#PLAYLIST:");
  if (playlist || starts_with_icase(line, "#EXTVLCOPT") || starts_with_icase(line, "#EXTIMG") ||
      starts_with_icase(line, "#EXT-X-")) {
    warn_at(s, line_no, tag, "m3u: ignored tag");
  } else if (is_comment(line)) {
    warn_at(s, line_no, line, "m3u: unknown tag");
    return;
  } else {
    warn_at(s, line_no, tag, "m3u: unknown tag");
  }
  if (playlist) {
    const sv title = trim(line.substr(10));
    if (s.title == nullptr && !title.empty()) s.title = copy_string(s, title);
    return;
  }
  keep_option(s, st, line, colon, line_no);
}

// The attributes of the #EXTM3U line, read as those of an #EXTINF line.
void read_header(Store &s, M3uParseState &st, sv line, size_t line_no) noexcept {
  scan_attrs(st, line.substr(7));
  report_dropped_attrs(s, st, line_no);
  size_t dropped = 0;
  sv first_dropped;
  for (int k = 0; k < st.pending_attr_count; ++k) {
    const PendingAttr &a = st.pending_attrs[k];
    header_attr_add(s, copy_string(s, a.key), a.value);
    if (str_ieq(a.key, "x-tvg-url") || str_ieq(a.key, "url-tvg")) keep_epg(s, a.value, dropped, first_dropped);
  }
  if (dropped != 0) loss_at(s, line_no, first_dropped, "m3u: EPG addresses past the 64th dropped: %zu", dropped);
  st.pending_attr_count = 0;
}

[[nodiscard]] int read_location(Store &s, M3uParseState &st, sv raw, sv location,
                                size_t line) noexcept {
  if (raw.size() != location.size()) warn_at(s, line, location, "m3u: location trimmed");
  const bool suffixed = has_any_byte(location, '|', '|', '|');
  if (!st.extinf_pending) {
    warn_at(s, line, location, "m3u: bare path accepted");
    int rc = item_add(s, location, sv(), -1);
    if (rc == KAVLO_OK) rc = item_set_line(s, line);
    return rc == KAVLO_OK && suffixed ? item_mark_suffixed(s) : rc;
  }
  st.extinf_pending = false;
  int rc = item_add(s, location, st.pending_title, st.pending_extinf_value);
  if (rc == KAVLO_OK) rc = item_set_line(s, line);
  if (rc == KAVLO_OK && suffixed) rc = item_mark_suffixed(s);
  if (rc != KAVLO_OK) return rc;
  for (int k = 0; k < st.pending_attr_count; ++k) {
    const PendingAttr &a = st.pending_attrs[k];
    if (a.key.data() == extgrp_key) {
      if (st.group_copy != nullptr && a.value.data() == st.group_text.data() && a.value.size() == st.group_text.size())
        item_attr_add_stored(s, extgrp_key, st.group_copy);
      else
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

void keep_epg(Store &s, std::string_view list, size_t &dropped, std::string_view &first_dropped) noexcept {
  for (size_t start = 0;;) {
    const size_t comma = find_byte(list, start, ',');
    const sv address = trim(list.substr(start, comma == sv::npos ? sv::npos : comma - start));
    bool seen = address.empty();
    for (int k = 0; k < s.epg_count && !seen; ++k) seen = address == s.epg[k];
    if (!seen) {
      if (s.epg_count < max_attrs) {
        if (const char *copy = copy_string(s, address)) s.epg[s.epg_count++] = copy;
      } else if (dropped++ == 0) {
        first_dropped = address;
      }
    }
    if (comma == sv::npos) break;
    start = comma + 1;
  }
}

int parse_m3u(Store &s, const char *text, size_t len) noexcept {
  s.suffixes_marked = true;
  M3uParseState st;
  const int rc = for_each_line(s, text, len, "m3u", [&](sv raw, sv line, size_t line_no) {
    if (!st.header_seen) {
      if (!starts_with_icase(line, "#EXTM3U")) {
        set_error(s, "%s", missing_header.data());
        return KAVLO_ERR_FORMAT;
      }
      st.header_seen = true;
      read_header(s, st, line, line_no);
    } else if (line[0] == '#') {
      read_tag(s, st, line, line_no);
    } else {
      return read_location(s, st, raw, line, line_no);
    }
    return KAVLO_OK;
  });
  if (rc != KAVLO_OK) return rc;
  drop_trailing_options(s);
  if (!st.header_seen) {
    set_error(s, "%s", missing_header.data());
    return KAVLO_ERR_FORMAT;
  }
  decide_imdb(s);
  return KAVLO_OK;
}

}  // namespace kavlo
