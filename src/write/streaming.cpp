// The streaming-list writer.
#include "out.h"

#include "kavlo.h"
#include "../detect.h"
#include "../parsers/parsers.h"

namespace kavlo::write_detail {

namespace {

// The reader (parse_streaming_list) trims each line and splits it at its
// first ASCII or full-width comma: the name before, the URL after (the
// whole line, name and URL, without one). A URL needs an http, https or
// rtsp scheme; "NAME,#genre#" starts a group. A name cannot hold a comma:
// one that does is written with each ASCII comma as U+201A and each
// full-width one as U+3001. Only items whose location has a stream scheme
// are written.

void put_name(Out &o, sv name) noexcept {
  for (;;) {
    const StreamSeparator sep = stream_separator(name);
    o.put(name.substr(0, sep.pos));
    if (sep.len == 0) return;
    if (sep.len == 1) o.lit("\xE2\x80\x9A");
    else o.lit("\xE3\x80\x81");
    name.remove_prefix(sep.pos + sep.len);
  }
}

// A stream scheme, as the reader looks for it (anywhere), at once for the
// usual place: the start.
bool stream_location(const char *loc) noexcept {
  auto at_start = [loc](const char *scheme, size_t n) {
    for (size_t k = 0; k < n; ++k)
      if (to_lower(static_cast<unsigned char>(loc[k])) != static_cast<unsigned char>(scheme[k])) return false;
    return true;
  };
  return at_start("http://", 7) || at_start("https://", 8) || at_start("rtsp://", 7) || has_stream_scheme(loc);
}

// A name, its commas written as others (see put_name) when it has any.
bool put_stream_name(Out &o, const char *name) noexcept {
  size_t n;
  bool maybe = false;  // an ASCII comma, or the lead byte of U+FF0C
  if (!o.copy<',', '\xEF'>(name, n, maybe)) return false;
  if (!maybe) return true;
  o.back(n);
  return o.need(3 * n) && (put_name(o, sv(name, n)), true);
}

}  // namespace

bool write_streaming(Out &o, const Store &s) noexcept {
  const char *current = "";  // the group in force in the text
  size_t group = 0;
  const char *group_name = nullptr;
  for (int i = 0; i < s.item_count; ++i) {
    const auto index = static_cast<size_t>(i);
    const PlaylistItem &it = s.items[i];
    const char *g = s.group_used != 0 ? stream_group(s, group, index, group_name) : "";
    const char *loc = it.location != nullptr ? it.location : "";
    if (!stream_location(loc)) continue;
    if (g[0] == '\0' && item_attr_count(s, index) != 0)
      if (const ItemAttr *t = group_title(s, index)) g = t->value;
    if (g != current && std::strcmp(g, current) != 0) {
      if (!put_stream_name(o, g) || !o.need(10)) return false;
      o.lit(",#genre#");
      o.eol();
      current = g;
    }
    const char *title = it.title != nullptr ? it.title : "";
    // The reader gives an entry without a name its URL as the title.
    if (title[0] == '\0' || (title[0] == loc[0] && std::strcmp(title, loc) == 0)) {
      const size_t at = o.size();
      size_t n;
      bool maybe = false;
      if (!o.copy<',', '\xEF'>(loc, n, maybe)) return false;
      // A URL with a comma needs one before it, or it would be split.
      if (maybe && stream_separator(sv(loc, n)).len != 0 &&
          !o.insert(at, 1, [](char *p) { *p = ','; }))
        return false;
    } else {
      if (!put_stream_name(o, title) || !o.need(1)) return false;
      o.ch(',');
      if (!o.copy(loc)) return false;
    }
    if (!o.need(2)) return false;
    o.eol();
  }
  return true;
}

}  // namespace kavlo::write_detail
