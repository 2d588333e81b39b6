// The writer's contract, checked on a parsed store: written in its own
// format and parsed again in that format, it gives the same result (as the
// full document shows it, without line numbers and warnings, and what the
// writer itself keeps: FILE types, the #EXTGRP origin of a group-title);
// written in another format, the entries that format can hold come back
// with their title, location and group as kavlo.h says. Reads the engine's
// store directly: for the white-box tests and the fuzz harnesses, which
// link the engine's objects. Header-only.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "kavlo.h"
#include "../../src/parsers/parsers.h"
#include "../../src/store/store.h"
#include "../../src/text/text.h"
#include "../../src/write/write.h"

namespace kt {

namespace roundtrip_detail {

using kavlo::Store;

inline std::string or_empty(const char *s) { return s != nullptr ? s : ""; }
inline std::string show(const char *s) { return s != nullptr ? "\"" + std::string(s) + "\"" : "NULL"; }

// The streaming group of item `i`, "" for none.
inline std::string group_of(const Store &s, size_t i) {
  const char *name = nullptr;
  for (size_t g = 0; g < s.group_used && s.groups[g].first_item <= i; ++g) name = s.groups[g].name;
  return or_empty(name);
}

inline const kavlo::ItemAttr *group_title(const Store &s, size_t i) {
  const kavlo::ItemAttr *a = kavlo::item_attrs(s, i);
  for (int k = 0; k < kavlo::item_attr_count(s, i); ++k)
    if (a[k].key != nullptr && kavlo::str_ieq(a[k].key, "group-title")) return &a[k];
  return nullptr;
}

// Appends a line to `out` when the two differ.
struct Diff {
  std::string out;
  template <class T>
  void check(const std::string &what, const T &a, const T &b) {
    if (out.empty() && !(a == b)) out = what + " differs";
  }
  void str(const std::string &what, const char *a, const char *b, bool null_is_empty) {
    if (!out.empty()) return;
    const bool same = null_is_empty ? or_empty(a) == or_empty(b)
                                    : (a == nullptr) == (b == nullptr) && or_empty(a) == or_empty(b);
    if (!same) out = what + ": " + show(a) + " against " + show(b);
  }
};

}  // namespace roundtrip_detail

// "" when `b` holds the result of `a`, else the first difference. Line
// numbers, warnings, the last error and the encoding are not compared.
inline std::string store_difference(const kavlo::Store &a, const kavlo::Store &b) {
  namespace d = roundtrip_detail;
  d::Diff x;
  x.check("format", a.detected_format, b.detected_format);
  x.check("item count", a.item_count, b.item_count);
  x.check("IMDb flag", a.imdb_date_playlist, b.imdb_date_playlist);
  x.check("header attribute count", a.header_attr_count, b.header_attr_count);
  for (int k = 0; k < a.header_attr_count && x.out.empty(); ++k) {
    const kavlo::ItemAttr &p = a.attrs[a.header_attr_begin + static_cast<size_t>(k)];
    const kavlo::ItemAttr &q = b.attrs[b.header_attr_begin + static_cast<size_t>(k)];
    x.str("header key", p.key, q.key, false);
    x.str("header value", p.value, q.value, false);
  }
  for (int i = 0; i < a.item_count && i < b.item_count && x.out.empty(); ++i) {
    const auto n = static_cast<size_t>(i);
    const std::string at = "item " + std::to_string(i) + " ";
    const kavlo::PlaylistItem &p = a.items[i], &q = b.items[i];
    x.str(at + "title", p.title, q.title, true);
    x.str(at + "location", p.location, q.location, true);
    x.check(at + "duration", kavlo::item_duration_ms(p), kavlo::item_duration_ms(q));
    x.check(at + "release date", kavlo::item_release_date(a, p), kavlo::item_release_date(b, q));
    x.check(at + "attribute count", kavlo::item_attr_count(a, n), kavlo::item_attr_count(b, n));
    for (int k = 0; k < kavlo::item_attr_count(a, n) && x.out.empty(); ++k) {
      const kavlo::ItemAttr &u = kavlo::item_attrs(a, n)[k], &v = kavlo::item_attrs(b, n)[k];
      x.str(at + "attribute key", u.key, v.key, false);
      x.str(at + "attribute value", u.value, v.value, false);
      x.check(at + "#EXTGRP origin of " + d::or_empty(u.key), u.key == kavlo::extgrp_key,
              v.key == kavlo::extgrp_key);
    }
    std::vector<std::string> po, qo;
    for (size_t o = 0; o < a.option_used; ++o)
      if (a.options[o].item == n)
        po.push_back(d::or_empty(a.options[o].tag) + "\x01" + d::or_empty(a.options[o].key) + "\x01" +
                     d::or_empty(a.options[o].value));
    for (size_t o = 0; o < b.option_used; ++o)
      if (b.options[o].item == n)
        qo.push_back(d::or_empty(b.options[o].tag) + "\x01" + d::or_empty(b.options[o].key) + "\x01" +
                     d::or_empty(b.options[o].value));
    x.check(at + "options", po, qo);
    x.check(at + "group", d::group_of(a, n), d::group_of(b, n));
  }
  if (a.detected_format != KAVLO_FORMAT_CUE || !x.out.empty()) return x.out;
  x.str("sheet title", a.cue.title, b.cue.title, false);
  x.str("sheet performer", a.cue.performer, b.cue.performer, false);
  x.str("sheet songwriter", a.cue.songwriter, b.cue.songwriter, true);
  x.str("catalog", a.cue.catalog, b.cue.catalog, true);
  x.str("cdtextfile", a.cue.cdtextfile, b.cue.cdtextfile, true);
  x.check("sheet REM count", a.sheet_rem_count, b.sheet_rem_count);
  for (int k = 0; k < a.sheet_rem_count && x.out.empty(); ++k) {
    x.str("sheet REM key", a.rems[k].key, b.rems[k].key, false);
    x.str("sheet REM value", a.rems[k].value, b.rems[k].value, false);
  }
  x.check("track count", a.track_count, b.track_count);
  for (int t = 0; t < a.track_count && x.out.empty(); ++t) {
    const std::string at = "track " + std::to_string(t) + " ";
    const kavlo::CueTrack &p = a.tracks[t], &q = b.tracks[t];
    x.check(at + "number", p.number, q.number);
    x.str(at + "title", p.title, q.title, false);
    x.str(at + "file", p.file, q.file, false);
    x.str(at + "FILE type", kavlo::track_file_type(p), kavlo::track_file_type(q), false);
    x.str(at + "performer", p.performer, q.performer, true);
    x.str(at + "data type", p.datatype, q.datatype, true);
    x.check(at + "index count", p.index_count, q.index_count);
    for (int k = 0; k < p.index_count && x.out.empty(); ++k) {
      x.check(at + "index number", kavlo::track_indices(a, p)[k].number, kavlo::track_indices(b, q)[k].number);
      x.check(at + "index frames", kavlo::track_indices(a, p)[k].frames, kavlo::track_indices(b, q)[k].frames);
    }
    const kavlo::CueTrackRare *e = kavlo::find_track_rare(a, t), *f = kavlo::find_track_rare(b, t);
    x.str(at + "songwriter", e ? e->songwriter : nullptr, f ? f->songwriter : nullptr, true);
    x.str(at + "ISRC", e ? e->isrc : nullptr, f ? f->isrc : nullptr, true);
    x.str(at + "flags", e ? e->flags : nullptr, f ? f->flags : nullptr, true);
    x.check(at + "pregap", e && e->has_pregap ? e->pregap : -1, f && f->has_pregap ? f->pregap : -1);
    x.check(at + "postgap", e && e->has_postgap ? e->postgap : -1, f && f->has_postgap ? f->postgap : -1);
    x.check(at + "REM count", p.rem_count, q.rem_count);
    for (int k = 0; k < p.rem_count && x.out.empty(); ++k) {
      x.str(at + "REM key", a.rems[p.rem_begin + k].key, b.rems[q.rem_begin + k].key, false);
      x.str(at + "REM value", a.rems[p.rem_begin + k].value, b.rems[q.rem_begin + k].value, false);
    }
  }
  return x.out;
}

// An entry as another format keeps it.
struct Entry {
  std::string title, location, group;
  int duration_ms;
  bool operator==(const Entry &o) const {
    return title == o.title && location == o.location && group == o.group && duration_ms == o.duration_ms;
  }
};

// The entries of `s` written in `format` as another format's result, as
// kavlo.h says they read back: only the items that format holds, trimmed
// titles and locations; in M3U a title's part after its last comma
// outside quotes, in a streaming list commas of names replaced, a missing
// name given by the URL. The group is the streaming group, else the
// "group-title" attribute.
inline std::vector<Entry> expected_entries(const kavlo::Store &s, int format) {
  namespace d = roundtrip_detail;
  using sv = std::string_view;
  auto replaced = [](sv name) {
    std::string out;
    for (;;) {
      const kavlo::StreamSeparator sep = kavlo::stream_separator(name);
      out.append(name.substr(0, sep.pos));
      if (sep.len == 0) return out;
      out += sep.len == 1 ? "\xE2\x80\x9A" : "\xE3\x80\x81";
      name.remove_prefix(sep.pos + sep.len);
    }
  };
  std::vector<Entry> out;
  for (int i = 0; i < s.item_count; ++i) {
    const auto n = static_cast<size_t>(i);
    const std::string loc = d::or_empty(s.items[i].location), title = d::or_empty(s.items[i].title);
    std::string group = d::group_of(s, n);
    if (group.empty())
      if (const kavlo::ItemAttr *g = d::group_title(s, n)) group = d::or_empty(g->value);
    const std::string location(kavlo::trim(loc));
    Entry e{"", location, "", -1};
    if (format == KAVLO_FORMAT_M3U) {
      if (location.empty() || location[0] == '#') continue;
      const std::string rest = "," + title;
      e.title = std::string(kavlo::trim(sv(rest).substr(kavlo::last_unquoted_comma(rest) + 1)));
      e.group = std::string(kavlo::trim(group));
      e.duration_ms = kavlo::item_duration_ms(s.items[i]);
    } else {
      if (!kavlo::has_stream_scheme(loc)) continue;
      e.title = title.empty() || title == loc ? std::string() : std::string(kavlo::trim(replaced(title)));
      if (e.title.empty()) e.title = location;
      e.group = std::string(kavlo::trim(replaced(group)));
    }
    out.push_back(e);
  }
  return out;
}

// The entries of a parse in `format`.
inline std::vector<Entry> entries(const kavlo::Store &s, int format) {
  namespace d = roundtrip_detail;
  std::vector<Entry> out;
  for (int i = 0; i < s.item_count; ++i) {
    const auto n = static_cast<size_t>(i);
    const kavlo::ItemAttr *g = format == KAVLO_FORMAT_M3U ? d::group_title(s, n) : nullptr;
    out.push_back(Entry{d::or_empty(s.items[i].title), d::or_empty(s.items[i].location),
                        format == KAVLO_FORMAT_M3U ? (g ? d::or_empty(g->value) : "") : d::group_of(s, n),
                        kavlo::item_duration_ms(s.items[i])});
  }
  return out;
}

// Writes `s` in each format it can be written in, with and without the
// byte-order mark and CR LF, parses each text in its format and checks it
// as above. "" when every check holds, else the first failure, with the
// text. `texts`, when given, receives the text of the result's own format
// (no flags).
inline std::string round_trip(kavlo::Store &s, std::string *own_text = nullptr) {
  const int own = s.detected_format;
  if (own != KAVLO_FORMAT_M3U && own != KAVLO_FORMAT_STREAMING_LIST && own != KAVLO_FORMAT_CUE) return "";
  for (unsigned flags : {0u, kavlo::write_bom | kavlo::write_crlf}) {
    for (int format : {KAVLO_FORMAT_M3U, KAVLO_FORMAT_STREAMING_LIST, KAVLO_FORMAT_CUE}) {
      const std::string what = std::string(kavlo_format_name(format)) + " (flags " + std::to_string(flags) + ")";
      const char *text = nullptr;
      size_t length = 0;
      const int rc = kavlo::write_playlist(s, format, flags, &text, &length);
      if (format == KAVLO_FORMAT_CUE && own != KAVLO_FORMAT_CUE) {
        if (rc != KAVLO_ERR_FORMAT || text != nullptr) return what + ": a CUE sheet written from another format";
        continue;
      }
      if (rc != KAVLO_OK || text == nullptr || std::strlen(text) != length) return what + ": write failed";
      const std::string written(text, length);
      if (own_text != nullptr && format == own && flags == 0) *own_text = written;
      kavlo_playlist *q = kavlo_playlist_new();
      if (q == nullptr) return "no memory";
      std::string failure;
      const int back = kavlo_playlist_parse(q, written.data(), written.size(), format, nullptr);
      if (back != KAVLO_OK) {
        failure = what + ": the written text does not parse (" + std::to_string(back) + ")";
      } else if (format == own) {
        failure = store_difference(s, q->store);
        if (failure.empty() && format == KAVLO_FORMAT_M3U &&
            kavlo_detect_text(written.data(), written.size(), nullptr) != KAVLO_FORMAT_M3U)
          failure = "not detected as M3U";
        if (!failure.empty()) failure = what + ": " + failure;
      } else if (!(entries(q->store, format) == expected_entries(s, format))) {
        failure = what + ": the entries differ from what the format holds";
      }
      kavlo_playlist_free(q);
      if (!failure.empty()) return failure + "\n--- written:\n" + written;
    }
  }
  return "";
}

}  // namespace kt
