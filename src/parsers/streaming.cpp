// The streaming URL list parser: one entry per line, an optional display
// name before an ASCII comma or a full-width comma (U+FF0C), and a URL that
// must carry an http, https or rtsp scheme.
#include <string_view>

#include "../text/text.h"
#include "kavlo.h"
#include "parsers.h"
#include "../store/messages.h"
#include "../store/locations.h"
#include "../text/utf8.h"

namespace kavlo {

using sv = std::string_view;

// Walks the line a character at a time, so that a comma byte inside a
// multi-byte sequence never separates; the first comma of either kind wins.
StreamSeparator stream_separator(sv line) noexcept {
  const size_t n = line.size();
  // Up to the first comma or non-ASCII byte every byte is a character of
  // its own, so that stretch needs no walk.
  size_t i = 0;
  while (i < n && line[i] != ',' && static_cast<unsigned char>(line[i]) < 0x80) ++i;
  while (i < n) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c == ',') return {i, 1};
    if (c == 0xEF && n - i >= 3 && static_cast<unsigned char>(line[i + 1]) == 0xBC &&
        static_cast<unsigned char>(line[i + 2]) == 0x8C)
      return {i, 3};
    const size_t step = utf8_lead_length(c);
    if (step > n - i) break;  // a sequence cut off by the end of the line
    i += step;
  }
  return {n, 0};
}

int parse_streaming_list(Store &s, const char *text, size_t len) noexcept {
  s.suffixes_marked = true;
  return for_each_line(s, text, len, "streaming", [&](sv, sv line, size_t line_no) {
    sv title = line, url = line;
    const StreamSeparator sep = stream_separator(line);
    if (sep.len != 0) {
      title = trim(line.substr(0, sep.pos));
      url = trim(line.substr(sep.pos + sep.len));
    }
    if (!has_stream_scheme(url)) {
      // "NAME,#genre#" names the group of the entries after it; as a line
      // without a stream it is still dropped with the warning.
      if (sep.len != 0 && str_ieq(url, "#genre#")) item_group_start(s, title);
      warn_at(s, line_no, url, "streaming: dropped non-http URL");
      return KAVLO_OK;
    }
    if (title.empty()) title = url;
    if (item_add(s, url, title, -1) != KAVLO_OK || item_set_line(s, line_no) != KAVLO_OK ||
        (has_any_byte(url, '|', '#', '$') && item_mark_suffixed(s) != KAVLO_OK))
      return KAVLO_ERR_NOMEM;
    return KAVLO_OK;
  });
}

}  // namespace kavlo
