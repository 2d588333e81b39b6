/* SPDX-License-Identifier: MIT */
/*
 * kavlo_auto.h - the "auto" encoding of the kavlo tool and bindings: a
 * header-only helper over kavlo.h that picks the encoding name to hand to
 * kavlo_parse_enc() for bytes whose encoding nobody named. The library
 * itself is unchanged and knows nothing of it.
 *
 *   1. Bytes that start with a byte-order mark, or that are UTF-8, go to the
 *      library unnamed, as with kavlo_parse().
 *   2. Otherwise a detector names the encoding (a statistical one such as
 *      uchardet, see below), kavlo_auto_refine() mends its answer where a
 *      fact about the bytes settles it, and the bytes are parsed with that
 *      name.
 *   3. When the detector has no answer, or the named conversion fails
 *      (KAVLO_ERR_DECODE: the bytes are not valid in the guessed encoding,
 *      or the converter does not know the name), the bytes go to the
 *      library unnamed, which falls back through GBK, CP1252 and Latin-1.
 *      A wrong guess therefore never fails a parse that kavlo_parse() would
 *      have done.
 *
 * A guess can be wrong without failing: single-byte code pages accept
 * (almost) every byte, so a short text with few non-ASCII letters, or one
 * that mixes languages, may come back in a neighbouring code page.
 *
 * C99 and C++; every function is static inline. Define KAVLO_AUTO_UCHARDET
 * before including this header to get kavlo_auto_uchardet() and
 * kavlo_auto_parse(), which call Debian's libuchardet (link -luchardet,
 * `pkg-config uchardet`). Without it the header needs nothing but kavlo.h,
 * and kavlo_auto_parse_with() takes any detector.
 */
#ifndef KAVLO_AUTO_H
#define KAVLO_AUTO_H

#include <errno.h>
#include <iconv.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "kavlo.h"

#ifdef KAVLO_AUTO_UCHARDET
#  include <uchardet/uchardet.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Room for an encoding name, NUL included. Longer names are not used. */
#define KAVLO_AUTO_NAME_SIZE 48

/* 1 when the library takes `bytes` without a name on its own terms: they
 * start with a byte-order mark (EF BB BF, FF FE, FE FF, 00 00 FE FF; FF FE
 * covers the UTF-32LE mark FF FE 00 00), or they pass the
 * library's structural UTF-8 check (lead bytes C0-F7 followed by their
 * continuation bytes; overlong forms and surrogates pass, as there). */
static inline int kavlo_auto_is_unnamed(const char *bytes, size_t len) {
  const unsigned char *p = (const unsigned char *)bytes;
  size_t i = 0;
  if (len >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return 1;
  if (len >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) return 1;
  if (len >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF) return 1;
  while (i < len) {
    size_t need;
    if (len - i >= 8) {
      uint64_t word;
      memcpy(&word, p + i, 8);
      if ((word & UINT64_C(0x8080808080808080)) == 0) {
        i += 8;
        continue;
      }
    }
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    if ((p[i] & 0xE0) == 0xC0) need = 1;
    else if ((p[i] & 0xF0) == 0xE0) need = 2;
    else if ((p[i] & 0xF8) == 0xF0) need = 3;
    else return 0;
    if (len - i - 1 < need) return 0;
    for (++i; need > 0; --need, ++i)
      if ((p[i] & 0xC0) != 0x80) return 0;
  }
  return 1;
}

/* The name to hand to kavlo_parse_enc() for a detector's answer, or NULL
 * when the answer is of no use: none, "ASCII" or "UTF-8" (the bytes were
 * found not to be UTF-8), or a UTF-16/UTF-32 family name (the bytes carry
 * no byte-order mark, and a wide decoding of single-byte text succeeds
 * too often to be trusted). "GB18030" becomes "GBK", the name under which
 * the library converts it. Other names are returned as given. */
static inline const char *kavlo_auto_name(const char *detected) {
  if (detected == NULL || detected[0] == '\0') return NULL;
  if (strcmp(detected, "ASCII") == 0 || strcmp(detected, "UTF-8") == 0) return NULL;
  if (strncmp(detected, "UTF-16", 6) == 0 || strncmp(detected, "UTF-32", 6) == 0 ||
      strncmp(detected, "X-ISO-10646", 11) == 0)
    return NULL;
  if (strcmp(detected, "GB18030") == 0) return "GBK";
  return detected;
}

static inline int kavlo_auto_is_(const char *name, const char *const *list) {
  for (; *list != NULL; ++list)
    if (strcmp(name, *list) == 0) return 1;
  return 0;
}

/* Letters of the scripts of the single-byte pages: ASCII, Latin-1 and
 * Latin Extended (but for the multiplication and division signs), Greek,
 * Cyrillic. */
static inline int kavlo_auto_letter_(uint32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) || (c >= 0x370 && c <= 0x52F);
}

/* Small and capital letters of Latin-1 and Latin Extended-A, where the
 * capitals of the Central European pages live. */
static inline int kavlo_auto_small_(uint32_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xDF && c <= 0xFF && c != 0xF7)) return 1;
  if (c < 0x100 || c > 0x17F || c == 0x138 || c == 0x149 || c == 0x178) return c == 0x138 || c == 0x149;
  return (c <= 0x137 || (c >= 0x14A && c <= 0x177)) ? c % 2 == 1 : c % 2 == 0;
}

static inline int kavlo_auto_capital_(uint32_t c) {
  return (c >= 0xC0 && c <= 0xDE && c != 0xD7) || c == 0x178 ||
         (c >= 0x100 && c <= 0x17F && !kavlo_auto_small_(c));
}

/* Signs that a single-byte page keeps where others keep letters: the
 * Latin-1 signs (not the ordinals, the micro sign, the acute accent and
 * middle dot that stand in words) and the spacing diacritics. 2 when even
 * a letter on one side is suspect, 1 when only letters on both sides are
 * (inverted marks, guillemets, degree, copyright and registered signs lead
 * or end words). */
static inline int kavlo_auto_sign_(uint32_t c) {
  if (c == 0xA9 || c == 0xAE) return 3;
  if (c == 0xA1 || c == 0xAB || c == 0xBB || c == 0xBF || c == 0xB0) return 1;
  if ((c >= 0xA1 && c <= 0xBF && c != 0xAA && c != 0xBA && c != 0xB5 && c != 0xB4 && c != 0xB7) ||
      c == 0x2C7 || c == 0x2D8 || c == 0x2DB || c == 0x2DD)
    return 2;
  return 0;
}

/* 1 when `name` reads the bytes as text with a control code of 80-9F, a
 * non-ASCII capital right after a small letter ("\xA3\xF3d\xBC" as
 * WINDOWS-1250), or a sign where a letter belongs: between two letters
 * ("Kubi\xB9ov\xE1" as Latin-1), or for the signs that never touch a word,
 * next to one ("\xB6wiat" as WINDOWS-1250). Also 1 when the bytes are not
 * valid in `name` or the converter does not know it. Converts through
 * iconv in blocks of a fixed buffer. */
static inline int kavlo_auto_misreads_(const char *name, const char *bytes, size_t len) {
  char out[1024];
  char *in = (char *)bytes;
  size_t left = len;
  uint32_t prev = ' ', cur = ' ';
  int cur_sign = 0, bad = 0, more = 1;
  iconv_t cd = iconv_open("UTF-8", name);
  if (cd == (iconv_t)-1) return 1;
  while (more && !bad) {
    char *o = out;
    size_t room = sizeof out;
    const unsigned char *u;
    const size_t rc = iconv(cd, left > 0 ? &in : NULL, left > 0 ? &left : NULL, &o, &room);
    if (rc == (size_t)-1 && errno != E2BIG) bad = 1;
    if (left == 0 && rc != (size_t)-1) more = 0;
    for (u = (const unsigned char *)out; u < (const unsigned char *)o && !bad;) {
      /* iconv writes whole characters: every sequence is complete. */
      uint32_t c = *u++;
      if (c >= 0xF0) {
        c = (c & 0x07) << 18 | (uint32_t)(u[0] & 0x3F) << 12 | (uint32_t)(u[1] & 0x3F) << 6 |
            (u[2] & 0x3F);
        u += 3;
      } else if (c >= 0xE0) {
        c = (c & 0x0F) << 12 | (uint32_t)(u[0] & 0x3F) << 6 | (u[1] & 0x3F);
        u += 2;
      } else if (c >= 0xC0) {
        c = (c & 0x1F) << 6 | (u[0] & 0x3F);
        u += 1;
      }
      if (c >= 0x80 && c <= 0x9F) bad = 1;
      else if (kavlo_auto_capital_(c) && kavlo_auto_small_(cur)) bad = 1;
      else if (cur_sign == 2 && (kavlo_auto_letter_(prev) || kavlo_auto_letter_(c))) bad = 1;
      else if (cur_sign == 1 && kavlo_auto_letter_(prev) && kavlo_auto_letter_(c)) bad = 1;
      else if (cur_sign == 3 && kavlo_auto_letter_(c)) bad = 1;
      prev = cur;
      cur = c;
      cur_sign = kavlo_auto_sign_(c);
    }
  }
  if (!bad && cur_sign == 2 && kavlo_auto_letter_(prev)) bad = 1;
  iconv_close(cd);
  return bad;
}

/* 1 when every byte of 80-FF in the text converts from `a` to the same
 * character as from `b`: the two single-byte pages read it alike. */
static inline int kavlo_auto_reads_as_(const char *a, const char *b, const unsigned char *p,
                                       size_t len) {
  unsigned char seen[128];
  int same = 1, x;
  size_t i;
  iconv_t ca, cb;
  memset(seen, 0, sizeof seen);
  for (i = 0; i < len; ++i)
    if (p[i] >= 0x80) seen[p[i] - 0x80] = 1;
  ca = iconv_open("UTF-8", a);
  cb = iconv_open("UTF-8", b);
  if (ca == (iconv_t)-1 || cb == (iconv_t)-1) same = 0;
  for (x = 0; x < 128 && same; ++x) {
    char byte = (char)(x + 0x80), out_a[8], out_b[8];
    char *in = &byte, *oa = out_a, *ob = out_b;
    size_t in_left = 1, a_left = sizeof out_a, b_left = sizeof out_b;
    if (!seen[x]) continue;
    if (iconv(ca, &in, &in_left, &oa, &a_left) == (size_t)-1) same = 0;
    in = &byte;
    in_left = 1;
    if (iconv(cb, &in, &in_left, &ob, &b_left) == (size_t)-1) same = 0;
    if (same && (oa - out_a != ob - out_b || memcmp(out_a, out_b, (size_t)(oa - out_a)) != 0)) same = 0;
  }
  if (ca != (iconv_t)-1) iconv_close(ca);
  if (cb != (iconv_t)-1) iconv_close(cb);
  return same;
}

/* A detector's name for `bytes`, mended where a fact about the bytes
 * settles what a statistical model gets wrong, mostly on short texts:
 * - Kana. Japanese text is full of kana and Chinese text has none. Text
 *   named GBK (GB18030), a single-byte page, or nothing, whose double-byte
 *   characters are for an eighth or more (and at least two) kana of EUC-JP
 *   (A4 or A5, then A1-F6) or of Shift_JIS (82 9F-F1, 83 40-96), becomes
 *   EUC-JP or SHIFT_JIS. GB2312 keeps the kana under the same codes as
 *   EUC-JP, so GBK reads only a Japanese text's kanji wrong.
 * - Lone high bytes. Nearly every character of a CJK page is two bytes
 *   of 80-FF, so a text named BIG5, GBK, EUC-KR, UHC, EUC-TW, EUC-JP or
 *   SHIFT_JIS with two or more bytes of 80-FF and no two of them side by
 *   side is single-byte text whose letters happen to pair with the ASCII
 *   after them ("by\xB3em" as Big5): it is taken as WINDOWS-1252 and
 *   checked as below.
 * - Latin pages. A Latin single-byte page that reads the bytes with a
 *   control code or a sign where a letter belongs (kavlo_auto_misreads_)
 *   gives way to the first of WINDOWS-1252, ISO-8859-2 (only without bytes
 *   in 80-9F, which are control codes there) and WINDOWS-1250 that does
 *   not; a Central European guess tries its own family first. When all of
 *   them misread, the text is no Latin text, and NULL leaves it to the
 *   library's own chain. A Latin page that reads every byte of the text
 *   as WINDOWS-1252 does (a French text named ISO-8859-2, whose é and É
 *   are the same there) is named WINDOWS-1252, the commonest of them.
 * Other names are returned as given; NULL stays NULL. */
static inline const char *kavlo_auto_refine(const char *name, const char *bytes, size_t len) {
  static const char *const no_kana[] = {"BIG5", "EUC-KR", "UHC", "EUC-TW", "EUC-JP", "SHIFT_JIS",
                                        "WINDOWS-1251", "KOI8-R", "ISO-8859-5", "IBM866", "IBM855",
                                        "MAC-CYRILLIC", NULL};
  static const char *const latin[] = {"ISO-8859-1", "ISO-8859-15", "WINDOWS-1252", "ISO-8859-2",
                                      "WINDOWS-1250", "ISO-8859-3", "ISO-8859-4", "ISO-8859-9",
                                      "ISO-8859-10", "ISO-8859-13", "ISO-8859-16", "WINDOWS-1257",
                                      "MAC-CENTRALEUROPE", NULL};
  static const char *const cjk[] = {"BIG5", "GBK", "EUC-KR", "UHC", "EUC-TW", "EUC-JP", "SHIFT_JIS",
                                     NULL};
  static const char *const central[] = {"ISO-8859-2", "WINDOWS-1250", "MAC-CENTRALEUROPE", NULL};
  const unsigned char *p = (const unsigned char *)bytes;
  const char *order[4];
  int c1 = 0, n = 0, k;
  size_t i, pairs, kana;
  if (name == NULL || !kavlo_auto_is_(name, no_kana)) {
    for (i = 0, pairs = 0, kana = 0; i + 1 < len; ++i) {
      const unsigned char b = p[i], t = p[i + 1];
      if (b < 0xA1 || b == 0xFF || t < 0xA1 || t == 0xFF) continue;
      ++pairs;
      if ((b == 0xA4 || b == 0xA5) && t <= 0xF6) ++kana;
      ++i;
    }
    if (kana >= 2 && kana * 8 >= pairs) return "EUC-JP";
    for (i = 0, pairs = 0, kana = 0; i + 1 < len; ++i) {
      const unsigned char b = p[i], t = p[i + 1];
      if (!((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) || t < 0x40 || t == 0x7F ||
          t > 0xFC)
        continue;
      ++pairs;
      if ((b == 0x82 && t >= 0x9F && t <= 0xF1) || (b == 0x83 && t <= 0x96)) ++kana;
      ++i;
    }
    if (kana >= 2 && kana * 8 >= pairs) return "SHIFT_JIS";
  }
  if (name != NULL && kavlo_auto_is_(name, cjk)) {
    size_t high = 0;
    int paired = 0;
    for (i = 0; i < len && !paired; ++i)
      if (p[i] >= 0x80) {
        ++high;
        paired = i + 1 < len && p[i + 1] >= 0x80;
      }
    if (paired || high < 2) return name;
    name = "WINDOWS-1252";
  }
  if (name == NULL || !kavlo_auto_is_(name, latin)) return name;
  if (kavlo_auto_misreads_(name, bytes, len)) {
    const char *mended = NULL;
    for (i = 0; i < len && !c1; ++i) c1 = p[i] >= 0x80 && p[i] <= 0x9F;
    if (kavlo_auto_is_(name, central)) {
      if (!c1) order[n++] = "ISO-8859-2";
      order[n++] = "WINDOWS-1250";
      order[n++] = "WINDOWS-1252";
    } else {
      order[n++] = "WINDOWS-1252";
      if (!c1) order[n++] = "ISO-8859-2";
      order[n++] = "WINDOWS-1250";
    }
    for (k = 0; k < n && mended == NULL; ++k)
      if (strcmp(order[k], name) != 0 && !kavlo_auto_misreads_(order[k], bytes, len)) mended = order[k];
    if (mended == NULL) return NULL;
    name = mended;
  }
  return strcmp(name, "WINDOWS-1252") != 0 && kavlo_auto_reads_as_(name, "WINDOWS-1252", p, len)
             ? "WINDOWS-1252"
             : name;
}

/* The encoding the library decoded `bytes` from in the parse that just
 * returned KAVLO_OK after they were handed over without a name: "UTF-32LE",
 * "UTF-32BE", "UTF-16LE" or "UTF-16BE" for their marks, "GBK", "CP1252" or "ISO-8859-1" for the
 * library's fallbacks (read from its first warning), else "UTF-8". "" when
 * the library copied the bytes as they were. */
static inline const char *kavlo_auto_unnamed_used(const char *bytes, size_t len) {
  const unsigned char *p = (const unsigned char *)bytes;
  const char *w = kavlo_warning_count() > 0 ? kavlo_warning(0) : NULL;
  if (len >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    /* the mark is dropped and the rest is checked like unmarked text */
  } else if (len >= 4 && p[0] == 0xFF && p[1] == 0xFE && p[2] == 0 && p[3] == 0) {
    return "UTF-32LE";
  } else if (len >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF) {
    return "UTF-32BE";
  } else if (len >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    return "UTF-16LE";
  } else if (len >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    return "UTF-16BE";
  }
  if (w != NULL) {
    if (strcmp(w, "encoding: GBK fallback") == 0) return "GBK";
    if (strcmp(w, "encoding: CP1252 fallback") == 0) return "CP1252";
    if (strcmp(w, "encoding: latin1 fallback") == 0) return "ISO-8859-1";
    if (strcmp(w, "encoding: copied bytes as-is") == 0) return "";
  }
  return "UTF-8";
}

/* A detector: writes the name of the encoding of `len` bytes at `bytes`
 * into `name` (NUL-terminated, at most KAVLO_AUTO_NAME_SIZE bytes), or ""
 * when it has no answer. `ctx` is the caller's. */
typedef void (*kavlo_auto_detector)(const char *bytes, size_t len,
                                    char name[KAVLO_AUTO_NAME_SIZE], void *ctx);

/* Parses `len` bytes at `text` as kavlo_parse_enc() does, with the encoding
 * chosen as described at the top of this header, and returns its status.
 * The detector runs only for bytes that are neither marked nor UTF-8.
 * `used` (KAVLO_AUTO_NAME_SIZE bytes, may be NULL) receives the name of the
 * encoding the text was decoded from, "" when that is unknown (a failed
 * parse, or bytes the library kept as they were). */
static inline int kavlo_auto_parse_with(const char *text, size_t len, int format,
                                        kavlo_auto_detector detect, void *ctx,
                                        char used[KAVLO_AUTO_NAME_SIZE]) {
  char detected[KAVLO_AUTO_NAME_SIZE];
  const char *name = NULL;
  int rc;
  if (used != NULL) used[0] = '\0';
  if (text != NULL && len > 0 && detect != NULL && !kavlo_auto_is_unnamed(text, len)) {
    detected[0] = '\0';
    detect(text, len, detected, ctx);
    detected[KAVLO_AUTO_NAME_SIZE - 1] = '\0';
    name = kavlo_auto_refine(kavlo_auto_name(detected), text, len);
  }
  if (name != NULL) {
    rc = kavlo_parse_enc(text, len, format, name);
    if (rc != KAVLO_ERR_DECODE) {
      if (rc == KAVLO_OK && used != NULL) strcpy(used, name);
      return rc;
    }
  }
  rc = kavlo_parse_enc(text, len, format, NULL);
  if (rc == KAVLO_OK && used != NULL) strcpy(used, kavlo_auto_unnamed_used(text, len));
  return rc;
}

#ifdef KAVLO_AUTO_UCHARDET
/* Bytes of a short text that uchardet sees, by repetition; see below. */
#define KAVLO_AUTO_FEED 4096

/* A kavlo_auto_detector over uchardet: its name for the bytes, such as
 * "WINDOWS-1251", "SHIFT_JIS" or "EUC-KR", or "" (no answer, or uchardet
 * could not be set up). `ctx` is not used. */
static inline void kavlo_auto_uchardet(const char *bytes, size_t len,
                                       char name[KAVLO_AUTO_NAME_SIZE], void *ctx) {
  uchardet_t ud;
  size_t fed = 0;
  (void)ctx;
  name[0] = '\0';
  if (len == 0 || (ud = uchardet_new()) == NULL) return;
  /* uchardet's multi-byte probers give no answer on fewer than a handful
   * of characters, while its single-byte ones answer from a few bytes: a
   * short sheet whose one title is Japanese would be named WINDOWS-1252.
   * A short text is therefore fed repeatedly up to KAVLO_AUTO_FEED bytes,
   * which lifts the counts over those minimums without changing the
   * proportions that every prober measures. */
  do {
    if (uchardet_handle_data(ud, bytes, len) != 0) break;
    fed += len;
  } while (fed < KAVLO_AUTO_FEED);
  if (fed >= len) {
    const char *found;
    uchardet_data_end(ud);
    found = uchardet_get_charset(ud);
    if (found != NULL && strlen(found) < KAVLO_AUTO_NAME_SIZE) strcpy(name, found);
  }
  uchardet_delete(ud);
}

/* kavlo_auto_parse_with() with uchardet as the detector. */
static inline int kavlo_auto_parse(const char *text, size_t len, int format,
                                   char used[KAVLO_AUTO_NAME_SIZE]) {
  return kavlo_auto_parse_with(text, len, format, kavlo_auto_uchardet, NULL, used);
}
#endif

#ifdef __cplusplus
}
#endif

#endif /* KAVLO_AUTO_H */
