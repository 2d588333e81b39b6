// The process-wide result store: items with their attributes, the CUE
// sheet with its tracks and indices, warnings, the last error, the detected
// format, the decoded text and the JSON text. Parsers write it only through
// the operations declared here; the exported accessors only read it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "arena.h"

namespace kavlo {

constexpr int max_warnings = 512;
constexpr int max_losses = 512;       // diagnostics besides the warnings' own
constexpr size_t message_size = 512;  // warning and error texts: 511 bytes + NUL
constexpr int max_attrs = 64;         // per item
constexpr int max_indices = 32;       // per CUE track
constexpr int first_item_capacity = 64;
constexpr int first_track_capacity = 16;

struct ItemAttr {
  const char *key;
  const char *value;
};

// The key of the "group-title" attribute that an #EXTGRP: line gives the
// entry after it. The M3U parser stores this very string as its key, so
// that the M3U writer knows the attribute came from such a line and
// writes it as one again; it reads "group-title" like any other key.
inline constexpr char extgrp_key[] = "group-title";

// Attributes and indices are kept in one array per store, each record
// holding its own contiguous range: only the used slots cost memory. An
// item is four words: its duration and release date follow from the
// #EXTINF number (see item_duration_ms), and its attribute range lives in
// a parallel array that only a list with attributes allocates.
struct PlaylistItem {
  const char *location;
  const char *title;
  int extinf_value;  // the #EXTINF number, -1 for none
  uint32_t line;     // low 32 bits of the 1-based line of the entry (see LineHigh)
};

// The attribute range of one item.
struct ItemAttrRange {
  uint32_t begin;
  uint32_t count;
};

// The high 32 bits of the line numbers of the items from `item` on, kept
// only where they change: none below 4 Gi lines.
struct LineHigh {
  size_t item;
  uint32_t high;
};

// A tag line the M3U parser ignores, kept for the entry that follows it:
// "#TAG:KEY=VALUE". `item` is the position of that entry.
struct ItemOption {
  size_t item;
  const char *tag;
  const char *key;
  const char *value;
};

// A streaming-list group ("NAME,#genre#"): the items from `first_item` on,
// up to the next group.
struct ItemGroup {
  size_t first_item;
  const char *name;
};

// A CUE REM line: its first word and the rest.
struct CueRem {
  const char *key;
  const char *value;
};

// What a location carries besides its address (see resolve_headers): the
// URL part (NULL when empty), a label, further addresses and request
// headers (ranges of the store's alternates and header pairs). One record
// per item that has any, in item order.
struct ItemLocation {
  size_t item;
  const char *url;
  const char *label;  // NULL when none
  uint32_t begin;     // header pairs
  uint32_t count;
  uint32_t alternate_begin;
  uint32_t alternate_count;
};

// A request header of a location: the name as written, its value (quotes
// removed or percent-decoded) and the name in lower case (`key` itself
// when it is lower case already).
struct HeaderPair {
  const char *key;
  const char *value;
  const char *name;
};

// Where a request header of an entry comes from, in the order of
// precedence of its "http" set (the location's own headers come first,
// the item's and the #EXTM3U line's attributes last).
enum HttpSource : uint8_t { http_exthttp = 1, http_vlcopt = 2, http_kodiprop = 3 };

// A request header that a tag line gives the entry that follows it
// (#EXTHTTP, #EXTVLCOPT:http-*, #KODIPROP:..._headers): lower-case name,
// value never empty. In item order; `item` is the position of that entry.
struct ItemHttp {
  size_t item;
  const char *name;
  const char *value;
  HttpSource source;
};

// A name kept for the entry that follows: one group of an #EXTGRP: line.
struct ItemName {
  size_t item;
  const char *name;
};

// A finding that the plain warnings do not report: a loss (an attribute
// past the cap, text cut at a NUL byte, ...). `after` is the number of
// diagnosed warnings raised before it, which places it among them.
struct Loss {
  uint64_t line;
  const char *message;
  const char *subject;
  int after;
};

struct CueIndex {
  int number;
  int64_t frames;
};

struct CueTrack {
  const char *datatype;
  const char *title;
  const char *performer;
  const char *file;       // followed, past its NUL, by the FILE line's type (track_file_type)
  size_t line;            // 1-based line of the TRACK line
  int number;
  int index_count;
  uint32_t index_begin;
  int rem_count;          // REM lines of the track, in the store's rem array
  // Up to one cache line: records split across two lines made the CUE
  // parse about 5% slower.
  uint64_t rem_begin;     // position of the first of them, when rem_count > 0
};
static_assert(sizeof(void *) != 8 || sizeof(CueTrack) == 64);

// What few tracks have, kept apart: PREGAP, POSTGAP, SONGWRITER, ISRC and
// FLAGS. In track order, one record per track that has any of them.
struct CueTrackRare {
  int track;
  bool has_pregap;
  bool has_postgap;
  int64_t pregap;  // frames
  int64_t postgap;
  const char *songwriter;
  const char *isrc;
  const char *flags;
};

struct CueSheet {
  const char *title;
  const char *performer;
  const char *songwriter;
  const char *catalog;
  const char *cdtextfile;
};

struct Store {
  PlaylistItem *items;
  int item_count;
  int item_capacity;
  int imdb_date_playlist;
  CueSheet cue;
  CueTrack *tracks;
  int track_count;
  int track_capacity;
  const char *warnings[max_warnings];
  int warning_count;
  char last_error[message_size];
  char *json_text;        // block of the JSON export, reused by the next export
  size_t json_capacity;   // bytes of that block
  char *write_text;       // block of the playlist writer, reused by the next write
  size_t write_capacity;  // bytes of that block
  int detected_format;
  char *decoded_text;
  size_t decoded_capacity;  // bytes of the block decoded_text lives in
  size_t input_size;        // bytes of the text of the last parse, as given

  // Bytes of text being parsed: large texts reserve their arrays at a size
  // that the text could fill, so they do not grow (and fault in fresh
  // pages) again and again. Only address space is reserved; pages are
  // touched as records are written.
  size_t text_size;

  ItemAttr *attrs;
  size_t attr_used;
  size_t attr_capacity;
  CueIndex *indices;
  size_t index_used;
  size_t index_capacity;
  Arena arena;

  // Read only by the full document. The header's attributes live in the
  // attribute array, before any item's. Options, groups and REM lines are
  // kept in source order, so a writer walks them alongside the items and
  // tracks: REM lines of the sheet first, then each track's.
  size_t header_attr_begin;
  int header_attr_count;
  int sheet_rem_count;
  ItemOption *options;
  size_t option_used;
  size_t option_capacity;
  ItemGroup *groups;
  size_t group_used;
  size_t group_capacity;
  CueRem *rems;
  size_t rem_used;
  size_t rem_capacity;
  CueTrackRare *rares;
  size_t rare_used;
  size_t rare_capacity;
  LineHigh *line_highs;
  size_t line_high_used;
  size_t line_high_capacity;
  uint32_t line_high_last;  // high bits of the last item's line

  // Attribute ranges of the items before `attr_range_used`; the items
  // after it have none.
  ItemAttrRange *attr_ranges;
  size_t attr_range_used;
  size_t attr_range_capacity;

  // Items whose location may carry more than its address ("|", and in a
  // streaming list "#" or "$"), in item order, as the M3U and streaming
  // parsers find them. Their URL parts, labels, alternates and request
  // headers are read once the parser is done (resolve_headers).
  int *suffixed;
  size_t suffixed_used;
  size_t suffixed_capacity;
  bool suffixes_marked;  // a parser marked its items (M3U, streaming list)
  ItemLocation *locations;
  size_t location_used;
  size_t location_capacity;
  HeaderPair *header_pairs;
  size_t header_pair_used;
  size_t header_pair_capacity;
  const char **alternates;
  size_t alternate_used;
  size_t alternate_capacity;

  // Request headers of tag lines, and the groups of #EXTGRP: lines, for
  // the entries that follow them.
  ItemHttp *http;
  size_t http_used;
  size_t http_capacity;
  ItemName *extgrps;
  size_t extgrp_used;
  size_t extgrp_capacity;

  // The list's own: the text of its first #PLAYLIST: line and the EPG
  // addresses of its #EXTM3U line.
  const char *title;
  const char *epg[max_attrs];
  int epg_count;

  // Diagnostics: the line and subject of each kept warning, the losses
  // in the order found (at most max_losses), and what was dropped past
  // either cap, with the line and text of the first such one. The two
  // count messages are written by finish_diagnostics.
  uint64_t warning_line[max_warnings];
  const char *warning_subject[max_warnings];
  // The kept warnings whose text could be copied, by position: only they
  // have a diagnostic.
  uint16_t warning_diagnosed[max_warnings];
  int warning_diagnosed_count;
  Loss *losses;
  size_t loss_used;
  size_t loss_capacity;
  size_t warnings_dropped;
  uint64_t warnings_dropped_line;
  const char *warnings_dropped_first;
  size_t losses_dropped;
  uint64_t losses_dropped_line;
  const char *losses_dropped_first;
  char warnings_dropped_message[96];
  char losses_dropped_message[96];

  // The encoding the text was decoded from (see kavlo_playlist_encoding);
  // NULL until a text is decoded.
  const char *encoding;

  // Unique to this state of the result, for caches of what is made from
  // it: set anew by clear() and by every change after a parse (touch()).
  uint64_t stamp;
};

// Gives the store a stamp no store has had.
void touch(Store &s) noexcept;

// First capacity of an array of records of `record` bytes: `small` for
// ordinary texts, or one record per `bytes_per_record` of a large text.
size_t first_capacity(const Store &s, size_t small, size_t record, size_t bytes_per_record) noexcept;

// The store of the process-wide functions. Only the entry points reach
// it; everything below them takes a Store&.
Store &store() noexcept;

// Constant name of a format code; "unknown" for any code without one.
const char *format_name(int code) noexcept;

// Empties the store and releases everything it owns.
void clear(Store &s) noexcept;

// A store-owned, NUL-terminated copy of `text`, or NULL when it cannot be
// allocated. The empty string needs no allocation.
inline const char *copy_string(Store &s, std::string_view text) noexcept { return arena_copy(s.arena, text); }

// A store-owned copy of `first` with its NUL, followed by one of `second`
// with its own: the second string is found past the first one's NUL. NULL
// when it cannot be allocated.
inline const char *copy_string_pair(Store &s, std::string_view first, std::string_view second) noexcept {
  return arena_copy_pair(s.arena, first, second);
}

// The type word of the FILE line of track `t` ("WAVE", "MP3", "BINARY"; ""
// when the line had none), kept for the CUE writer right after the file
// name (see copy_string_pair); NULL for a track without a FILE.
inline const char *track_file_type(const CueTrack &t) noexcept {
  return t.file != nullptr ? t.file + std::strlen(t.file) + 1 : nullptr;
}

// The stored copy of the last text asked for, handed out again while that
// text repeats (the data type of every CUE track, the tag of repeated M3U
// options). The text must stay readable while it is the last one.
struct LastCopy {
  std::string_view text;
  const char *stored = nullptr;
  const char *get(Store &s, std::string_view t) noexcept {
    if (stored == nullptr || t != text) {
      stored = copy_string(s, t);
      text = t;
    }
    return stored;
  }
};

// Appends an item with copies of both strings (a NULL view stores "") and
// its #EXTINF number (-1 for none), at line 0. Returns KAVLO_ERR_NOMEM,
// leaving the store unchanged, when the item array cannot grow.
[[nodiscard]] int item_add(Store &s, std::string_view location, std::string_view title,
                           int extinf_value) noexcept;

// As item_add, with strings the store holds already (NULL stands for ""),
// which the item shares instead of copying; number -1.
[[nodiscard]] int item_add_stored(Store &s, const char *location, const char *title) noexcept;

// Sets the line of the last item. Lines at or past 4 Gi record their high
// bits apart (line_high_add); KAVLO_ERR_NOMEM when that record cannot be
// kept.
[[nodiscard]] int line_high_add(Store &s, size_t line) noexcept;
[[nodiscard]] inline int item_set_line(Store &s, size_t line) noexcept {
  s.items[s.item_count - 1].line = static_cast<uint32_t>(line);
  if (static_cast<uint32_t>(static_cast<uint64_t>(line) >> 32) == s.line_high_last) return 0;  // KAVLO_OK
  return line_high_add(s, line);
}

// The whole 1-based line of item `i` (no range check).
uint64_t item_line(const Store &s, size_t i) noexcept;

// Duration in milliseconds from the #EXTINF number: -1 for none or a
// negative one; numbers too large for milliseconds stay unscaled (in an
// IMDb date playlist this keeps the date number readable).
inline int item_duration_ms(const PlaylistItem &it) noexcept {
  const int e = it.extinf_value;
  if (e < 0) return -1;
  return e <= 2147483 ? e * 1000 : e;
}

// The release date: the #EXTINF number in an IMDb date playlist, else 0.
inline int item_release_date(const Store &s, const PlaylistItem &it) noexcept {
  return s.imdb_date_playlist != 0 ? it.extinf_value : 0;
}

// Appends an attribute to the last item while it has fewer than 64. `key`
// is a string the store owns already (see copy_string); NULL, or a slot that
// cannot be allocated, stores nothing. A value that cannot be copied
// becomes "".
void item_attr_add(Store &s, const char *key, std::string_view value) noexcept;

// As item_attr_add, with a value the store holds already (not NULL).
void item_attr_add_stored(Store &s, const char *key, const char *value) noexcept;

// Appends an attribute of the #EXTM3U line, as item_attr_add does for an
// item. Called before the first item.
void header_attr_add(Store &s, const char *key, std::string_view value) noexcept;

// Keeps an ignored tag line for the next item (the one at position
// item_count). Strings that cannot be copied drop the option. Returns the
// stored option, or NULL.
const ItemOption *item_option_add(Store &s, const char *tag, std::string_view key,
                                  std::string_view value) noexcept;

// Keeps a request header of a tag line for the next item: `name` in lower
// case and `value`, both held by the store already. An empty value, or a
// NULL string, adds nothing.
void item_http_add(Store &s, HttpSource source, const char *name, const char *value) noexcept;

// Keeps a group of an #EXTGRP: line for the next item; returns its stored
// copy, or NULL when it cannot be kept.
const char *item_extgrp_add(Store &s, std::string_view name) noexcept;

// Drops the options, tag-line headers and #EXTGRP: groups that no item
// followed.
void drop_trailing_options(Store &s) noexcept;

// Starts a group for the items from the next one on.
void item_group_start(Store &s, std::string_view name) noexcept;

// Appends a REM line to the last track, or to the sheet before the first.
void cue_rem_add(Store &s, std::string_view key, std::string_view value) noexcept;

// A store-owned block of `n` bytes (n > 0) for a string the caller writes;
// NULL when it cannot be allocated.
inline char *arena_block(Store &s, size_t n) noexcept { return arena_alloc(s.arena, n); }

// A store-owned copy of `text` with ASCII letters in lower case; NULL when
// it cannot be allocated.
const char *copy_lower(Store &s, std::string_view text) noexcept;

// The record of rare fields of the last track, made on first use; NULL when there
// is no track or the record cannot be allocated (the value is dropped).
CueTrackRare *last_track_rare(Store &s) noexcept;

// Appends a track read at `line` with its number, data type and FILE
// string (see copy_string_pair), both held by the store already (NULL for
// none). KAVLO_ERR_NOMEM when the track array cannot grow.
[[nodiscard]] int track_add(Store &s, int number, const char *datatype, const char *file, size_t line) noexcept;

// The text fields of a CUE sheet and of its tracks.
enum class CueField : uint8_t { title, performer, songwriter, catalog, cdtextfile, isrc, flags };

// Sets `field` to a copy of `value`, of the last track once there is one,
// else of the sheet. A field the place does not hold (CATALOG and
// CDTEXTFILE of a track, ISRC and FLAGS of the sheet) is dropped, as is a
// value that cannot be copied.
void cue_field_set(Store &s, CueField field, std::string_view value) noexcept;

// The PREGAP (`post` false) or POSTGAP of the last track.
void track_gap_set(Store &s, bool post, int64_t frames) noexcept;

// The record of rare fields of track `t` at or after position `from` of the array
// (a cursor for a walk in track order), or NULL.
inline const CueTrackRare *track_rare(const Store &s, size_t &from, int t) noexcept {
  while (from < s.rare_used && s.rares[from].track < t) ++from;
  return from < s.rare_used && s.rares[from].track == t ? &s.rares[from] : nullptr;
}

// The record of rare fields of track `t`, or NULL (a binary search).
const CueTrackRare *find_track_rare(const Store &s, int t) noexcept;

// Appends an index point to the last track; the 33rd and later are
// dropped (over_cap). `failed` when no slot could be allocated.
enum class IndexAdd { added, over_cap, failed };
IndexAdd track_index_add(Store &s, int number, int64_t frames) noexcept;

// The attribute count and attributes of item `i`, and the indices of a
// track (no range check).
inline int item_attr_count(const Store &s, size_t i) noexcept {
  return i < s.attr_range_used ? static_cast<int>(s.attr_ranges[i].count) : 0;
}
inline const ItemAttr *item_attrs(const Store &s, size_t i) noexcept {
  return item_attr_count(s, i) != 0 ? s.attrs + s.attr_ranges[i].begin : nullptr;
}
inline const CueIndex *track_indices(const Store &s, const CueTrack &t) noexcept {
  return t.index_count ? s.indices + t.index_begin : nullptr;
}

}  // namespace kavlo

// A playlist handle of the C interface: one store. The process-wide
// functions use one more, kept by the library (kavlo::store()).
struct kavlo_playlist {
  kavlo::Store store;
};

namespace kavlo {
// The library's own handle, whose store is store().
kavlo_playlist &process_playlist() noexcept;
}  // namespace kavlo
