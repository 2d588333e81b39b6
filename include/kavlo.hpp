// SPDX-License-Identifier: MIT
// kavlo.hpp - header-only C++ interface over the kavlo C library.
//
// kavlo::parse(), kavlo::parse_file() and kavlo::detect() call the C
// functions of kavlo.h and copy the whole outcome out of the library's
// process-wide result store into value types, so a kavlo::Result stays
// valid after later parses and can be moved between threads.
//
// Content problems never throw: a failed parse gives a Result whose
// `status` is not KAVLO_OK and whose `error` holds the library's message.
// Only the copying itself can throw (std::bad_alloc), as any C++ container.
//
// Threads: the library keeps one result store and no locks. Calls into it,
// through this header or kavlo.h, must not overlap: serialise them (for
// instance with one mutex around every kavlo::parse* call). The Results
// themselves are plain values and need no guarding.
#ifndef KAVLO_HPP
#define KAVLO_HPP

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kavlo.h"
#include "kavlo_auto.h"

namespace kavlo {

// Format codes, as kavlo.h defines them.
enum class Format : int {
  automatic = KAVLO_FORMAT_AUTO,
  m3u = KAVLO_FORMAT_M3U,
  m3u8_hls = KAVLO_FORMAT_M3U8_HLS,
  streaming_list = KAVLO_FORMAT_STREAMING_LIST,
  cue = KAVLO_FORMAT_CUE,
  unknown = KAVLO_FORMAT_UNKNOWN,
};

// "m3u", "streaming-list", ...; "unknown" for codes without a name.
inline std::string_view format_name(Format f) noexcept {
  return kavlo_format_name(static_cast<int>(f));
}

// The library's version, "MAJOR.MINOR.PATCH".
inline std::string_view version() noexcept { return kavlo_version(); }

// An #EXTINF attribute. The C interface reaches values by key, so when an
// entry writes the same key twice (in any letter case) every copy carries
// the first one's value; the JSON document (Result::json) has them all.
struct Attr {
  std::string key;    // as written in the source
  std::string value;  // "" when the source gave none
};

struct Item {
  std::string location;
  std::string title;
  int duration_ms = -1;   // -1 when unknown
  int release_date = 0;   // only in an IMDb date playlist
  std::vector<Attr> attrs;

  // Value of the first attribute whose key equals `key` with ASCII letters
  // folded, or nullptr.
  const std::string *attr(std::string_view key) const noexcept {
    for (const Attr &a : attrs) {
      if (a.key.size() != key.size()) continue;
      bool equal = true;
      for (size_t i = 0; i < key.size() && equal; ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        equal = lower(a.key[i]) == lower(key[i]);
      }
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

struct Track {
  int number = 0;  // from the JSON document; 0 when that could not be written
  std::optional<std::string> datatype, title, performer, songwriter, isrc, file, flags;
  std::vector<Index> indices;
};

struct CueSheet {
  std::optional<std::string> title, performer, songwriter, catalog, cdtextfile;
};

struct Result {
  int status = KAVLO_OK;           // a KAVLO_OK / KAVLO_ERR_* code
  std::string error;               // the library's message; "" on success
  Format format = Format::m3u;     // the detected (or given) format
  std::vector<Item> items;
  bool imdb_date_playlist = false;
  CueSheet cue;                    // CUE sheets only
  std::vector<Track> tracks;       // CUE sheets only
  std::vector<std::string> warnings;
  std::string json;                // the library's JSON document
  std::string json_full;           // the full document (kavlo_result_json_full)
  std::string encoding;            // parse_auto*: what the text was decoded
                                   // from ("" when unknown or failed)

  bool ok() const noexcept { return status == KAVLO_OK; }
};

namespace detail {

inline std::optional<std::string> opt(const char *s) {
  return s != nullptr ? std::optional<std::string>(s) : std::nullopt;
}

inline std::string str(const char *s) { return s != nullptr ? std::string(s) : std::string(); }

// Copies the library's current result into a Result.
inline Result collect(int status) {
  Result r;
  r.status = status;
  r.error = kavlo_last_error();
  r.format = static_cast<Format>(kavlo_detected_format());
  r.imdb_date_playlist = kavlo_m3u_is_imdb_date_playlist() != 0;
  const int items = kavlo_item_count();
  r.items.reserve(static_cast<size_t>(items));
  for (int i = 0; i < items; ++i) {
    Item it;
    it.location = str(kavlo_item_location(i));
    it.title = str(kavlo_item_title(i));
    it.duration_ms = kavlo_item_duration_ms(i);
    it.release_date = kavlo_item_release_date(i);
    for (int a = 0; a < kavlo_item_attr_count(i); ++a) {
      const char *key = kavlo_item_attr_key(i, a);
      it.attrs.push_back(Attr{str(key), str(key ? kavlo_item_attr(i, key) : nullptr)});
    }
    r.items.push_back(std::move(it));
  }
  r.cue.title = opt(kavlo_cue_meta("TITLE"));
  r.cue.performer = opt(kavlo_cue_meta("PERFORMER"));
  r.cue.songwriter = opt(kavlo_cue_meta("SONGWRITER"));
  r.cue.catalog = opt(kavlo_cue_meta("CATALOG"));
  r.cue.cdtextfile = opt(kavlo_cue_meta("CDTEXTFILE"));
  for (int t = 0; t < kavlo_cue_track_count(); ++t) {
    Track tr;
    tr.datatype = opt(kavlo_cue_track_field(t, "DATATYPE"));
    tr.title = opt(kavlo_cue_track_field(t, "TITLE"));
    tr.performer = opt(kavlo_cue_track_field(t, "PERFORMER"));
    tr.songwriter = opt(kavlo_cue_track_field(t, "SONGWRITER"));
    tr.isrc = opt(kavlo_cue_track_field(t, "ISRC"));
    tr.file = opt(kavlo_cue_track_field(t, "FILE"));
    tr.flags = opt(kavlo_cue_track_field(t, "FLAGS"));
    for (int x = 0; x < kavlo_cue_track_index_count(t); ++x)
      tr.indices.push_back(Index{kavlo_cue_track_index_number(t, x),
                                 kavlo_cue_track_index_frames(t, x),
                                 kavlo_cue_track_index_ms(t, x)});
    r.tracks.push_back(std::move(tr));
  }
  for (int w = 0; w < kavlo_warning_count(); ++w) r.warnings.push_back(str(kavlo_warning(w)));
  r.json_full = kavlo_result_json_full();
  r.json = kavlo_result_json();
  // A track's number has no accessor of its own; the JSON document holds it
  // as the first member of each track object. The pattern cannot occur
  // inside a JSON string, where quotes are escaped.
  size_t at = 0;
  for (Track &t : r.tracks) {
    at = r.json.find("{\"number\":", at);
    if (at == std::string::npos) break;
    at += 10;
    t.number = static_cast<int>(std::strtol(r.json.c_str() + at, nullptr, 10));
  }
  return r;
}

}  // namespace detail

// Parses `text` (any bytes; decoded as kavlo_parse_enc() does). An empty
// `encoding` means none.
inline Result parse(std::string_view text, Format format = Format::automatic,
                    std::string_view encoding = {}) {
  const std::string enc(encoding);
  const int rc = kavlo_parse_enc(text.data(), text.size(), static_cast<int>(format),
                                 enc.empty() ? nullptr : enc.c_str());
  return detail::collect(rc);
}

// Reads and parses a file, with automatic format detection. A failure before
// the file is read (KAVLO_ERR_IO, ...) gives a Result without items.
inline Result parse_file(const std::string &path, std::string_view encoding = {}) {
  const std::string enc(encoding);
  kavlo_clear();
  const int rc = kavlo_parse_file_enc(path.c_str(), enc.empty() ? nullptr : enc.c_str());
  return detail::collect(rc);
}

// The "auto" encoding (see kavlo_auto.h): bytes with a byte-order mark or in
// UTF-8 go to the library unnamed; otherwise the detector names their
// encoding, and when it has no answer or the bytes do not convert from that
// name, the library's own fallback chain decodes them. Result::encoding
// tells which encoding was used.
//
// A Detector returns the name of the encoding of the bytes, "" for none.
// Define KAVLO_AUTO_UCHARDET before including this header (and link
// uchardet) for kavlo::uchardet_detector and the overloads that use it.
using Detector = std::function<std::string(std::string_view)>;

namespace detail {

inline void call_detector(const char *bytes, size_t len, char name[KAVLO_AUTO_NAME_SIZE],
                          void *ctx) {
  const std::string found = (*static_cast<const Detector *>(ctx))(std::string_view(bytes, len));
  if (found.size() < KAVLO_AUTO_NAME_SIZE) std::memcpy(name, found.c_str(), found.size() + 1);
}

// Reads a regular file whole, as the library's file entry points do.
inline bool read_file(const std::string &path, std::string &out) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  long size = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
  bool ok = size >= 0 && size < INT_MAX && std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    out.resize(static_cast<size_t>(size));
    ok = std::fread(out.data(), 1, out.size(), f) == out.size();
  }
  std::fclose(f);
  return ok;
}

}  // namespace detail

// Parses `text` with the "auto" encoding. An empty `detector` leaves every
// text that is neither marked nor UTF-8 to the library's own chain.
inline Result parse_auto(std::string_view text, const Detector &detector,
                         Format format = Format::automatic) {
  char used[KAVLO_AUTO_NAME_SIZE];
  const int rc = kavlo_auto_parse_with(text.data(), text.size(), static_cast<int>(format),
                                       detector ? detail::call_detector : nullptr,
                                       const_cast<Detector *>(&detector), used);
  Result r = detail::collect(rc);
  r.encoding = used;
  return r;
}

// Reads a file and parses it as parse_auto() does, with automatic format
// detection. A file that cannot be read gives the library's own failure
// for it (KAVLO_ERR_IO, ...).
inline Result parse_file_auto(const std::string &path, const Detector &detector) {
  std::string bytes;
  if (!detail::read_file(path, bytes)) {
    kavlo_clear();
    return detail::collect(kavlo_parse_file_enc(path.c_str(), nullptr));
  }
  return parse_auto(bytes, detector);
}

#ifdef KAVLO_AUTO_UCHARDET
// uchardet's name for `bytes`, "" when it has none.
inline std::string uchardet_detector(std::string_view bytes) {
  char name[KAVLO_AUTO_NAME_SIZE];
  kavlo_auto_uchardet(bytes.data(), bytes.size(), name, nullptr);
  return name;
}

inline Result parse_auto(std::string_view text, Format format = Format::automatic) {
  return parse_auto(text, uchardet_detector, format);
}

inline Result parse_file_auto(const std::string &path) {
  return parse_file_auto(path, uchardet_detector);
}
#endif

// The format of `text`, without parsing it and without touching the last
// result.
inline Format detect(std::string_view text) noexcept {
  return static_cast<Format>(kavlo_detect(text.data(), text.size()));
}

}  // namespace kavlo

#endif  // KAVLO_HPP
