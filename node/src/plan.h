// A list the JavaScript side built or edited, laid out flat (lib/write.js
// makes the layout), added to a playlist handle entry by entry through the
// library's builder. Shared by the Node-API addon and the WebAssembly
// module; no JavaScript here.
//
// The layout:
//   text       every string followed by a NUL byte, in this order: key and
//              value of each #EXTM3U attribute; per item its location,
//              title, key and value of each attribute, tag, key and value
//              of each option
//   shape      the #EXTM3U attribute count, the item count, then per item
//              its attribute count and option count
//   durations  per item, in milliseconds (-1: none)
#ifndef KAVLO_NODE_PLAN_H
#define KAVLO_NODE_PLAN_H

#include <kavlo.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kavlo_plan {

// Where a plan was refused: the item (-1 for the #EXTM3U line), what of it
// (a short text), and the string that names it (a key or tag; may be "").
struct Refusal {
  int64_t item = -1;
  const char *what = "";
  const char *name = "";
};

class Reader {
 public:
  Reader(const char *text, size_t len) : at_(text), end_(text + len) {}
  // The next string, or nullptr when the text has no more.
  const char *next() {
    if (at_ >= end_) return nullptr;
    const void *nul = std::memchr(at_, '\0', static_cast<size_t>(end_ - at_));
    if (nul == nullptr) return nullptr;
    const char *s = at_;
    at_ = static_cast<const char *>(nul) + 1;
    return s;
  }

 private:
  const char *at_, *end_;
};

// Adds the plan's entries to `p` (a new or cleared handle). Returns the
// builder's status (KAVLO_ERR_INVALID too for a layout that does not add
// up) and, when it is not KAVLO_OK, where in `why`.
inline int build(kavlo_playlist *p, const char *text, size_t len, const uint32_t *shape, size_t shape_len,
                 const double *durations, size_t duration_count, Refusal &why) {
  Reader r(text, len);
  size_t s = 0;
  auto count = [&](uint32_t &out) {
    if (s >= shape_len) return false;
    out = shape[s++];
    return true;
  };
  auto fail = [&](int rc, int64_t item, const char *what, const char *name) {
    why = Refusal{item, what, name ? name : ""};
    return rc;
  };
  uint32_t header = 0, items = 0;
  if (!count(header) || !count(items) || items != duration_count) return fail(KAVLO_ERR_INVALID, -1, "layout", "");
  for (uint32_t a = 0; a < header; ++a) {
    const char *key = r.next(), *value = r.next();
    if (value == nullptr) return fail(KAVLO_ERR_INVALID, -1, "layout", "");
    if (int rc = kavlo_playlist_add_header_attr(p, key, value); rc != KAVLO_OK)
      return fail(rc, -1, "attribute", key);
  }
  for (uint32_t i = 0; i < items; ++i) {
    uint32_t attrs = 0, options = 0;
    const char *location = r.next(), *title = r.next();
    if (!count(attrs) || !count(options) || title == nullptr) return fail(KAVLO_ERR_INVALID, i, "layout", "");
    const double d = durations[i];
    // Out of the builder's range either way; it says so.
    const int64_t ms = std::isfinite(d) && std::fabs(d) < 9.0e15 ? static_cast<int64_t>(d) : INT64_MAX;
    if (int rc = kavlo_playlist_add_item(p, location, title, ms); rc != KAVLO_OK)
      return fail(rc, i, "entry", location);
    for (uint32_t a = 0; a < attrs; ++a) {
      const char *key = r.next(), *value = r.next();
      if (value == nullptr) return fail(KAVLO_ERR_INVALID, i, "layout", "");
      if (int rc = kavlo_playlist_add_attr(p, key, value); rc != KAVLO_OK) return fail(rc, i, "attribute", key);
    }
    for (uint32_t o = 0; o < options; ++o) {
      const char *tag = r.next(), *key = r.next(), *value = r.next();
      if (value == nullptr) return fail(KAVLO_ERR_INVALID, i, "layout", "");
      if (int rc = kavlo_playlist_add_option(p, tag, key, value); rc != KAVLO_OK) return fail(rc, i, "option", tag);
    }
  }
  return KAVLO_OK;
}

}  // namespace kavlo_plan

#endif  // KAVLO_NODE_PLAN_H
