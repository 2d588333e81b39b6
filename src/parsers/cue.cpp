// The CUE sheet parser: sheet fields, FILE / TRACK / INDEX structure and
// track fields, one playlist item per track at the end.
#include <cstdint>
#include <string_view>

#include "../mem.h"
#include "../text.h"
#include "kavlo.h"
#include "parsers.h"

namespace kavlo {

namespace {

using sv = std::string_view;

constexpr int64_t frames_per_second = 75;
constexpr int64_t frames_per_minute = 60 * frames_per_second;

struct CueParseState {
  int current_track = -1;
  bool has_file = false;
  sv current_file;                // view into the parse copy
  const char *file_copy = nullptr;  // store copy shared by the tracks of one FILE
  bool file_copied = false;
};

size_t skip_space(sv s, size_t i) noexcept {
  while (i < s.size() && is_space(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

// minutes:seconds:frames, each one or more digits, then only white space.
// No range check: 00:60:99 counts as written.
bool read_time(sv v, size_t i, int64_t &frames) noexcept {
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

[[nodiscard]] int open_track(Store &s, CueParseState &st, sv value) noexcept {
  if (!grow_array(s.tracks, s.track_capacity, static_cast<size_t>(s.track_count) + 1,
                  first_track_capacity, INT32_MAX))
    return KAVLO_ERR_NOMEM;
  CueTrack &t = s.tracks[s.track_count];
  t = CueTrack{};
  size_t i = skip_space(value, 0);
  t.number = read_digits(value, i);
  t.datatype = copy_string(s, value.substr(skip_space(value, i)));
  if (st.has_file) {
    if (!st.file_copied) {
      st.file_copy = copy_string(s, st.current_file);
      st.file_copied = true;
    }
    t.file = st.file_copy;
  }
  st.current_track = s.track_count++;
  return KAVLO_OK;
}

void read_index(Store &s, const CueParseState &st, sv value) noexcept {
  if (st.current_track < 0) {
    warnf(s, "cue: %s before TRACK ignored", "INDEX");
    return;
  }
  size_t i = skip_space(value, 0);
  if (i >= value.size() || !is_digit(static_cast<unsigned char>(value[i]))) {
    warnf(s, "cue: malformed INDEX");
    return;
  }
  const int32_t number = read_digits(value, i);
  i = skip_space(value, i);
  int64_t frames = 0;
  if (i >= value.size() || !read_time(value, i, frames)) {
    warnf(s, "cue: malformed %s time", "INDEX");
    return;
  }
  // A failed growth of the index array loses this index only.
  (void)track_index_add(s, number, frames);
}

void read_gap(Store &s, const CueParseState &st, const char *keyword, sv value) noexcept {
  if (st.current_track < 0) {
    warnf(s, "cue: %s before TRACK ignored", keyword);
    return;
  }
  int64_t frames = 0;
  if (!read_time(value, skip_space(value, 0), frames))
    warnf(s, "cue: malformed %s time", keyword);
}

// The sheet field or track field a string keyword fills; NULL when the
// keyword is dropped in the current phase.
const char **string_field(Store &s, const CueParseState &st, sv keyword) noexcept {
  const bool in_track = st.current_track >= 0;
  CueTrack *t = in_track ? &s.tracks[st.current_track] : nullptr;
  if (str_ieq(keyword, "TITLE")) return in_track ? &t->title : &s.cue.title;
  if (str_ieq(keyword, "PERFORMER")) return in_track ? &t->performer : &s.cue.performer;
  if (str_ieq(keyword, "SONGWRITER")) return in_track ? &t->songwriter : &s.cue.songwriter;
  if (str_ieq(keyword, "CATALOG")) return in_track ? nullptr : &s.cue.catalog;
  if (str_ieq(keyword, "CDTEXTFILE")) return in_track ? nullptr : &s.cue.cdtextfile;
  return in_track ? &t->isrc : nullptr;  // ISRC
}

bool is_string_keyword(sv k) noexcept {
  return str_ieq(k, "TITLE") || str_ieq(k, "PERFORMER") || str_ieq(k, "SONGWRITER") ||
         str_ieq(k, "CATALOG") || str_ieq(k, "CDTEXTFILE") || str_ieq(k, "ISRC");
}

[[nodiscard]] int read_line(Store &s, CueParseState &st, sv line) noexcept {
  // Only a space splits keyword and value; the value keeps any further
  // spaces, so "TITLE  x" stores " x".
  const size_t space = line.find(' ');
  const sv keyword = line.substr(0, space);
  const sv value = line.substr(space == sv::npos ? line.size() : space + 1);

  if (str_ieq(keyword, "FILE")) {
    const size_t last = value.rfind(' ');
    const sv name = (last != sv::npos && last != 0) ? value.substr(0, last) : value;
    st.current_file = strip_quotes(name);
    st.has_file = true;
    st.file_copied = false;
  } else if (str_ieq(keyword, "TRACK")) {
    return open_track(s, st, value);
  } else if (str_ieq(keyword, "INDEX")) {
    read_index(s, st, value);
  } else if (str_ieq(keyword, "PREGAP")) {
    read_gap(s, st, "PREGAP", value);
  } else if (str_ieq(keyword, "POSTGAP")) {
    read_gap(s, st, "POSTGAP", value);
  } else if (is_string_keyword(keyword)) {
    if (value.empty() && str_ieq(keyword, "TITLE")) warnf(s, "cue: empty TITLE value");
    if (const char **field = string_field(s, st, keyword))
      *field = copy_string(s, strip_quotes(value));
  } else if (str_ieq(keyword, "FLAGS")) {
    if (st.current_track < 0)
      warnf(s, "cue: FLAGS before TRACK ignored");
    else
      s.tracks[st.current_track].flags = copy_string(s, value);
  } else if (str_ieq(keyword, "REM")) {
    warnf(s, "cue: REM %.*s", msg_len(value), value.data());
  } else {
    warnf(s, "cue: garbage: %.*s", msg_len(line), line.data());
  }
  return KAVLO_OK;
}

}  // namespace

int parse_cue(Store &s, const char *text, size_t len) noexcept {
  CueParseState st;
  LineCursor cur{text, len};
  sv raw;
  while (lines_next(cur, raw)) {
    const sv line = trim(raw);
    if (line.empty()) continue;
    const int rc = read_line(s, st, line);
    if (rc != KAVLO_OK) return rc;
  }
  s.detected_format = KAVLO_FORMAT_CUE;
  for (int i = 0; i < s.track_count; ++i) {
    const CueTrack &t = s.tracks[i];
    const sv file = t.file != nullptr ? sv(t.file) : sv();
    const sv title = t.title != nullptr ? sv(t.title) : sv();
    if (item_add(s, file, title, -1, -1) != KAVLO_OK) return KAVLO_ERR_NOMEM;
  }
  return KAVLO_OK;
}

}  // namespace kavlo
