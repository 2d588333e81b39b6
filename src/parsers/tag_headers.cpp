// The request headers that M3U tag lines set: #EXTVLCOPT:http-* names,
// #KODIPROP header lists and #EXTHTTP: JSON objects (see tag_headers.h).
#include "tag_headers.h"

#include <cstring>

#include "kavlo.h"
#include "../store/locations.h"
#include "../store/messages.h"
#include "../text/text.h"
#include "../text/utf8.h"

namespace kavlo {

namespace {

using sv = std::string_view;

// A JSON string (RFC 8259) at text[i], which is '"': on success `i`
// stands past its closing quote and, when `out` is not NULL, the decoded
// text (at most as long as the written one) is at `out` with its length
// in `n`. Refused besides what JSON refuses: text that is not strict
// UTF-8, and control characters, escaped or not (a header cannot hold
// them).
bool json_string(sv text, size_t &i, char *out, size_t &n) noexcept {
  auto hex4 = [&](size_t at, unsigned &v) {
    if (at + 4 > text.size()) return false;
    v = 0;
    for (size_t k = at; k < at + 4; ++k) {
      const auto c = static_cast<unsigned char>(text[k]);
      const unsigned d = is_digit(c) ? c - '0' : (to_lower(c) >= 'a' && to_lower(c) <= 'f') ? to_lower(c) - 'a' + 10 : 16;
      if (d == 16) return false;
      v = v * 16 + d;
    }
    return true;
  };
  n = 0;
  size_t run = ++i;  // start of the bytes copied as they are
  auto flush = [&](size_t end) {
    if (!is_strict_utf8(text.substr(run, end - run))) return false;
    if (out != nullptr) std::memcpy(out + n, text.data() + run, end - run);
    n += end - run;
    return true;
  };
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"') {
      if (!flush(i)) return false;
      ++i;
      return true;
    }
    if (c < 0x20 || c == 0x7F) return false;
    if (c != '\\') {
      ++i;
      continue;
    }
    if (!flush(i) || i + 1 >= text.size()) return false;
    const char e = text[i + 1];
    if (e == '"' || e == '\\' || e == '/') {
      if (out != nullptr) out[n] = e;
      ++n;
      i += 2;
    } else if (e == 'u') {
      unsigned cp;
      if (!hex4(i + 2, cp)) return false;
      i += 6;
      if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        unsigned low;
        if (i + 1 >= text.size() || text[i] != '\\' || text[i + 1] != 'u' || !hex4(i + 2, low) || low < 0xDC00 ||
            low > 0xDFFF)
          return false;
        i += 6;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      if (cp < 0x20 || cp == 0x7F) return false;
      char utf8[4];
      const size_t len = utf8_encode(cp, utf8);
      if (out != nullptr) std::memcpy(out + n, utf8, len);
      n += len;
    } else {
      return false;  // \b, \f, \n, \r, \t: control characters; anything else is not JSON
    }
    run = i;
  }
  return false;
}

// The members of a JSON object of strings, `{"name":"value",...}` with
// nothing around it but white space. Walks it once to check it (`store`
// false) and once to keep its members (`store` true): names in lower case,
// the first of a name wins, at most 64, the rest counted in `dropped`.
bool json_headers(Store &s, sv text, bool store, size_t &dropped, sv &first_dropped) noexcept {
  auto ws = [&](size_t &i) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  };
  // The decoded strings of a member, each in a store-owned block when
  // kept (a decoded string is never longer than the written one).
  auto string = [&](size_t &i, const char *&kept, sv &view) {
    if (i >= text.size() || text[i] != '"') return false;
    const size_t start = i;
    size_t n;
    if (!json_string(text, i, nullptr, n)) return false;
    view = text.substr(start + 1, i - start - 2);
    kept = nullptr;
    if (store) {
      char *out = arena_block(s, i - start);
      if (out == nullptr) return true;  // the member is lost with the memory
      size_t at = start;
      (void)json_string(text, at, out, n);
      out[n] = '\0';
      kept = out;
    }
    return true;
  };
  sv names[max_attrs];
  int count = 0;
  size_t i = 0;
  ws(i);
  if (i >= text.size() || text[i] != '{') return false;
  ++i;
  ws(i);
  bool first = true;
  while (i < text.size() && text[i] != '}') {
    if (!first) {
      if (text[i] != ',') return false;
      ++i;
      ws(i);
    }
    first = false;
    const char *name, *value;
    sv name_view, value_view;
    if (!string(i, name, name_view)) return false;
    ws(i);
    if (i >= text.size() || text[i] != ':') return false;
    ++i;
    ws(i);
    if (!string(i, value, value_view)) return false;
    ws(i);
    if (!store || name == nullptr || name[0] == '\0') continue;
    bool seen = false;
    for (int k = 0; k < count && !seen; ++k) seen = str_ieq(names[k], sv(name));
    if (seen) continue;
    if (count == max_attrs) {
      if (dropped++ == 0) first_dropped = name_view;
      continue;
    }
    names[count++] = name;
    char *lower = const_cast<char *>(name);  // the block written above
    for (char *c = lower; *c != '\0'; ++c) *c = static_cast<char>(to_lower(static_cast<unsigned char>(*c)));
    item_http_add(s, http_exthttp, name, value);
  }
  if (i >= text.size()) return false;
  ++i;
  ws(i);
  return i == text.size();
}

}  // namespace

bool read_exthttp(Store &s, sv json, size_t line_no) noexcept {
  size_t dropped = 0;
  sv first_dropped;
  if (!json_headers(s, json, false, dropped, first_dropped)) return false;
  (void)json_headers(s, json, true, dropped, first_dropped);
  if (dropped != 0)
    loss_at(s, line_no, first_dropped, "m3u: request headers past the 64th dropped: %zu", dropped);
  return true;
}

const char *vlc_header_name(Store &s, sv name) noexcept {
  if (str_ieq(name, "user-agent")) return "user-agent";
  if (str_ieq(name, "referrer") || str_ieq(name, "referer")) return "referer";
  if (str_ieq(name, "origin")) return "origin";
  if (str_ieq(name, "cookie")) return "cookie";
  for (sv own : {"reconnect", "continuous", "forward-cookies", "proxy", "proxy-pwd"})
    if (str_ieq(name, own)) return nullptr;
  return name.empty() ? nullptr : copy_lower(s, name);
}

void kodi_headers(Store &s, sv value, size_t line_no) noexcept {
  HeaderList h;
  if (!header_pairs(value, h)) return;
  for (int k = 0; k < h.count; ++k)
    item_http_add(s, http_kodiprop, copy_lower(s, h.key[k].view()),
                  copy_header_value(s, h.value[k].view(), h.quoted[k]));
  if (h.dropped != 0)
    loss_at(s, line_no, h.first_dropped, "m3u: request headers past the 64th dropped: %zu", h.dropped);
}

}  // namespace kavlo
