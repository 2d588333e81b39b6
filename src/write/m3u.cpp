// The extended M3U writer.
#include "out.h"

#include "kavlo.h"
#include "../detect.h"
#include "../parsers/parsers.h"

namespace kavlo::write_detail {

namespace {

// The reader (parse_m3u) trims every line and takes:
//   "#EXTM3U" then attributes; "#PLAYLIST:" TITLE for the list's title;
//   "#EXTGRP:" NAME for the next #EXTINF that
//   has no "group-title" of its own (appended last); "#EXTINF:" N, then
//   attributes up to the last comma outside double quotes, then the title;
//   any other "#" line as an option "#TAG:KEY=VALUE" of the next entry; any
//   other line as a location.
// An attribute is KEY=VALUE, KEY without "=" or white space, VALUE either
// in double quotes (no quote inside) or bare up to the next white space.
// Every value the reader makes is one of those: without a quote, or
// without white space and not starting with a quote. So a value is written
// in quotes, or bare when it holds a quote. Quotes in keys and bare values
// could hide the title's comma; an odd number of them is made even by a
// lone quote word at the end of the attributes, which the reader skips.

// A key's length and quote count, cached by position: lists repeat the
// same keys, which the store shares.
struct KeyInfo {
  const char *key = nullptr;
  size_t n = 0;
  size_t quotes = 0;
};

size_t count_quotes(Str v) noexcept {
  size_t q = 0;
  for (size_t i = 0; i < v.n; ++i) q += v.p[i] == '"';
  return q;
}

// " KEY=VALUE" for each attribute but `skip`: the value in quotes, or
// bare when it holds one. Adds the quotes written outside quoted values to
// `quotes`; false when the block cannot grow.
bool put_attrs(Out &o, const ItemAttr *a, int count, const ItemAttr *skip, KeyInfo *keys,
               size_t &quotes) noexcept {
  for (int k = 0; k < count; ++k) {
    if (a[k].key == nullptr || a[k].value == nullptr || &a[k] == skip) continue;
    KeyInfo &ki = keys[k];
    if (ki.key != a[k].key) {
      ki.key = a[k].key;
      ki.n = std::strlen(a[k].key);
      ki.quotes = count_quotes({ki.key, ki.n});
    }
    if (!o.need(ki.n + 3)) return false;
    o.ch(' ');
    o.put(ki.key, ki.n);
    o.lit("=\"");
    size_t n;
    bool quote = false;
    if (!o.copy<'"', '"'>(a[k].value, n, quote)) return false;
    if (quote) {
      // Bare after all: the value moves over its opening quote.
      char *v = o.cursor() - n;
      std::memmove(v - 1, v, n);
      o.back(1);
      quotes += count_quotes({v - 1, n});
    } else {
      o.ch('"');
    }
    quotes += ki.quotes;
  }
  return true;
}

// A location the reader takes as one: something left after trimming, not
// starting with "#". Every location of an M3U parse is one; a CUE track's
// empty file name is not.
bool m3u_location(const char *loc) noexcept {
  if (loc == nullptr || loc[0] == '\0') return false;
  if (!is_space(static_cast<unsigned char>(loc[0]))) return loc[0] != '#';
  const sv t = trim(loc);
  return !t.empty() && t[0] != '#';
}

// "#TAG", "#TAG:KEY" or "#TAG:KEY=VALUE": the reader splits at the first
// ":" and the first "=" after it. The ":" and "=" are written where the
// parts need them, or where the line would otherwise end in white space,
// which the reader trims.
bool put_option(Out &o, const ItemOption &op) noexcept {
  const Str tag = str(op.tag), key = str(op.key), value = str(op.value);
  const bool eq = value.n != 0 || ends_in_space(key.view());
  const bool colon = eq || key.n != 0 || ends_in_space(tag.view());
  if (!o.line(tag.n + key.n + value.n + 3)) return false;
  o.ch('#');
  o.put(tag);
  if (colon) {
    o.ch(':');
    o.put(key);
  }
  if (eq) {
    o.ch('=');
    o.put(value);
  }
  o.eol();
  return true;
}

}  // namespace

bool write_m3u(Out &o, const Store &s) noexcept {
  KeyInfo keys[max_attrs];
  size_t quotes = 0;
  if (!o.need(7)) return false;
  o.lit("#EXTM3U");
  if (!put_attrs(o, s.attrs + s.header_attr_begin, s.header_attr_count, nullptr, keys, quotes) || !o.need(2))
    return false;
  o.eol();
  if (s.title != nullptr) {
    if (!o.need(10)) return false;
    o.lit("#PLAYLIST:");
    if (!o.copy(s.title) || !o.need(2)) return false;
    o.eol();
  }
  for (KeyInfo &k : keys) k = KeyInfo{};

  size_t option = 0, group = 0;
  const char *group_name = nullptr;
  for (int i = 0; i < s.item_count; ++i) {
    const auto index = static_cast<size_t>(i);
    const PlaylistItem &it = s.items[i];
    while (option < s.option_used && s.options[option].item < index) ++option;
    const char *stream = s.group_used != 0 ? stream_group(s, group, index, group_name) : "";
    if (!m3u_location(it.location)) continue;
    for (; option < s.option_used && s.options[option].item == index; ++option)
      if (!put_option(o, s.options[option])) return false;

    // The group: an attribute of an #EXTGRP: line (its key is extgrp_key,
    // the last one, the only "group-title") goes back to such a line, as
    // does the genre of a streaming-list entry without a "group-title".
    // (The first "group-title" is looked for only where it decides.)
    const ItemAttr *a = item_attrs(s, index);
    const int count = item_attr_count(s, index);
    const ItemAttr *extgrp = nullptr;
    const char *group_line = nullptr;
    if (count != 0 && a[count - 1].key == extgrp_key && a[count - 1].value != nullptr &&
        group_title(s, index) == &a[count - 1]) {
      extgrp = &a[count - 1];
      group_line = extgrp->value;
    } else if (stream[0] != '\0' && (count == 0 || group_title(s, index) == nullptr)) {
      group_line = stream;
    }
    if (group_line != nullptr) {
      if (!o.need(8)) return false;
      o.lit("#EXTGRP:");
      if (!o.copy(group_line) || !o.need(2)) return false;
      o.eol();
    }

    const char *title = it.title != nullptr ? it.title : "";
    if (title[0] != '\0' || it.extinf_value != -1 || count != 0 || group_line != nullptr) {
      if (!o.need(8 + 11)) return false;
      o.lit("#EXTINF:");
      o.number(it.extinf_value);
      quotes = 0;
      if (!put_attrs(o, a, count, extgrp, keys, quotes) || !o.need(3)) return false;
      if (quotes % 2 != 0) o.lit(" \"");
      o.ch(',');
      if (!o.copy(title) || !o.need(2)) return false;
      o.eol();
    }
    if (!o.copy(it.location) || !o.need(2)) return false;
    o.eol();
  }
  return true;
}

}  // namespace kavlo::write_detail
