// SPDX-License-Identifier: MIT
//
// kavlo.hpp - a header-only C++17 interface over kavlo.h.
//
// kavlo::Playlist owns a playlist handle (movable, freed with the object)
// and reads it through the library's accessors: no JSON is read back.
// Strings come back as std::string_view into the handle, valid until its
// next parse or its destruction; kavlo::Result is a value copy of a whole
// parse for hosts that want one. Nothing here throws on content: failures
// are statuses, as in the C interface (std::bad_alloc may come from the
// copies of kavlo::Result, as from any container).
//
// The default encoding is the library's "auto" (a guess for legacy text,
// as the command-line tool does); pass "" for the library's own chain of
// fallbacks, or a name.
#ifndef KAVLO_HPP
#define KAVLO_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kavlo.h"

namespace kavlo {

enum class Format : int {
  automatic = KAVLO_FORMAT_AUTO,
  m3u = KAVLO_FORMAT_M3U,
  m3u8_hls = KAVLO_FORMAT_M3U8_HLS,
  streaming_list = KAVLO_FORMAT_STREAMING_LIST,
  cue = KAVLO_FORMAT_CUE,
  unknown = KAVLO_FORMAT_UNKNOWN,
};

inline std::string_view format_name(Format f) noexcept { return kavlo_format_name(static_cast<int>(f)); }

inline std::string_view version() noexcept { return kavlo_version(); }

// The format of a text after decoding it; touches no result.
inline Format detect(std::string_view text, const char *encoding = "auto") noexcept {
  return static_cast<Format>(kavlo_detect_text(text.data(), text.size(), encoding));
}

namespace detail {
inline std::string_view view(const char *s) noexcept { return s != nullptr ? std::string_view(s) : std::string_view(); }
inline std::optional<std::string_view> opt(const char *s) noexcept {
  return s != nullptr ? std::optional<std::string_view>(s) : std::nullopt;
}
}  // namespace detail

// A parsed playlist the host owns.
class Playlist {
 public:
  Playlist() noexcept : p_(kavlo_playlist_new()) {}
  ~Playlist() { kavlo_playlist_free(p_); }
  Playlist(Playlist &&o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Playlist &operator=(Playlist &&o) noexcept {
    if (this != &o) {
      kavlo_playlist_free(p_);
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  Playlist(const Playlist &) = delete;
  Playlist &operator=(const Playlist &) = delete;

  // False when the handle could not be made (no memory) or was moved from;
  // every call then answers as on an empty result (parses KAVLO_ERR_INVALID).
  bool valid() const noexcept { return p_ != nullptr; }
  kavlo_playlist *handle() const noexcept { return p_; }

  // Status codes as kavlo_playlist_parse(); `encoding` NULL or "" for the
  // library's own decoding, "auto" to guess, or a name.
  int parse(std::string_view text, Format format = Format::automatic, const char *encoding = "auto") noexcept {
    return kavlo_playlist_parse(p_, text.data(), text.size(), static_cast<int>(format), encoding);
  }
  int parse_file(const char *path, Format format = Format::automatic, const char *encoding = "auto") noexcept {
    return kavlo_playlist_parse_file_as(p_, path, static_cast<int>(format), encoding);
  }
  int parse_file(const std::string &path, Format format = Format::automatic, const char *encoding = "auto") noexcept {
    return parse_file(path.c_str(), format, encoding);
  }
  void clear() noexcept { kavlo_playlist_clear(p_); }

  Format format() const noexcept { return static_cast<Format>(kavlo_playlist_detected_format(p_)); }
  std::string_view error() const noexcept { return kavlo_playlist_last_error(p_); }
  std::optional<std::string_view> encoding() const noexcept { return detail::opt(kavlo_playlist_encoding(p_)); }
  bool imdb_date_playlist() const noexcept { return kavlo_playlist_m3u_is_imdb_date_playlist(p_) != 0; }
  int warning_count() const noexcept { return kavlo_playlist_warning_count(p_); }
  std::string_view warning(int i) const noexcept { return detail::view(kavlo_playlist_warning(p_, i)); }
  // The documents; "{}" when none can be written.
  std::string_view json() noexcept { return kavlo_playlist_json(p_); }
  std::string_view json_full() noexcept { return kavlo_playlist_json_full(p_); }

  int header_attr_count() const noexcept { return kavlo_playlist_header_attr_count(p_); }
  std::string_view header_attr_key(int a) const noexcept { return detail::view(kavlo_playlist_header_attr_key(p_, a)); }
  std::string_view header_attr_value(int a) const noexcept {
    return detail::view(kavlo_playlist_header_attr_value(p_, a));
  }
  std::optional<std::string_view> header_attr(const char *key) const noexcept {
    return detail::opt(kavlo_playlist_header_attr(p_, key));
  }

  int item_count() const noexcept { return kavlo_playlist_item_count(p_); }
  std::string_view location(int i) const noexcept { return detail::view(kavlo_playlist_item_location(p_, i)); }
  std::string_view title(int i) const noexcept { return detail::view(kavlo_playlist_item_title(p_, i)); }
  int duration_ms(int i) const noexcept { return kavlo_playlist_item_duration_ms(p_, i); }
  int release_date(int i) const noexcept { return kavlo_playlist_item_release_date(p_, i); }
  int64_t line(int i) const noexcept { return kavlo_playlist_item_line(p_, i); }
  int attr_count(int i) const noexcept { return kavlo_playlist_item_attr_count(p_, i); }
  std::string_view attr_key(int i, int a) const noexcept { return detail::view(kavlo_playlist_item_attr_key(p_, i, a)); }
  std::string_view attr_value(int i, int a) const noexcept {
    return detail::view(kavlo_playlist_item_attr_value(p_, i, a));
  }
  // The first attribute whose key matches with ASCII letters folded.
  std::optional<std::string_view> attr(int i, const char *key) const noexcept {
    return detail::opt(kavlo_playlist_item_attr(p_, i, key));
  }
  int option_count(int i) const noexcept { return kavlo_playlist_item_option_count(p_, i); }
  std::string_view option_tag(int i, int o) const noexcept { return detail::view(kavlo_playlist_item_option_tag(p_, i, o)); }
  std::string_view option_key(int i, int o) const noexcept { return detail::view(kavlo_playlist_item_option_key(p_, i, o)); }
  std::string_view option_value(int i, int o) const noexcept {
    return detail::view(kavlo_playlist_item_option_value(p_, i, o));
  }
  std::optional<std::string_view> url(int i) const noexcept { return detail::opt(kavlo_playlist_item_url(p_, i)); }
  int header_count(int i) const noexcept { return kavlo_playlist_item_header_count(p_, i); }
  std::string_view header_key(int i, int h) const noexcept { return detail::view(kavlo_playlist_item_header_key(p_, i, h)); }
  std::string_view header_value(int i, int h) const noexcept {
    return detail::view(kavlo_playlist_item_header_value(p_, i, h));
  }
  std::optional<std::string_view> group(int i) const noexcept { return detail::opt(kavlo_playlist_item_group(p_, i)); }
  // The groups of the item's #EXTGRP: lines (split at ";").
  int group_count(int i) const noexcept { return kavlo_playlist_item_group_count(p_, i); }
  std::string_view group_at(int i, int g) const noexcept { return detail::view(kavlo_playlist_item_group_at(p_, i, g)); }
  // The request headers a player should send, by lower-case name.
  int http_count(int i) const noexcept { return kavlo_playlist_item_http_count(p_, i); }
  std::string_view http_key(int i, int h) const noexcept { return detail::view(kavlo_playlist_item_http_key(p_, i, h)); }
  std::string_view http_value(int i, int h) const noexcept { return detail::view(kavlo_playlist_item_http_value(p_, i, h)); }
  std::optional<std::string_view> http(int i, const char *name) const noexcept {
    return detail::opt(kavlo_playlist_item_http(p_, i, name));
  }
  // "mode", "source", "days" or "shift": the item's own, else the list's.
  std::optional<std::string_view> catchup(int i, const char *key) const noexcept {
    return detail::opt(kavlo_playlist_item_catchup(p_, i, key));
  }
  int alternate_count(int i) const noexcept { return kavlo_playlist_item_alternate_count(p_, i); }
  std::string_view alternate(int i, int a) const noexcept { return detail::view(kavlo_playlist_item_alternate(p_, i, a)); }
  std::optional<std::string_view> label(int i) const noexcept { return detail::opt(kavlo_playlist_item_label(p_, i)); }

  // The list's title (#PLAYLIST:) and EPG addresses (x-tvg-url, url-tvg).
  std::optional<std::string_view> list_title() const noexcept { return detail::opt(kavlo_playlist_title(p_)); }
  int epg_count() const noexcept { return kavlo_playlist_epg_count(p_); }
  std::string_view epg(int k) const noexcept { return detail::view(kavlo_playlist_epg(p_, k)); }
  // Every warning with its line and subject, and what was dropped.
  int diagnostic_count() const noexcept { return kavlo_playlist_diagnostic_count(p_); }
  int64_t diagnostic_line(int k) const noexcept { return kavlo_playlist_diagnostic_line(p_, k); }
  std::string_view diagnostic_message(int k) const noexcept {
    return detail::view(kavlo_playlist_diagnostic_message(p_, k));
  }
  std::string_view diagnostic_subject(int k) const noexcept {
    return detail::view(kavlo_playlist_diagnostic_subject(p_, k));
  }

  // The result as playlist text in `format` (Format::automatic: its own),
  // KAVLO_WRITE_ flags; the view is valid until the next write or parse.
  // An empty view and the status in `status` when it cannot be written.
  std::string_view write(Format format = Format::automatic, unsigned flags = 0, int *status = nullptr) noexcept {
    const char *text = nullptr;
    size_t length = 0;
    const int rc = kavlo_playlist_write(p_, static_cast<int>(format), flags, &text, &length);
    if (status != nullptr) *status = rc;
    return rc == KAVLO_OK ? std::string_view(text, length) : std::string_view();
  }
  // Building entry by entry (see kavlo_playlist_add_item()); status codes.
  int add_item(const char *location, const char *title = nullptr, int64_t duration_ms = -1) noexcept {
    return kavlo_playlist_add_item(p_, location, title, duration_ms);
  }
  int add_attr(const char *key, const char *value) noexcept { return kavlo_playlist_add_attr(p_, key, value); }
  int add_option(const char *tag, const char *key = nullptr, const char *value = nullptr) noexcept {
    return kavlo_playlist_add_option(p_, tag, key, value);
  }
  int add_header_attr(const char *key, const char *value) noexcept {
    return kavlo_playlist_add_header_attr(p_, key, value);
  }

  std::optional<std::string_view> cue_meta(const char *key) const noexcept { return detail::opt(kavlo_playlist_cue_meta(p_, key)); }
  int rem_count() const noexcept { return kavlo_playlist_cue_rem_count(p_); }
  std::string_view rem_key(int r) const noexcept { return detail::view(kavlo_playlist_cue_rem_key(p_, r)); }
  std::string_view rem_value(int r) const noexcept { return detail::view(kavlo_playlist_cue_rem_value(p_, r)); }
  int track_count() const noexcept { return kavlo_playlist_cue_track_count(p_); }
  int track_number(int t) const noexcept { return kavlo_playlist_cue_track_number(p_, t); }
  // "TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FILE", "FLAGS", "DATATYPE".
  std::optional<std::string_view> track_field(int t, const char *key) const noexcept {
    return detail::opt(kavlo_playlist_cue_track_field(p_, t, key));
  }
  std::optional<int64_t> pregap(int t) const noexcept { return gap(kavlo_playlist_cue_track_pregap(p_, t)); }
  std::optional<int64_t> postgap(int t) const noexcept { return gap(kavlo_playlist_cue_track_postgap(p_, t)); }
  int track_rem_count(int t) const noexcept { return kavlo_playlist_cue_track_rem_count(p_, t); }
  std::string_view track_rem_key(int t, int r) const noexcept { return detail::view(kavlo_playlist_cue_track_rem_key(p_, t, r)); }
  std::string_view track_rem_value(int t, int r) const noexcept {
    return detail::view(kavlo_playlist_cue_track_rem_value(p_, t, r));
  }
  int index_count(int t) const noexcept { return kavlo_playlist_cue_track_index_count(p_, t); }
  int index_number(int t, int x) const noexcept { return kavlo_playlist_cue_track_index_number(p_, t, x); }
  int64_t index_frames(int t, int x) const noexcept { return kavlo_playlist_cue_track_index_frames(p_, t, x); }
  int index_ms(int t, int x) const noexcept { return kavlo_playlist_cue_track_index_ms(p_, t, x); }

 private:
  static std::optional<int64_t> gap(int64_t frames) noexcept {
    return frames >= 0 ? std::optional<int64_t>(frames) : std::nullopt;
  }
  kavlo_playlist *p_;
};

// ---- Value copies of a whole parse -----------------------------------------

struct Attr {
  std::string key;    // as written in the source
  std::string value;  // "" when the source gave none
};

struct Option {
  std::string tag, key, value;
};

struct Item {
  std::string location;
  std::string title;
  int duration_ms = -1;  // -1 when unknown
  int release_date = 0;  // only in an IMDb date playlist
  int64_t line = 0;      // 1-based line in the decoded text
  std::vector<Attr> attrs;
  std::vector<Option> options;
  std::optional<std::string> url;  // of a location with "|" headers
  std::vector<Attr> headers;
  std::optional<std::string> group;  // streaming lists
  std::vector<std::string> groups;   // of its #EXTGRP: lines
  std::vector<Attr> http;            // request headers, lower-case names
  std::optional<std::string> catchup_mode, catchup_source, catchup_days, catchup_shift;
  std::vector<std::string> alternates;  // streaming lists: "URL#URL2"
  std::optional<std::string> label;     // streaming lists: "URL$LABEL"

  // The first attribute whose key matches with ASCII letters folded.
  const std::string *attr(std::string_view key) const noexcept {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    for (const Attr &a : attrs) {
      if (a.key.size() != key.size()) continue;
      bool equal = true;
      for (size_t i = 0; i < key.size() && equal; ++i) equal = lower(a.key[i]) == lower(key[i]);
      if (equal) return &a.value;
    }
    return nullptr;
  }
};

struct Index {
  int number = 0;
  int64_t frames = 0;  // CD frames, 75 a second
  int ms = 0;          // frames in milliseconds, rounded down
};

struct Rem {
  std::string key, value;
};

struct Track {
  int number = 0;
  std::optional<std::string> datatype, title, performer, songwriter, isrc, file, flags;
  std::optional<int64_t> pregap, postgap;  // frames
  std::vector<Rem> rem;
  std::vector<Index> indices;
};

struct CueSheet {
  std::optional<std::string> title, performer, songwriter, catalog, cdtextfile;
  std::vector<Rem> rem;
};

struct Result {
  int status = KAVLO_OK;        // a KAVLO_OK / KAVLO_ERR_* code
  std::string error;            // the library's message; "" on success
  Format format = Format::m3u;  // the detected (or given) format
  std::string encoding;         // what the text was decoded from; "" when not decoded
  std::vector<Item> items;
  bool imdb_date_playlist = false;
  std::vector<Attr> header;     // attributes of the #EXTM3U line
  CueSheet cue;                 // CUE sheets only
  std::vector<Track> tracks;    // CUE sheets only
  std::vector<std::string> warnings;
  struct Diagnostic {
    int64_t line = 0;
    std::string message, subject;
  };
  std::vector<Diagnostic> diagnostics;  // every warning with its line, and the losses
  std::optional<std::string> title;     // the list's #PLAYLIST: title
  std::vector<std::string> epg;         // EPG addresses of the #EXTM3U line
  std::string json;             // the library's JSON document
  std::string json_full;        // the full document

  bool ok() const noexcept { return status == KAVLO_OK; }
};

namespace detail {

inline std::optional<std::string> copy(std::optional<std::string_view> v) {
  return v ? std::optional<std::string>(std::string(*v)) : std::nullopt;
}

inline Result collect(Playlist &p, int status) {
  Result r;
  r.status = status;
  r.error = std::string(p.error());
  r.format = p.format();
  r.encoding = std::string(p.encoding().value_or(""));
  r.imdb_date_playlist = p.imdb_date_playlist();
  for (int a = 0; a < p.header_attr_count(); ++a)
    r.header.push_back({std::string(p.header_attr_key(a)), std::string(p.header_attr_value(a))});
  const int items = p.item_count();
  r.items.reserve(static_cast<size_t>(items));
  for (int i = 0; i < items; ++i) {
    Item it;
    it.location = std::string(p.location(i));
    it.title = std::string(p.title(i));
    it.duration_ms = p.duration_ms(i);
    it.release_date = p.release_date(i);
    it.line = p.line(i);
    for (int a = 0; a < p.attr_count(i); ++a)
      it.attrs.push_back({std::string(p.attr_key(i, a)), std::string(p.attr_value(i, a))});
    for (int o = 0; o < p.option_count(i); ++o)
      it.options.push_back({std::string(p.option_tag(i, o)), std::string(p.option_key(i, o)),
                            std::string(p.option_value(i, o))});
    it.url = copy(p.url(i));
    for (int h = 0; h < p.header_count(i); ++h)
      it.headers.push_back({std::string(p.header_key(i, h)), std::string(p.header_value(i, h))});
    it.group = copy(p.group(i));
    for (int g = 0; g < p.group_count(i); ++g) it.groups.emplace_back(p.group_at(i, g));
    for (int h = 0; h < p.http_count(i); ++h)
      it.http.push_back({std::string(p.http_key(i, h)), std::string(p.http_value(i, h))});
    it.catchup_mode = copy(p.catchup(i, "mode"));
    it.catchup_source = copy(p.catchup(i, "source"));
    it.catchup_days = copy(p.catchup(i, "days"));
    it.catchup_shift = copy(p.catchup(i, "shift"));
    for (int a = 0; a < p.alternate_count(i); ++a) it.alternates.emplace_back(p.alternate(i, a));
    it.label = copy(p.label(i));
    r.items.push_back(std::move(it));
  }
  r.cue.title = copy(p.cue_meta("TITLE"));
  r.cue.performer = copy(p.cue_meta("PERFORMER"));
  r.cue.songwriter = copy(p.cue_meta("SONGWRITER"));
  r.cue.catalog = copy(p.cue_meta("CATALOG"));
  r.cue.cdtextfile = copy(p.cue_meta("CDTEXTFILE"));
  for (int k = 0; k < p.rem_count(); ++k) r.cue.rem.push_back({std::string(p.rem_key(k)), std::string(p.rem_value(k))});
  for (int t = 0; t < p.track_count(); ++t) {
    Track tr;
    tr.number = p.track_number(t);
    tr.datatype = copy(p.track_field(t, "DATATYPE"));
    tr.title = copy(p.track_field(t, "TITLE"));
    tr.performer = copy(p.track_field(t, "PERFORMER"));
    tr.songwriter = copy(p.track_field(t, "SONGWRITER"));
    tr.isrc = copy(p.track_field(t, "ISRC"));
    tr.file = copy(p.track_field(t, "FILE"));
    tr.flags = copy(p.track_field(t, "FLAGS"));
    tr.pregap = p.pregap(t);
    tr.postgap = p.postgap(t);
    for (int k = 0; k < p.track_rem_count(t); ++k)
      tr.rem.push_back({std::string(p.track_rem_key(t, k)), std::string(p.track_rem_value(t, k))});
    for (int x = 0; x < p.index_count(t); ++x)
      tr.indices.push_back(Index{p.index_number(t, x), p.index_frames(t, x), p.index_ms(t, x)});
    r.tracks.push_back(std::move(tr));
  }
  for (int w = 0; w < p.warning_count(); ++w) r.warnings.emplace_back(p.warning(w));
  for (int k = 0; k < p.diagnostic_count(); ++k)
    r.diagnostics.push_back({p.diagnostic_line(k), std::string(p.diagnostic_message(k)),
                             std::string(p.diagnostic_subject(k))});
  r.title = copy(p.list_title());
  for (int k = 0; k < p.epg_count(); ++k) r.epg.emplace_back(p.epg(k));
  r.json = std::string(p.json());
  r.json_full = std::string(p.json_full());
  return r;
}

}  // namespace detail

// A whole parse as values. `encoding`: "auto" (the default) guesses legacy
// text; "" is the library's own chain; any other text names the encoding.
inline Result parse(std::string_view text, Format format = Format::automatic, std::string_view encoding = "auto") {
  Playlist p;
  const std::string enc(encoding);
  const int rc = p.parse(text, format, enc.c_str());
  return detail::collect(p, rc);
}

inline Result parse_file(const std::string &path, Format format = Format::automatic,
                         std::string_view encoding = "auto") {
  Playlist p;
  const std::string enc(encoding);
  const int rc = p.parse_file(path, format, enc.c_str());
  return detail::collect(p, rc);
}

}  // namespace kavlo

#endif  // KAVLO_HPP
