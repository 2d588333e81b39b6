// The CUE sheet parser: sheet fields, FILE / TRACK / INDEX structure and
// track fields, one playlist item per track at the end.
#include <cstdint>
#include <string_view>

#include "../mem.h"
#include "../text/text.h"
#include "kavlo.h"
#include "parsers.h"
#include "../store/messages.h"

namespace kavlo {

namespace {

using sv = std::string_view;

constexpr int64_t frames_per_second = 75;
constexpr int64_t frames_per_minute = 60 * frames_per_second;

struct CueParseState {
  int current_track = -1;
  bool has_file = false;
  sv current_file;                  // view into the decoded text
  sv current_file_type;             // the FILE line's type word, "" for none
  const char *file_copy = nullptr;  // store copy (name, then type) shared by the tracks of one FILE
  bool file_copied = false;
  // The last stored data type ("AUDIO" on nearly every track), shared by
  // the tracks that repeat it.
  LastCopy datatype;
};

enum class Keyword {
  File, Track, Index, Pregap, Postgap, Title, Performer, Songwriter, Catalog, Cdtextfile, Isrc,
  Flags, Rem, Other
};

// Keywords in any letter case; the length narrows the candidates first.
Keyword classify(sv k) noexcept {
  switch (k.size()) {
    case 3:
      if (str_ieq(k, "REM")) return Keyword::Rem;
      break;
    case 4:
      if (str_ieq(k, "FILE")) return Keyword::File;
      if (str_ieq(k, "ISRC")) return Keyword::Isrc;
      break;
    case 5:
      switch (to_upper(static_cast<unsigned char>(k[0]))) {
        case 'T':
          if (str_ieq(k, "TRACK")) return Keyword::Track;
          if (str_ieq(k, "TITLE")) return Keyword::Title;
          break;
        case 'I':
          if (str_ieq(k, "INDEX")) return Keyword::Index;
          break;
        case 'F':
          if (str_ieq(k, "FLAGS")) return Keyword::Flags;
          break;
      }
      break;
    case 6:
      if (str_ieq(k, "PREGAP")) return Keyword::Pregap;
      break;
    case 7:
      if (str_ieq(k, "POSTGAP")) return Keyword::Postgap;
      if (str_ieq(k, "CATALOG")) return Keyword::Catalog;
      break;
    case 9:
      if (str_ieq(k, "PERFORMER")) return Keyword::Performer;
      break;
    case 10:
      if (str_ieq(k, "SONGWRITER")) return Keyword::Songwriter;
      if (str_ieq(k, "CDTEXTFILE")) return Keyword::Cdtextfile;
      break;
  }
  return Keyword::Other;
}

// minutes:seconds:frames, each one or more digits, then only white space.
// No range check: 00:60:99 counts as written.
bool read_time(sv v, size_t i, int64_t &frames) noexcept {
  // The usual form, mm:ss:ff at the end of the line, read at fixed places.
  if (v.size() - i == 8 && v[i + 2] == ':' && v[i + 5] == ':') {
    const char *p = v.data() + i;
    bool digits = true;
    for (int k : {0, 1, 3, 4, 6, 7}) digits = digits && is_digit(static_cast<unsigned char>(p[k]));
    if (digits) {
      auto two = [&](int k) { return (p[k] - '0') * 10 + (p[k + 1] - '0'); };
      frames = int64_t{two(0)} * frames_per_minute + int64_t{two(3)} * frames_per_second + two(6);
      return true;
    }
  }
  int32_t part[3];
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      if (i >= v.size() || v[i] != ':') return false;
      ++i;
    }
    if (i >= v.size() || !is_digit(static_cast<unsigned char>(v[i]))) return false;
    part[k] = read_digits(v, i);
  }
  if (skip_space(v, i) != v.size()) return false;
  frames = int64_t{part[0]} * frames_per_minute + int64_t{part[1]} * frames_per_second + part[2];
  return true;
}

[[nodiscard]] int open_track(Store &s, CueParseState &st, sv value, size_t line) noexcept {
  size_t i = skip_space(value, 0);
  const int number = read_digits(value, i);
  const char *datatype = st.datatype.get(s, value.substr(skip_space(value, i)));
  if (st.has_file && !st.file_copied) {
    st.file_copy = copy_string_pair(s, st.current_file, st.current_file_type);
    st.file_copied = true;
  }
  if (track_add(s, number, datatype, st.has_file ? st.file_copy : nullptr, line) != KAVLO_OK) return KAVLO_ERR_NOMEM;
  st.current_track = s.track_count - 1;
  return KAVLO_OK;
}

// Track-level keywords need an open track; before the first one the line
// is ignored with a warning.
bool track_open(Store &s, const CueParseState &st, const char *keyword, size_t line_no) noexcept {
  if (st.current_track >= 0) return true;
  warn_at(s, line_no, keyword, "cue: %s before TRACK ignored", keyword);
  return false;
}

void read_index(Store &s, const CueParseState &st, sv value, size_t line_no) noexcept {
  if (!track_open(s, st, "INDEX", line_no)) return;
  size_t i = skip_space(value, 0);
  if (i >= value.size() || !is_digit(static_cast<unsigned char>(value[i]))) {
    warn_at(s, line_no, "INDEX", "cue: malformed INDEX");
    return;
  }
  const size_t digits = i;
  const int32_t number = read_digits(value, i);
  const size_t digits_end = i;
  i = skip_space(value, i);
  int64_t frames = 0;
  if (i >= value.size() || !read_time(value, i, frames)) {
    warn_at(s, line_no, "INDEX", "cue: malformed %s time", "INDEX");
    return;
  }
  // A failed growth of the index array loses this index only.
  if (track_index_add(s, number, frames) == IndexAdd::over_cap)
    loss_at(s, line_no, value.substr(digits, digits_end - digits), "cue: index past the 32nd of the track dropped");
}

// PREGAP and POSTGAP: the track keeps the last well-formed length of each.
void read_gap(Store &s, const CueParseState &st, Keyword k, sv value, size_t line_no) noexcept {
  const char *keyword = k == Keyword::Pregap ? "PREGAP" : "POSTGAP";
  if (!track_open(s, st, keyword, line_no)) return;
  int64_t frames = 0;
  if (!read_time(value, skip_space(value, 0), frames)) {
    warn_at(s, line_no, keyword, "cue: malformed %s time", keyword);
    return;
  }
  track_gap_set(s, k == Keyword::Postgap, frames);
}

// REM lines stay warnings; the first word and the rest (quotes stripped)
// are kept as well, for the sheet or the track.
void read_rem(Store &s, sv value, size_t line_no) noexcept {
  const size_t start = skip_space(value, 0);
  size_t end = start;
  while (end < value.size() && !is_space(static_cast<unsigned char>(value[end]))) ++end;
  const sv key = value.substr(start, end - start);
  warn_at(s, line_no, key, "cue: REM %.*s", msg_len(value), value.data());
  cue_rem_add(s, key, strip_quotes(value.substr(skip_space(value, end))));
}

// The sheet or track field a string keyword fills.
CueField string_field(Keyword k) noexcept {
  switch (k) {
    case Keyword::Title: return CueField::title;
    case Keyword::Performer: return CueField::performer;
    case Keyword::Songwriter: return CueField::songwriter;
    case Keyword::Catalog: return CueField::catalog;
    case Keyword::Cdtextfile: return CueField::cdtextfile;
    default: return CueField::isrc;
  }
}

[[nodiscard]] int read_line(Store &s, CueParseState &st, sv line, size_t line_no) noexcept {
  // Only a space splits keyword and value; the value keeps any further
  // spaces, so "TITLE  x" stores " x".
  const size_t space = find_byte(line, 0, ' ');
  const sv value = line.substr(space == sv::npos ? line.size() : space + 1);
  const Keyword k = classify(line.substr(0, space));

  switch (k) {
    case Keyword::File: {
      const size_t last = value.rfind(' ');
      const bool typed = last != sv::npos && last != 0;
      const sv name = typed ? value.substr(0, last) : value;
      st.current_file = strip_quotes(name);
      st.current_file_type = typed ? value.substr(last + 1) : sv();
      st.has_file = true;
      st.file_copied = false;
      break;
    }
    case Keyword::Track:
      return open_track(s, st, value, line_no);
    case Keyword::Index:
      read_index(s, st, value, line_no);
      break;
    case Keyword::Pregap:
    case Keyword::Postgap:
      read_gap(s, st, k, value, line_no);
      break;
    case Keyword::Title:
    case Keyword::Performer:
    case Keyword::Songwriter:
    case Keyword::Catalog:
    case Keyword::Cdtextfile:
    case Keyword::Isrc:
      if (k == Keyword::Title && value.empty()) warn_at(s, line_no, "TITLE", "cue: empty TITLE value");
      cue_field_set(s, string_field(k), strip_quotes(value));
      break;
    case Keyword::Flags:
      if (track_open(s, st, "FLAGS", line_no)) {
        cue_field_set(s, CueField::flags, value);
      }
      break;
    case Keyword::Rem:
      read_rem(s, value, line_no);
      break;
    case Keyword::Other:
      warn_at(s, line_no, line.substr(0, space), "cue: garbage: %.*s", msg_len(line), line.data());
      break;
  }
  return KAVLO_OK;
}

}  // namespace

int parse_cue(Store &s, const char *text, size_t len) noexcept {
  CueParseState st;
  const int rc = for_each_line(s, text, len, "cue", [&](sv, sv line, size_t line_no) {
    return read_line(s, st, line, line_no);
  });
  if (rc != KAVLO_OK) return rc;
  // One item per track, at the track's line; the item shares the track's
  // stored strings.
  for (int i = 0; i < s.track_count; ++i) {
    if (item_add_stored(s, s.tracks[i].file, s.tracks[i].title) != KAVLO_OK ||
        item_set_line(s, s.tracks[i].line) != KAVLO_OK)
      return KAVLO_ERR_NOMEM;
  }
  return KAVLO_OK;
}

}  // namespace kavlo
