// White-box tests of the encoding guess (src/decode/guess.h): each rule
// pinned at its boundary, one text on each side of it. The rules that mend
// uchardet's answer are reached through the real detector, so every such
// row also names what uchardet itself says, checked first: a row whose
// detector answer changed says so instead of blaming the rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../src/decode/guess.h"

#if KAVLO_WITH_UCHARDET
#include <uchardet/uchardet.h>
#endif

namespace {

using namespace std::string_literals;

// The guess, "" for false; a false guess must leave the name empty.
std::string guess(const std::string &bytes) {
  char name[kavlo::guess_name_size];
  std::memset(name, 'x', sizeof name);
  const bool named = kavlo::guess_encoding(bytes.data(), bytes.size(), name);
  EXPECT_EQ(named, name[0] != '\0');
  return name;
}

std::string repeat(const std::string &unit, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += unit;
  return s;
}

struct Row {
  const char *what;
  std::string bytes;
  const char *expected;  // "": false
};

// Marks: the decoder reads them, whatever follows (the text after them is
// WINDOWS-1252 to the guess on its own, see DetectorAnswers).
TEST(Guess, MarksAndUtf8GoToTheLibrary) {
  const std::string latin = "Caf\xE9 cr\xE8me";
  const Row rows[] = {
      {"UTF-8 mark", "\xEF\xBB\xBF" + latin, ""},
      {"UTF-16LE mark", "\xFF\xFE" + latin, ""},
      {"UTF-16BE mark", "\xFE\xFF" + latin, ""},
      {"UTF-32LE mark", "\xFF\xFE\0\0"s + latin, ""},
      {"UTF-32BE mark", "\0\0\xFE\xFF"s + latin, ""},
      // Marks before bytes that the UTF-16 rule would name.
      {"UTF-8 mark, NULs", "\xEF\xBB\xBF" + repeat("\0A"s, 20) + "\0"s, ""},
      {"UTF-16LE mark, NULs", "\xFF\xFE" + repeat("A\0"s, 20), ""},
      {"UTF-16BE mark, NULs", "\xFE\xFF" + repeat("\0A"s, 20), ""},
      {"UTF-32BE mark, NULs", "\0\0\xFE\xFF"s + repeat("\0A"s, 20), ""},
      {"no mark, NULs", "\xFE\xFE" + repeat("\0A"s, 20), "UTF-16BE"},
      {"UTF-32BE without mark", "\0\0\0A\0\0\0B"s, ""},
      {"UTF-8", "Caf\xC3\xA9 cr\xC3\xA8me", ""},
      // The library's check is structural: overlong forms and surrogates pass.
      {"overlong and surrogate", "x\xC0\xAF y\xED\xA0\x80", ""},
      {"empty", "", ""},
  };
  for (const Row &r : rows) EXPECT_EQ(guess(r.bytes), r.expected) << r.what;
  char name[kavlo::guess_name_size] = "x";
  EXPECT_FALSE(kavlo::guess_encoding(nullptr, 0, name));
  EXPECT_STREQ(name, "");
}

// UTF-16 without a mark: of the units of the first 4 KiB, at least 90%
// with a NUL in one half and at most 10% with one in the other; an even
// length. 20 units: 18 NULs reach the 90%, 2 stay within the 10%.
TEST(Guess, Utf16WithoutMarkAtItsThresholds) {
  const std::string le = "A\0"s, cyr = "\x01\x04"s /* U+0401 */, cjk = "\0\x4E"s /* U+4E00 */,
                    nul = "\0\0"s;
  auto be = [](std::string s) {
    for (size_t i = 0; i + 1 < s.size(); i += 2) std::swap(s[i], s[i + 1]);
    return s;
  };
  const std::string at = repeat(le, 18) + repeat(cyr, 2);
  const std::string below = repeat(le, 17) + repeat(cyr, 3);
  const std::string other_at = repeat(le, 17) + nul + cjk + cyr;         // 18 and 2
  const std::string other_over = repeat(le, 17) + nul + repeat(cjk, 2);  // 18 and 3
  // The window: 90% of its 2048 units are 1843.2; beyond it nothing counts.
  const std::string window_at = repeat("ab", 204) + repeat(le, 1844) + repeat("ab", 1000);
  const std::string window_below = repeat("ab", 205) + repeat(le, 1843) + repeat(le, 1000);
  const Row rows[] = {
      {"90% of the odd bytes NUL", at, "UTF-16LE"},
      {"85%", below, ""},
      {"10% NUL in the other half", other_at, "UTF-16LE"},
      {"15% NUL in the other half", other_over, ""},
      {"odd length", at + "A", ""},
      {"one unit", le, "UTF-16LE"},
      {"window at 90%", window_at, "UTF-16LE"},
      {"window below 90%, more after it", window_below, ""},
      {"big-endian, 90%", be(at), "UTF-16BE"},
      {"big-endian, 85%", be(below), ""},
      {"big-endian, 10% in the other half", be(other_at), "UTF-16BE"},
      {"big-endian, 15% in the other half", be(other_over), ""},
      // Text of the Latin-1 range is not UTF-8 in UTF-16: é is E9 00.
      {"Latin-1 letters", "C\0a\0f\0\xE9\0"s, "UTF-16LE"},
      {"all NUL", std::string(40, '\0'), ""},
  };
  for (const Row &r : rows) EXPECT_EQ(guess(r.bytes), r.expected) << r.what;
}

#if KAVLO_WITH_UCHARDET

// uchardet's own answer, fed as the guess feeds it: a short text repeated
// up to 4 KiB.
std::string detector(const std::string &bytes) {
  uchardet_t ud = uchardet_new();
  size_t fed = 0;
  do {
    uchardet_handle_data(ud, bytes.data(), bytes.size());
    fed += bytes.size();
  } while (fed < 4096);
  uchardet_data_end(ud);
  std::string name = uchardet_get_charset(ud);
  uchardet_delete(ud);
  return name;
}

struct Mended {
  const char *what;
  std::string bytes;
  const char *detected;  // uchardet's answer
  const char *expected;  // the guess, "" for false
};

void check(const std::vector<Mended> &rows) {
  for (const Mended &r : rows) {
    ASSERT_EQ(detector(r.bytes), r.detected) << r.what << ": the detector's answer changed";
    EXPECT_EQ(guess(r.bytes), r.expected) << r.what;
  }
}

std::string hanzi(size_t n) {  // GB2312 characters, no kana among them
  const std::string all = "\xD6\xD0\xB9\xFA\xC8\xCB\xC3\xF1\xB9\xB2\xBA\xCD\xB4\xF3\xD1\xA7\xC9\xFA"
                          "\xB9\xA4\xD7\xF7\xD5\xDF\xBE\xAD\xBC\xC3\xB7\xA2\xD5\xB9";
  return all.substr(0, 2 * n);
}

// Kana: at least two, and at least an eighth of the double-byte characters.
TEST(Guess, KanaAtTheirThresholds) {
  const std::string euc_kana = "\xA4\xCE\xA4\xCF";  // の は in EUC-JP (and in GB2312)
  auto euc = [&](size_t kana, size_t others) {
    return "TITLE \"" + hanzi(others) + euc_kana.substr(0, 2 * kana) + "\"";
  };
  // Kanji of JIS row 16, rare enough that uchardet does not see Shift_JIS.
  const std::string kanji = "\x88\x9F\x88\xA0\x88\xA1\x88\xA2\x88\xA3\x88\xA4\x88\xA5\x88\xA6\x88\xA7"
                            "\x88\xA8\x88\xA9\x88\xAA\x88\xAB\x88\xAC\x88\xAD";
  const std::string sjis_kana = "\x82\xCC\x82\xCD";  // の は in Shift_JIS
  auto sjis = [&](size_t kana, size_t others) {  // kana at the 1st and 11th place
    std::string s = kanji.substr(0, 2 * others);
    s.insert(std::min<size_t>(s.size(), 6), sjis_kana.substr(0, 2));
    if (kana > 1) s.insert(std::min<size_t>(s.size(), 20), sjis_kana.substr(2, 2));
    return "TITLE \"" + s + "\"";
  };
  check({
      {"EUC-JP: 2 kana of 16", euc(2, 14), "GB18030", "EUC-JP"},
      {"EUC-JP: 2 kana of 17", euc(2, 15), "GB18030", "GBK"},
      {"EUC-JP: 1 kana of 8", euc(1, 7), "GB18030", "GBK"},
      {"Shift_JIS: 2 kana of 16", sjis(2, 14), "WINDOWS-1252", "SHIFT_JIS"},
      {"Shift_JIS: 2 kana of 17", sjis(2, 15), "WINDOWS-1252", "WINDOWS-1252"},
      {"Shift_JIS: 1 kana of 8", sjis(1, 7), "WINDOWS-1252", "WINDOWS-1252"},
  });
}

// A CJK name for text with two or more high bytes, none side by side, is
// single-byte text, read as WINDOWS-1252 and then checked as Latin text
// ("x³y" misreads there; ISO-8859-2 gives "xły").
TEST(Guess, LoneHighBytesUnderACjkName) {
  check({
      {"two lone high bytes", "x\xB3y x\xB3y", "BIG5", "ISO-8859-2"},
      {"one", "x\xB3y", "BIG5", "BIG5"},
      {"two side by side", "x\xB3\xB3y x\xB3y", "BIG5", "BIG5"},
      {"Polish byłem", "by\xB3" "em ma\xB3ym", "BIG5", "ISO-8859-2"},
  });
}

// A Latin page that misreads the text gives way: for each way of
// misreading, the text that just does and the one that just does not.
TEST(Guess, LatinPagesAtEachMisreading) {
  check({
      // A control code: 9F is the last of them, A0 is a space.
      {"9F in ISO-8859-2", "Marta Kubi\xB9ov\xE1 \x9F", "ISO-8859-2", "WINDOWS-1250"},
      {"A0 in ISO-8859-2", "Marta Kubi\xB9ov\xE1 \xA0", "ISO-8859-2", "ISO-8859-2"},
      // 81 is no character of WINDOWS-1250 or WINDOWS-1252: no page is left.
      {"81 in ISO-8859-2", "Marta Kubi\xB9ov\xE1 \x81", "ISO-8859-2", ""},
      // A sign that touches no word (¹), next to a letter or not.
      {"¹ after a letter", "Caf\xE9 cr\xE8me x\xB9 y", "ISO-8859-1", "ISO-8859-2"},
      {"¹ between spaces", "Caf\xE9 cr\xE8me x \xB9 y", "ISO-8859-1", "WINDOWS-1252"},
      {"¹ at the end after a letter", "Caf\xE9 cr\xE8me x\xB9", "ISO-8859-1", "ISO-8859-2"},
      // A guillemet: suspect with letters on both sides only. No Latin
      // page reads "a«c" (Ť after a small letter in ISO-8859-2): no answer.
      {"« between letters", "Caf\xE9 a\xAB" "cr\xE8me", "ISO-8859-1", ""},
      {"« before a word", "Caf\xE9 \xAB" "cr\xE8me\xBB", "ISO-8859-1", "WINDOWS-1252"},
      // ©: suspect before a letter, not after one.
      {"© before a letter", "Radio \xA9Music \xE9t\xE9", "WINDOWS-1250", "ISO-8859-2"},
      {"© after a letter", "Radio Music\xA9 \xE9t\xE9", "WINDOWS-1250", "WINDOWS-1252"},
      // A capital right after a small letter.
      {"Á after d", "Caf\xE9 cr\xE8me d\xC1", "ISO-8859-1", ""},
      {"Á after a space", "Caf\xE9 cr\xE8me d \xC1", "ISO-8859-1", "WINDOWS-1252"},
      // A page that reads every high byte as WINDOWS-1252 does is named so;
      // one byte read otherwise (č, è there) keeps the name.
      {"É and é in ISO-8859-2", "\xC9" "dith Piaf, Caf\xE9 del Mar", "ISO-8859-2", "WINDOWS-1252"},
      {"and č", "\xC9" "dith Piaf, Caf\xE9 del Mar \xE8" "as", "ISO-8859-2", "ISO-8859-2"},
  });
}

// Texts named as uchardet names them, mended or not; the name filter.
TEST(Guess, DetectorAnswers) {
  check({
      {"KOI8-R list", "\xF2\xC1\xC4\xC9\xCF \xED\xC1\xD1\xCB,http://a/1\n\xEE\xC1\xDB\xC5 \xD2\xC1\xC4\xC9\xCF,http://a/2\n",
       "KOI8-R", "KOI8-R"},
      {"CP1251 list", "\xD0\xE0\xE4\xE8\xEE \xCC\xE0\xFF\xEA,http://a/1\n\xCD\xE0\xF8\xE5 \xF0\xE0\xE4\xE8\xEE,http://a/2\n",
       "WINDOWS-1251", "WINDOWS-1251"},
      // GB18030 is named by the library's name for it.
      {"Chinese", "\xD6\xD0\xB9\xFA\xD6\xAE\xC9\xF9", "GB18030", "GBK"},
      {"Japanese EUC-JP", "\xC0\xA4\xB3\xA6\xA4\xCB\xB0\xEC\xA4\xC4\xA4\xC0\xA4\xB1\xA4\xCE\xB2\xD6", "EUC-JP", "EUC-JP"},
      {"Baltic", "\xD0iauliai ir Vilnius \xE8iurlionis", "ISO-8859-13", "ISO-8859-13"},
      {"Polish in ISO-8859-3", "Radio Wroc\xB3" "aw", "ISO-8859-3", "ISO-8859-2"},
      {"Polish in WINDOWS-1250", "Dziwny jest ten \xB6wiat", "WINDOWS-1250", "ISO-8859-2"},
      {"Czech in WINDOWS-1250", "\x8Akoda l\xE1sky, \xE8" "as", "WINDOWS-1250", "WINDOWS-1250"},
      {"French in ISO-8859-1", "Caf\xE9 cr\xE8me", "ISO-8859-1", "WINDOWS-1252"},
      // No answer from the detector: the library's chain.
      {"Cyrillic fragment", "\xCA\xE8\xED\xEE \xA4\xA5", "", ""},
  });
}

// A short text is shown to uchardet repeatedly: a sheet whose one title
// is Shift_JIS is WINDOWS-1252 to uchardet seen once.
TEST(Guess, ShortTextIsRepeated) {
  const std::string sheet =
      "PERFORMER \"Various\"\r\nTITLE \"Mix\"\r\nFILE \"mix.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n"
      "    TITLE \"\x96\xE9\x82\xC9\x8B\xEC\x82\xAF\x82\xE9\"\r\n    INDEX 01 00:00:00\r\n";
  uchardet_t ud = uchardet_new();
  uchardet_handle_data(ud, sheet.data(), sheet.size());
  uchardet_data_end(ud);
  EXPECT_STREQ(uchardet_get_charset(ud), "WINDOWS-1252");
  uchardet_delete(ud);
  EXPECT_EQ(guess(sheet), "SHIFT_JIS");
  // A long one is fed once, as it is.
  EXPECT_EQ(guess(repeat(sheet, 200)), "SHIFT_JIS");
}

// Every call has its own detector and converters: threads guessing at
// once get what one thread gets.
TEST(Guess, ThreadsGetTheSameAnswers) {
  const std::vector<std::string> texts = {"x\xB3y x\xB3y", "Marta Kubi\xB9ov\xE1 \x9F",
                                          "TITLE \"" + hanzi(14) + "\xA4\xCE\xA4\xCF\"",
                                          repeat("A\0"s, 100), "Caf\xE9 a\xAB" "cr\xE8me"};
  std::vector<std::string> alone;
  for (const std::string &t : texts) alone.push_back(guess(t));
  std::vector<std::vector<std::string>> got(4);
  std::vector<std::thread> threads;
  for (auto &g : got)
    threads.emplace_back([&texts, &g] {
      for (int round = 0; round < 5; ++round)
        for (const std::string &t : texts) {
          char name[kavlo::guess_name_size];
          kavlo::guess_encoding(t.data(), t.size(), name);
          if (round == 4) g.push_back(name);
        }
    });
  for (std::thread &t : threads) t.join();
  for (const auto &g : got) EXPECT_EQ(g, alone);
}

#else

// Without uchardet only UTF-16 without a mark is named.
TEST(Guess, WithoutTheDetectorNothingElseIsNamed) {
  for (const std::string t : {"x\xB3y x\xB3y", "\xC0\xA4\xB3\xA6\xA4\xCB\xB0\xEC", "Caf\xE9 cr\xE8me"})
    EXPECT_EQ(guess(t), "") << t;
}

#endif

}  // namespace
