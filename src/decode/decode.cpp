// Decoding: byte-order marks, named encodings through iconv, and the
// fallback chain for unnamed legacy text.
#include "decode.h"

#include <errno.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "../mem.h"
#include "../text/text.h"
#include "kavlo.h"
#include "../store/messages.h"
#include "../text/utf8.h"

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

// The byte-order marks of the wide encodings. UTF-32LE comes before
// UTF-16LE, whose mark is its prefix: FF FE 00 00 is read as UTF-32 (a
// UTF-16 text that starts with U+0000 after its mark is not worth the
// ambiguity).
struct WideMark {
  const char *bytes;
  size_t size;
  const char *converter;
  const char *error;
};

constexpr WideMark wide_marks[] = {
    {"\xFF\xFE\x00\x00", 4, "UTF-32LE", "utf32le fail"},
    {"\x00\x00\xFE\xFF", 4, "UTF-32BE", "utf32be fail"},
    {"\xFF\xFE", 2, "UTF-16LE", "utf16le fail"},
    {"\xFE\xFF", 2, "UTF-16BE", "utf16be fail"},
};

const WideMark *wide_mark(const char *bytes, size_t len) noexcept {
  for (const WideMark &m : wide_marks)
    if (len >= m.size && std::memcmp(bytes, m.bytes, m.size) == 0) return &m;
  return nullptr;
}

// Converted text belongs to the store until the next clear.
void store_output(Store &s, char *text, size_t len, size_t capacity,
                  std::string_view &out) noexcept {
  s.decoded_text = text;
  s.decoded_capacity = capacity;
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
  if (len > (SIZE_MAX - 16) / 4) return -1;  // too large for the output buffer
  const size_t cap = iconv_capacity(len);
  auto *buf = static_cast<char *>(block_resize(nullptr, 0, cap));
  if (buf == nullptr) return -1;
  char *in = const_cast<char *>(bytes);
  size_t in_left = len;
  char *o = buf;
  size_t o_left = cap - 1;
  if (iconv(cd.get(), &in, &in_left, &o, &o_left) == static_cast<size_t>(-1) || in_left != 0) {
    block_free(buf, cap);
    return -1;
  }
  *o = '\0';
  *out = buf;
  *out_len = static_cast<size_t>(o - buf);
  return 0;
}


int decode_to_utf8(Store &s, const char *bytes, size_t len, const char *encoding,
                   std::string_view &text) noexcept {
  const char *name = resolve_encoding(encoding);
  char *out = nullptr;
  size_t out_len = 0;

  if (len >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) {
    bytes += 3;
    len -= 3;
  } else if (const WideMark *mark = wide_mark(bytes, len)) {
    // The mark is dropped like the UTF-8 one, so that the text starts with
    // its first real character; a U+FEFF after it stays in the text.
    if (iconv_to_utf8(mark->converter, bytes + mark->size, len - mark->size, &out, &out_len) != 0) {
      set_error(s, "%s", mark->error);
      return KAVLO_ERR_DECODE;
    }
    store_output(s, out, out_len, iconv_capacity(len - mark->size), text);
    s.encoding = mark->converter;
    return KAVLO_OK;
  }

  if (name != nullptr && std::strcmp(name, "UTF-8") != 0) {
    if (iconv_to_utf8(name, bytes, len, &out, &out_len) != 0) {
      set_error(s, "iconv %s fail", name);
      return KAVLO_ERR_DECODE;
    }
    store_output(s, out, out_len, iconv_capacity(len), text);
    s.encoding = name;  // the caller's own string when not an alias: the driver copies it
    return KAVLO_OK;
  }

  // Valid UTF-8 is parsed where it stands: the parsers only read it and
  // copy what they keep, so the caller's bytes need no copy of their own.
  if (is_utf8(bytes, len)) {
    text = std::string_view(bytes, len);
    s.encoding = "UTF-8";
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
      store_output(s, out, out_len, iconv_capacity(len), text);
      warn_at(s, 0, step.converter, "%s", step.warning);
      s.encoding = step.converter;
      return KAVLO_OK;
    }
  }
  text = std::string_view(bytes, len);
  warn_at(s, 0, "raw", "encoding: copied bytes as-is");
  s.encoding = "raw";
  return KAVLO_OK;
}

}  // namespace kavlo
