// The CUE sheet writer.
#include "out.h"

#include "kavlo.h"
#include "../detect.h"
#include "../parsers/parsers.h"

namespace kavlo::write_detail {

namespace {

// The reader (parse_cue) trims each line and splits it at its first space
// into keyword and value. String fields take the value without surrounding
// quotes (strip_quotes: up to the last quote), so "KEYWORD \"VALUE\"" gives
// any value back. REM takes its first word as the key and the rest without
// quotes; FLAGS its value as written; FILE the name before the last space
// (without quotes) and the type after it; TRACK its number, then the data
// type; INDEX, PREGAP and POSTGAP mm:ss:ff, each part digits read modulo
// 2^32.

// The value as it is, or in quotes where the reader would change it.
void put_value(Out &o, Str v) noexcept {
  const bool quote = v.n == 0 || v.p[0] == '"' || has_space(v.view());
  if (quote) o.ch('"');
  o.put(v);
  if (quote) o.ch('"');
}

void put_quoted(Out &o, Str v) noexcept {
  o.ch('"');
  o.put(v);
  o.ch('"');
}

enum class Quote { always, if_needed };

template <size_t N>
bool field_line(Out &o, const char (&keyword)[N], const char *value, const char *indent, size_t indent_n,
                Quote q) noexcept {
  if (value == nullptr) return true;
  if (q == Quote::always) {
    if (!o.need(indent_n + N + 1)) return false;
    o.put_exact(indent, indent_n);
    o.lit(keyword);
    o.lit(" \"");
    if (!o.copy(value) || !o.need(3)) return false;
    o.ch('"');
    o.eol();
    return true;
  }
  const Str v = str(value);
  if (!o.line(indent_n + N + v.n + 2)) return false;
  o.put_exact(indent, indent_n);
  o.lit(keyword);
  o.ch(' ');
  put_value(o, v);
  o.eol();
  return true;
}

bool rem_line(Out &o, const CueRem &r, const char *indent, size_t indent_n) noexcept {
  const Str key = str(r.key), value = str(r.value);
  if (!o.line(indent_n + 4 + key.n + value.n + 3)) return false;
  o.put_exact(indent, indent_n);
  o.lit("REM");
  if (key.n != 0) {
    o.ch(' ');
    o.put(key);
    if (value.n != 0) {
      o.ch(' ');
      put_value(o, value);
    }
  }
  o.eol();
  return true;
}

// mm:ss:ff giving `frames` back: each part is read as 32 bits, so a
// position beyond 2^31 - 1 minutes puts the rest in the seconds, and a
// negative one is written as parts that wrap to negative numbers. An INDEX
// line has its number (`number`, written as 32 bits) before the time.
template <size_t N>
bool time_line(Out &o, const char (&keyword)[N], int64_t frames, const char *indent, size_t indent_n,
               const int *number = nullptr) noexcept {
  if (!o.need(indent_n + N + 11 + 33)) return false;
  o.put_exact(indent, indent_n);
  o.lit(keyword);
  o.ch(' ');
  if (number != nullptr) {
    o.digits(static_cast<uint32_t>(*number), 2);
    o.ch(' ');
  }
  if (frames >= 0 && frames <= UINT32_MAX) {
    // The usual case, in 32 bits.
    const auto f = static_cast<uint32_t>(frames);
    o.digits(f / 4500, 2);
    o.ch(':');
    o.digits(f / 75 % 60, 2);
    o.ch(':');
    o.digits(f % 75, 2);
    o.eol();
    return true;
  }
  const bool negative = frames < 0;
  uint64_t g = negative ? 0 - static_cast<uint64_t>(frames) : static_cast<uint64_t>(frames);
  const uint64_t cap = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  uint64_t part[3];
  part[0] = g / 4500 < cap ? g / 4500 : cap;
  g -= part[0] * 4500;
  part[1] = g / 75 < cap ? g / 75 : cap;
  part[2] = g - part[1] * 75;
  for (int k = 0; k < 3; ++k) {
    if (k != 0) o.ch(':');
    const auto u = static_cast<uint32_t>(part[k]);
    o.digits(negative ? 0u - u : u, 2);
  }
  o.eol();
  return true;
}

// A FILE line whose name and type the reader gives back: the name in
// quotes before the type; without a type, a name without spaces in quotes,
// or a space and a word, as "FILE  x" reads " x".
bool file_line(Out &o, Str name, Str type) noexcept {
  if (!o.line(name.n + type.n + 12)) return false;
  o.lit("FILE ");
  const bool spaced = std::memchr(name.p, ' ', name.n) != nullptr;
  const sv rest = name.n != 0 ? name.view().substr(1) : sv();
  if (type.n == 0 && spaced && name.p[0] == ' ' && !rest.empty() && rest.find(' ') == sv::npos &&
      !ends_in_space(rest)) {
    o.put(name);
  } else {
    put_quoted(o, name);
    // Without a type the reader would split a name with spaces; "WAVE"
    // stands in for a type that no parse leaves out there.
    if (type.n != 0) {
      o.ch(' ');
      o.put(type);
    } else if (spaced) {
      o.lit(" WAVE");
    }
  }
  o.eol();
  return true;
}

}  // namespace

bool write_cue(Out &o, const Store &s) noexcept {
  const CueSheet &c = s.cue;
  if (!field_line(o, "TITLE", c.title, "", 0, Quote::always) ||
      !field_line(o, "PERFORMER", c.performer, "", 0, Quote::always) ||
      !field_line(o, "SONGWRITER", c.songwriter, "", 0, Quote::always) ||
      !field_line(o, "CATALOG", c.catalog, "", 0, Quote::if_needed) ||
      !field_line(o, "CDTEXTFILE", c.cdtextfile, "", 0, Quote::always))
    return false;
  for (int k = 0; k < s.sheet_rem_count; ++k)
    if (!rem_line(o, s.rems[k], "", 0)) return false;

  const char *file = nullptr;  // the FILE in force in the text
  size_t extra = 0;
  for (int i = 0; i < s.track_count; ++i) {
    const CueTrack &t = s.tracks[i];
    // A track without a FILE after one with a FILE cannot be written: it
    // falls under that FILE. Only a result built from several sheets has
    // one.
    if (t.file != nullptr &&
        (file == nullptr || (file != t.file && (std::strcmp(file, t.file) != 0 ||
                                                 std::strcmp(track_file_type(t), file + std::strlen(file) + 1) != 0)))) {
      if (!file_line(o, str(t.file), str(track_file_type(t)))) return false;
      file = t.file;
    }
    if (!o.need(2 + 6 + 10 + 1)) return false;
    o.lit("  TRACK ");
    o.digits(static_cast<uint32_t>(t.number), 2);
    if (t.datatype != nullptr && t.datatype[0] != '\0') {
      o.ch(' ');
      if (!o.copy(t.datatype)) return false;
    }
    if (!o.need(2)) return false;
    o.eol();
    const CueTrackRare *e = track_rare(s, extra, i);
    constexpr char in[] = "    ";
    if (e != nullptr && e->flags != nullptr) {
      const Str flags = str(e->flags);
      if (!o.line(4 + 6 + flags.n)) return false;
      o.lit("    FLAGS");
      if (flags.n != 0) {
        o.ch(' ');
        o.put(flags);
      }
      o.eol();
    }
    if (!field_line(o, "TITLE", t.title, in, 4, Quote::always) ||
        !field_line(o, "PERFORMER", t.performer, in, 4, Quote::always) ||
        (e != nullptr && (!field_line(o, "SONGWRITER", e->songwriter, in, 4, Quote::always) ||
                          !field_line(o, "ISRC", e->isrc, in, 4, Quote::if_needed))))
      return false;
    for (int k = 0; k < t.rem_count; ++k)
      if (!rem_line(o, s.rems[t.rem_begin + static_cast<size_t>(k)], in, 4)) return false;
    if (e != nullptr && e->has_pregap && !time_line(o, "PREGAP", e->pregap, in, 4)) return false;
    const CueIndex *ix = track_indices(s, t);
    for (int k = 0; k < t.index_count; ++k)
      if (!time_line(o, "INDEX", ix[k].frames, in, 4, &ix[k].number)) return false;
    if (e != nullptr && e->has_postgap && !time_line(o, "POSTGAP", e->postgap, in, 4)) return false;
  }
  return true;
}

}  // namespace kavlo::write_detail
