// The encoding guess of "auto": byte-order marks, UTF-16 without a mark,
// the UTF-8 check, then uchardet's answer mended by facts about the bytes.
#include "guess.h"

#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <string_view>

#if KAVLO_WITH_UCHARDET
#include <uchardet/uchardet.h>
#endif

#include "decode.h"
#include "../text/utf8.h"

namespace kavlo {

namespace {

using Bytes = const unsigned char *;

template <size_t N>
bool one_of(std::string_view name, const std::string_view (&names)[N]) noexcept {
  for (std::string_view n : names)
    if (n == name) return true;
  return false;
}

bool has_mark(Bytes p, size_t len) noexcept {
  if (len >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return true;
  if (len >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) return true;
  return len >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF;
}

// Bytes of the text that the UTF-16 test looks at.
constexpr size_t wide_window = 4096;

// "UTF-16LE" or "UTF-16BE" for text of an even length whose units (in the
// first wide_window bytes) have a NUL in the same half for at least 90%
// of them and in the other half for at most 10%: text of the Latin-1 range
// in UTF-16. UTF-32 (NUL in both halves of most units) and NUL-filled
// binary are not taken for it.
const char *wide_without_mark(Bytes p, size_t len) noexcept {
  if (len < 2 || len % 2 != 0) return nullptr;
  const size_t n = (len < wide_window ? len : wide_window) / 2;
  size_t even = 0, odd = 0;  // NUL bytes at even and at odd offsets
  for (size_t i = 0; i < n; ++i) {
    even += p[2 * i] == 0;
    odd += p[2 * i + 1] == 0;
  }
  auto most = [n](size_t nul) { return nul * 10 >= n * 9; };
  auto few = [n](size_t nul) { return nul * 10 <= n; };
  if (most(odd) && few(even)) return "UTF-16LE";
  if (most(even) && few(odd)) return "UTF-16BE";
  return nullptr;
}

#if KAVLO_WITH_UCHARDET
// The name to decode with for a detector's answer, or NULL when the answer
// is of no use: none, "ASCII" or "UTF-8" (the bytes were found not to be
// UTF-8), or a UTF-16/UTF-32 family name (unmarked wide text was settled
// before, and a wide decoding of single-byte text succeeds too often to be
// trusted). "GB18030" becomes "GBK".
const char *usable(const char *detected) noexcept {
  const std::string_view d = detected;
  if (d.empty() || d == "ASCII" || d == "UTF-8") return nullptr;
  if (d.starts_with("UTF-16") || d.starts_with("UTF-32") || d.starts_with("X-ISO-10646")) return nullptr;
  if (d == "GB18030") return "GBK";
  return detected;
}

// ---- facts about the characters of single-byte pages ----

// Letters of the scripts of the single-byte pages: ASCII, Latin-1 and Latin
// Extended (but for the multiplication and division signs), Greek, Cyrillic.
bool letter(uint32_t c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) || (c >= 0x370 && c <= 0x52F);
}

// Small letters of ASCII, Latin-1 and Latin Extended-A, where the capitals
// of the Central European pages live (pairs alternate capital, small).
bool small(uint32_t c) noexcept {
  if ((c >= 'a' && c <= 'z') || (c >= 0xDF && c <= 0xFF && c != 0xF7)) return true;
  if (c == 0x138 || c == 0x149) return true;
  if (c < 0x100 || c > 0x17F || c == 0x178) return false;
  return (c <= 0x137 || (c >= 0x14A && c <= 0x177)) ? c % 2 == 1 : c % 2 == 0;
}

bool capital(uint32_t c) noexcept {
  return (c >= 0xC0 && c <= 0xDE && c != 0xD7) || c == 0x178 || (c >= 0x100 && c <= 0x17F && !small(c));
}

// Signs that a single-byte page keeps where others keep letters: the
// Latin-1 signs (not the ordinals, the micro sign, the acute accent and the
// middle dot, which stand in words) and the spacing diacritics.
enum Sign {
  none,
  between,  // suspect with letters on both sides: inverted marks, guillemets, degree
  beside,   // suspect next to a letter on either side
  before,   // suspect before a letter: copyright and registered signs
};

Sign sign(uint32_t c) noexcept {
  if (c == 0xA9 || c == 0xAE) return before;
  if (c == 0xA1 || c == 0xAB || c == 0xBB || c == 0xBF || c == 0xB0) return between;
  if ((c >= 0xA1 && c <= 0xBF && c != 0xAA && c != 0xBA && c != 0xB5 && c != 0xB4 && c != 0xB7) ||
      c == 0x2C7 || c == 0x2D8 || c == 0x2DB || c == 0x2DD)
    return beside;
  return none;
}

// A single-byte page: the character of each byte of 80-FF, 0 where the
// page has none (or the converter does not know the page). Made with one
// conversion per byte, so that a text is then read without the converter,
// at the speed of a table lookup; every Latin page here is single-byte and
// ASCII below 80.
struct Page {
  uint32_t high[128] = {};

  explicit Page(const char *name) noexcept {
    iconv_t cd = iconv_open("UTF-8", name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    for (int x = 0; x < 128; ++x) {
      char byte = static_cast<char>(x + 0x80), out[8];
      char *in = &byte, *o = out;
      size_t in_left = 1, room = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &in, &in_left, &o, &room) == static_cast<size_t>(-1) || in_left != 0) continue;
      high[x] = one_character(reinterpret_cast<Bytes>(out), static_cast<size_t>(o - out));
    }
    iconv_close(cd);
  }

  // The character of byte b, 0 for none.
  uint32_t operator[](unsigned char b) const noexcept { return b < 0x80 ? b : high[b - 0x80]; }

 private:
  // The code point of UTF-8 text that is exactly one character, else 0.
  static uint32_t one_character(Bytes u, size_t n) noexcept {
    const size_t want = n == 0 ? 0 : u[0] < 0x80 ? 1 : u[0] >= 0xF0 ? 4 : u[0] >= 0xE0 ? 3 : u[0] >= 0xC0 ? 2 : 0;
    if (want == 0 || want != n) return 0;
    uint32_t c = want == 1 ? u[0] : u[0] & (0x7F >> want);
    for (size_t k = 1; k < n; ++k) c = c << 6 | (u[k] & 0x3F);
    return c;
  }
};

// True when the page reads the bytes with a control code of 80-9F, a
// non-ASCII capital right after a small letter ("\xA3\xF3d\xBC" as
// WINDOWS-1250), or a sign where a letter belongs: between two letters
// ("Kubi\xB9ov\xE1" as ISO-8859-1), or, for the signs that never touch a
// word, next to one ("\xB6wiat" as WINDOWS-1250). Also true when a byte
// has no character in the page (or the converter does not know it).
bool misreads(const Page &page, Bytes p, size_t len) noexcept {
  uint32_t prev = ' ', cur = ' ';
  Sign cur_sign = none;
  for (size_t i = 0; i < len; ++i) {
    const uint32_t c = page[p[i]];
    if (c == 0 && p[i] != 0) return true;
    if (c >= 0x80 && c <= 0x9F) return true;
    if (capital(c) && small(cur)) return true;
    if (cur_sign == beside && (letter(prev) || letter(c))) return true;
    if (cur_sign == between && letter(prev) && letter(c)) return true;
    if (cur_sign == before && letter(c)) return true;
    prev = cur;
    cur = c;
    cur_sign = sign(c);
  }
  return cur_sign == beside && letter(prev);
}

// True when every byte of 80-FF in the text is the same character in both
// pages.
bool reads_alike(const Page &a, const Page &b, Bytes p, size_t len) noexcept {
  bool seen[128] = {};
  for (size_t i = 0; i < len; ++i)
    if (p[i] >= 0x80) seen[p[i] - 0x80] = true;
  for (int x = 0; x < 128; ++x)
    if (seen[x] && (a.high[x] == 0 || a.high[x] != b.high[x])) return false;
  return true;
}

// Kana among the double-byte characters: at least two, and at least an
// eighth of them. `pair` tells a double-byte character of the page (its
// two bytes), `kana` one of its kana.
template <class Pair, class Kana>
bool kana_text(Bytes p, size_t len, Pair pair, Kana kana) noexcept {
  size_t pairs = 0, found = 0;
  for (size_t i = 0; i + 1 < len; ++i) {
    if (!pair(p[i], p[i + 1])) continue;
    ++pairs;
    found += kana(p[i], p[i + 1]);
    ++i;
  }
  return found >= 2 && found * 8 >= pairs;
}

// A detector's name (NULL for none) for the bytes, mended where a fact
// about them settles what a statistical model gets wrong, mostly on short
// texts:
// - Kana. Japanese text is full of kana and Chinese text has none. Text
//   named GBK, a single-byte page, or nothing, whose double-byte characters
//   are for an eighth or more (and at least two) kana of EUC-JP (A4 or A5,
//   then A1-F6) or of Shift_JIS (82 9F-F1, 83 40-96), becomes EUC-JP or
//   SHIFT_JIS. GB2312 keeps the kana under the same codes as EUC-JP, so GBK
//   reads only a Japanese text's kanji wrong.
// - Lone high bytes. Nearly every character of a CJK page is two bytes of
//   80-FF, so a text named BIG5, GBK, EUC-KR, UHC, EUC-TW, EUC-JP or
//   SHIFT_JIS with two or more bytes of 80-FF and no two of them side by
//   side is single-byte text whose letters happen to pair with the ASCII
//   after them ("by\xB3em" as BIG5): it is taken as WINDOWS-1252 and
//   checked as below.
// - Latin pages. A Latin single-byte page that misreads the bytes gives
//   way to the first of WINDOWS-1252, ISO-8859-2 (only without bytes of
//   80-9F, control codes there) and WINDOWS-1250 that does not; a Central
//   European guess tries its own family first. When all of them misread,
//   the text is no Latin text and NULL leaves it to the library's chain. A
//   Latin page that reads every byte of the text as WINDOWS-1252 does (a
//   French text named ISO-8859-2, whose é and É are the same there) is
//   named WINDOWS-1252, the commonest of them.
// Other names are returned as given.
const char *refine(const char *name, Bytes p, size_t len) noexcept {
  static constexpr std::string_view no_kana[] = {"BIG5", "EUC-KR", "UHC", "EUC-TW", "EUC-JP", "SHIFT_JIS",
                                    "WINDOWS-1251", "KOI8-R", "ISO-8859-5", "IBM866", "IBM855",
                                    "MAC-CYRILLIC"};
  static constexpr std::string_view latin[] = {"ISO-8859-1", "ISO-8859-15", "WINDOWS-1252", "ISO-8859-2",
                                  "WINDOWS-1250", "ISO-8859-3", "ISO-8859-4", "ISO-8859-9",
                                  "ISO-8859-10", "ISO-8859-13", "ISO-8859-16", "WINDOWS-1257",
                                  "MAC-CENTRALEUROPE"};
  static constexpr std::string_view cjk[] = {"BIG5", "GBK", "EUC-KR", "UHC", "EUC-TW", "EUC-JP", "SHIFT_JIS"};
  static constexpr std::string_view central[] = {"ISO-8859-2", "WINDOWS-1250", "MAC-CENTRALEUROPE"};

  if (name == nullptr || !one_of(name, no_kana)) {
    auto euc_pair = [](unsigned b, unsigned t) { return b >= 0xA1 && b != 0xFF && t >= 0xA1 && t != 0xFF; };
    auto euc_kana = [](unsigned b, unsigned t) { return (b == 0xA4 || b == 0xA5) && t <= 0xF6; };
    if (kana_text(p, len, euc_pair, euc_kana)) return "EUC-JP";
    auto sjis_pair = [](unsigned b, unsigned t) {
      return ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) && t >= 0x40 && t != 0x7F && t <= 0xFC;
    };
    auto sjis_kana = [](unsigned b, unsigned t) {
      return (b == 0x82 && t >= 0x9F && t <= 0xF1) || (b == 0x83 && t <= 0x96);
    };
    if (kana_text(p, len, sjis_pair, sjis_kana)) return "SHIFT_JIS";
  }
  if (name != nullptr && one_of(name, cjk)) {
    size_t high = 0;
    for (size_t i = 0; i < len; ++i) {
      if (p[i] < 0x80) continue;
      if (i + 1 < len && p[i + 1] >= 0x80) return name;  // two side by side
      ++high;
    }
    if (high < 2) return name;
    name = "WINDOWS-1252";
  }
  if (name == nullptr || !one_of(name, latin)) return name;
  if (misreads(Page(name), p, len)) {
    bool c1 = false;
    for (size_t i = 0; i < len && !c1; ++i) c1 = p[i] >= 0x80 && p[i] <= 0x9F;
    const char *order[3];
    int n = 0;
    if (one_of(name, central)) {
      if (!c1) order[n++] = "ISO-8859-2";
      order[n++] = "WINDOWS-1250";
      order[n++] = "WINDOWS-1252";
    } else {
      order[n++] = "WINDOWS-1252";
      if (!c1) order[n++] = "ISO-8859-2";
      order[n++] = "WINDOWS-1250";
    }
    const char *mended = nullptr;
    for (int k = 0; k < n && mended == nullptr; ++k)
      if (std::strcmp(order[k], name) != 0 && !misreads(Page(order[k]), p, len)) mended = order[k];
    if (mended == nullptr) return nullptr;
    name = mended;
  }
  return std::strcmp(name, "WINDOWS-1252") != 0 && reads_alike(Page(name), Page("WINDOWS-1252"), p, len)
             ? "WINDOWS-1252"
             : name;
}

// Bytes of a short text that uchardet sees, by repetition.
constexpr size_t detector_feed = 4096;

// uchardet's name for the bytes into `name`, "" for none. Its multi-byte
// probers give no answer on fewer than a handful of characters, while its
// single-byte ones answer from a few bytes: a short sheet whose one title
// is Japanese would be named WINDOWS-1252. A short text is therefore fed
// repeatedly up to detector_feed bytes, which lifts the counts over those
// minimums without changing the proportions every prober measures.
// uchardet is C++ inside and allocates with a throwing new: an exception
// is no answer.
void detect(const char *bytes, size_t len, char (&name)[guess_name_size]) noexcept {
  name[0] = '\0';
  uchardet_t ud = nullptr;
  try {
    ud = uchardet_new();
    if (ud == nullptr) return;
    size_t fed = 0;
    do {
      if (uchardet_handle_data(ud, bytes, len) != 0) break;
      fed += len;
    } while (fed < detector_feed);
    if (fed >= len) {
      uchardet_data_end(ud);
      const char *found = uchardet_get_charset(ud);
      if (found != nullptr && std::strlen(found) < guess_name_size) std::strcpy(name, found);
    }
  } catch (...) {
    name[0] = '\0';
  }
  if (ud != nullptr) uchardet_delete(ud);
}
#endif  // KAVLO_WITH_UCHARDET

}  // namespace

bool guess_encoding(const char *bytes, size_t len, char (&name)[guess_name_size]) noexcept {
  name[0] = '\0';
  if (bytes == nullptr || len == 0) return false;
  const auto *p = reinterpret_cast<Bytes>(bytes);
  if (has_mark(p, len)) return false;
  // The detector's answer; `found` may point into it.
  char detected[guess_name_size];
  const char *found = wide_without_mark(p, len);
  if (found == nullptr) {
    if (is_utf8(bytes, len)) return false;
#if KAVLO_WITH_UCHARDET
    detect(bytes, len, detected);
    found = refine(usable(detected), p, len);
#else
    (void)detected;
#endif
  }
  if (found == nullptr || std::strlen(found) >= guess_name_size) return false;
  std::strcpy(name, found);
  return true;
}

}  // namespace kavlo
