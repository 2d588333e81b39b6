// Decoding: byte-order marks, named encodings through iconv, and the
// fallback chain for unnamed legacy text.
#include "decode.h"

#include <errno.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>

#include "../mem.h"
#include "../text.h"
#include "kavlo.h"

namespace kavlo {

namespace {

struct Alias {
  const char *name;
  const char *converter;
};

constexpr Alias aliases[] = {
    {"utf-8", "UTF-8"},       {"utf8", "UTF-8"},          {"utf-16le", "UTF-16LE"},
    {"utf16le", "UTF-16LE"},  {"utf-16be", "UTF-16BE"},   {"utf16be", "UTF-16BE"},
    {"gbk", "GBK"},           {"cp936", "GBK"},           {"gb2312", "GBK"},
    {"gb18030", "GBK"},       {"big5", "BIG5"},           {"cp1252", "CP1252"},
    {"windows-1252", "CP1252"}, {"latin1", "ISO-8859-1"}, {"iso-8859-1", "ISO-8859-1"},
};

class IconvHandle {
 public:
  explicit IconvHandle(const char *from) noexcept : cd_(iconv_open("UTF-8", from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle &) = delete;
  IconvHandle &operator=(const IconvHandle &) = delete;
  bool ok() const noexcept { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const noexcept { return cd_; }

 private:
  iconv_t cd_;
};

// Converted text belongs to the store until the next clear.
void store_output(Store &s, char *text, size_t len, std::string_view &out) noexcept {
  s.decoded_text = text;
  s.decoded_len = len;
  out = std::string_view(text, len);
}

}  // namespace

const char *resolve_encoding(const char *name) noexcept {
  if (name == nullptr || name[0] == '\0') return nullptr;
  for (const Alias &a : aliases)
    if (str_ieq(name, a.name)) return a.converter;
  return name;
}

int iconv_to_utf8(const char *from, const char *bytes, size_t len, char **out,
                  size_t *out_len) noexcept {
  IconvHandle cd(from);
  if (!cd.ok()) return -1;
  // Four output bytes per input byte cover every encoding of the alias
  // table; one more byte stays free for the NUL.
  if (len > (SIZE_MAX - 16) / 4) return -1;
  const size_t cap = 4 * len + 16;
  auto *buf = static_cast<char *>(mem_alloc(cap));
  if (buf == nullptr) return -1;
  char *in = const_cast<char *>(bytes);
  size_t in_left = len;
  char *o = buf;
  size_t o_left = cap - 1;
  if (iconv(cd.get(), &in, &in_left, &o, &o_left) == static_cast<size_t>(-1) || in_left != 0) {
    mem_free(buf);
    return -1;
  }
  *o = '\0';
  *out = buf;
  *out_len = static_cast<size_t>(o - buf);
  return 0;
}

size_t utf8_valid_prefix(const char *p, size_t len) noexcept {
  const auto *u = reinterpret_cast<const unsigned char *>(p);
  size_t i = 0;
  while (i < len) {
    // ASCII runs are the common case: skip them eight bytes at a time.
    while (i + 8 <= len) {
      uint64_t w;
      std::memcpy(&w, u + i, 8);
      if (w & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i >= len) break;
    unsigned char c = u[i];
    size_t n;
    if (c < 0x80) n = 1;
    else if ((c & 0xE0) == 0xC0) n = 2;
    else if ((c & 0xF0) == 0xE0) n = 3;
    else if ((c & 0xF8) == 0xF0) n = 4;
    else return i;
    if (n > len - i) return i;
    for (size_t k = 1; k < n; ++k)
      if ((u[i + k] & 0xC0) != 0x80) return i;
    i += n;
  }
  return len;
}

int decode_to_utf8(Store &s, const char *bytes, size_t len, const char *encoding,
                   std::string_view &text) noexcept {
  const char *name = resolve_encoding(encoding);
  char *out = nullptr;
  size_t out_len = 0;

  if (len >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) {
    bytes += 3;
    len -= 3;
  } else if (len >= 2 && (std::memcmp(bytes, "\xFF\xFE", 2) == 0 ||
                          std::memcmp(bytes, "\xFE\xFF", 2) == 0)) {
    // The mark is converted with the text and arrives as U+FEFF.
    const bool le = bytes[0] == '\xFF';
    if (iconv_to_utf8(le ? "UTF-16LE" : "UTF-16BE", bytes, len, &out, &out_len) != 0) {
      set_error(s, le ? "utf16le fail" : "utf16be fail");
      return KAVLO_ERR_DECODE;
    }
    store_output(s, out, out_len, text);
    return KAVLO_OK;
  }

  if (name != nullptr && std::strcmp(name, "UTF-8") != 0) {
    if (iconv_to_utf8(name, bytes, len, &out, &out_len) != 0) {
      set_error(s, "iconv %s fail", name);
      return KAVLO_ERR_DECODE;
    }
    store_output(s, out, out_len, text);
    return KAVLO_OK;
  }

  // Valid UTF-8 is parsed where it stands: the parsers only read it and
  // copy what they keep, so the caller's bytes need no copy of their own.
  if (utf8_valid_prefix(bytes, len) == len) {
    text = std::string_view(bytes, len);
    return KAVLO_OK;
  }

  static constexpr struct {
    const char *converter;
    const char *warning;
  } chain[] = {
      {"GBK", "encoding: GBK fallback"},
      {"CP1252", "encoding: CP1252 fallback"},
      {"ISO-8859-1", "encoding: latin1 fallback"},
  };
  for (const auto &step : chain) {
    if (iconv_to_utf8(step.converter, bytes, len, &out, &out_len) == 0) {
      store_output(s, out, out_len, text);
      warnf(s, "%s", step.warning);
      return KAVLO_OK;
    }
  }
  text = std::string_view(bytes, len);
  warnf(s, "encoding: copied bytes as-is");
  return KAVLO_OK;
}

}  // namespace kavlo
