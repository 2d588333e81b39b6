// Allocation-failure sweep: the k-th heap allocation inside a parse (and
// its JSON exports, ordinary and full; a write; an append; a built result) fails, for every k until a run completes without
// reaching the failure. malloc, calloc and realloc are interposed here, so
// operator new, iconv and yyjson fail too. After each run the store must
// answer consistently, release everything on kavlo_clear(), and a normal
// parse must give the complete result again.
#include <iconv.h>
#include <yyjson.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/full_doc.h"
#include "../src/store/store.h"
#include "support/handle_compare.h"
#include "support/kavlo_test.h"

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace {

// Blocks allocated while armed, in a fixed table that needs no heap.
constexpr size_t table_size = size_t{1} << 16;
void *g_live[table_size];
size_t g_live_count = 0;
bool g_armed = false;
long g_calls = 0;
long g_fail_at = -1;
bool g_failed = false;

size_t slot_of(void *p) { return (reinterpret_cast<uintptr_t>(p) >> 4) * 2654435761u % table_size; }

void track(void *p) {
  if (p == nullptr) return;
  for (size_t i = slot_of(p);; i = (i + 1) % table_size)
    if (g_live[i] == nullptr) {
      g_live[i] = p;
      ++g_live_count;
      return;
    }
}

bool untrack(void *p) {
  if (p == nullptr || g_live_count == 0) return false;
  for (size_t i = slot_of(p); g_live[i] != nullptr; i = (i + 1) % table_size)
    if (g_live[i] == p) {
      // Re-insert the rest of the cluster so that probing stays correct.
      g_live[i] = nullptr;
      --g_live_count;
      for (size_t j = (i + 1) % table_size; g_live[j] != nullptr; j = (j + 1) % table_size) {
        void *q = g_live[j];
        g_live[j] = nullptr;
        --g_live_count;
        track(q);
      }
      return true;
    }
  return false;
}

// Makes the k-th allocation from now on fail, counting only while armed.
void arm(long k) {
  g_calls = 0;
  g_fail_at = k;
  g_failed = false;
  g_armed = true;
}

void disarm() { g_armed = false; }

// Counts on after a disarm(), from where it stopped.
void resume() { g_armed = true; }

// Stops tracking the blocks seen so far.
void forget_blocks() {
  std::fill(std::begin(g_live), std::end(g_live), nullptr);
  g_live_count = 0;
}

bool should_fail() {
  if (!g_armed) return false;
  if (++g_calls == g_fail_at) {
    g_failed = true;
    return true;
  }
  return false;
}

}  // namespace

extern "C" {
void *malloc(size_t n) {
  if (should_fail()) return nullptr;
  void *p = __libc_malloc(n);
  if (g_armed) track(p);
  return p;
}
void *calloc(size_t n, size_t m) {
  if (should_fail()) return nullptr;
  void *p = __libc_calloc(n, m);
  if (g_armed) track(p);
  return p;
}
void *realloc(void *old, size_t n) {
  if (should_fail()) return nullptr;
  const bool was_tracked = untrack(old);
  void *p = __libc_realloc(old, n);
  if (p == nullptr && was_tracked) track(old);
  else if (p != nullptr && (was_tracked || (g_armed && old == nullptr))) track(p);
  return p;
}
void free(void *p) {
  untrack(p);
  __libc_free(p);
}
}

namespace {

struct Input {
  const char *name;
  std::string bytes;
  int format;
  const char *encoding;
};

std::string repeat(const std::string &s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

const std::vector<Input> &inputs() {
  static const std::vector<Input> all = {
      {"m3u", "#EXTM3U x-tvg-url=\"e\"\n#EXTGRP:G\n" +
                  repeat("#EXTINF:5 tvg-id=\"a\" group-title=\"b\",Title\n#EXTVLCOPT:x=y\n/p|K=v&L=w\n", 70) +
                  "/bare\n",
       KAVLO_FORMAT_AUTO, nullptr},
      {"imdb", "#EXTM3U\n#EXTINF:19990331,tt1\n/a\n#EXTINF:20000101,tt2\n/b\n", KAVLO_FORMAT_AUTO, nullptr},
      {"iptv", "#EXTM3U x-tvg-url=\"e1,e2\" catchup=\"shift\" http-user-agent=\"H\"\n#PLAYLIST:T\n# note\n" +
                   repeat("#EXTINF:2.5 user-agent=\"A\",T\n#EXTGRP:a;b\n#EXTHTTP:{\"Cookie\":\"c\"}\n#EXTHTTP:{bad\n"
                          "#EXTVLCOPT:http-user-agent=\"V\"\n#EXTVLCOPT:http-X-Y=z\n"
                          "#KODIPROP:inputstream.adaptive.stream_headers=Referer=r%2F\n"
                          "/p|User-Agent=\"Q\"|X-Z=%41\n",
                          30) +
                   std::string("/nul\0cut\n", 9),
       KAVLO_FORMAT_AUTO, nullptr},
      {"chinese", repeat("G,#genre#\nN,http://a/1#http://b/1$HD|User-Agent=u\n", 30), KAVLO_FORMAT_AUTO, nullptr},
      {"missing_header", "/a\n", KAVLO_FORMAT_M3U, nullptr},
      {"hls", "#EXTM3U\n#EXT-X-ENDLIST\n", KAVLO_FORMAT_AUTO, nullptr},
      {"streaming", repeat("Group,#genre#\nName\xEF\xBC\x8Chttp://x/1\nbad line\n", 40), KAVLO_FORMAT_AUTO,
       nullptr},
      {"cue", "REM x\nTITLE \"S\"\nFILE \"a.wav\" WAVE\n" +
                  repeat("TRACK 01 AUDIO\nTITLE T\nPERFORMER P\nFLAGS DCP\nREM K v\nPREGAP 00:00:01\n"
                         "INDEX 01 00:00:01\n", 20) +
                  "INDEX 01 1:2\nMESSAGE\n",
       KAVLO_FORMAT_AUTO, nullptr},
      {"gbk_fallback", "Name,http://x/\xC4\xE3\n", KAVLO_FORMAT_AUTO, nullptr},
      {"cp1252_fallback", "#EXTM3U\n#EXTINF:1,caf\xE9\n/a\n", KAVLO_FORMAT_AUTO, nullptr},
      {"latin1_fallback", "http://x/\x81\n", KAVLO_FORMAT_AUTO, nullptr},
      {"utf16_bom", std::string("\xFF\xFEh\0t\0t\0p\0:\0/\0/\0x\0", 18), KAVLO_FORMAT_AUTO, nullptr},
      {"utf32be_bom", std::string("\0\0\xFE\xFF\0\0\0h\0\0\0t\0\0\0t\0\0\0p\0\0\0:\0\0\0/\0\0\0/\0\0\0x", 36),
       KAVLO_FORMAT_AUTO, nullptr},
      {"named", "#EXTM3U\n#EXTINF:1,\xE9\n/a\n", KAVLO_FORMAT_AUTO, "cp1252"},
      {"empty", "", KAVLO_FORMAT_CUE, nullptr},
  };
  return all;
}

// Reads every accessor and checks the answers hang together.
void check_consistent() {
  const int items = kavlo_item_count();
  ASSERT_GE(items, 0);
  for (int i = 0; i < items; ++i) {
    if (const char *s = kavlo_item_location(i)) (void)std::strlen(s);
    if (const char *s = kavlo_item_title(i)) (void)std::strlen(s);
    const int attrs = kavlo_item_attr_count(i);
    ASSERT_TRUE(attrs >= 0 && attrs <= 64);
    for (int a = 0; a < attrs; ++a) ASSERT_NE(kavlo_item_attr_key(i, a), nullptr);
  }
  EXPECT_EQ(kavlo_item_location(items), nullptr);
  for (int t = 0; t < kavlo_cue_track_count(); ++t)
    for (int x = 0; x < kavlo_cue_track_index_count(t); ++x)
      EXPECT_GE(kavlo_cue_track_index_number(t, x), 0);
  for (int w = 0; w < kavlo_warning_count(); ++w)
    if (const char *s = kavlo_warning(w)) { EXPECT_LE(std::strlen(s), 511u); }
  EXPECT_NE(kavlo_last_error(), nullptr);
}

void check_json(const char *json) {
  ASSERT_NE(json, nullptr);
  if (std::strcmp(json, "{}") == 0) return;
  yyjson_doc *doc = yyjson_read(json, std::strlen(json), 0);
  ASSERT_NE(doc, nullptr) << json;
  EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(yyjson_doc_get_root(doc), "item_count")),
            kavlo_item_count());
  yyjson_doc_free(doc);
}

// glibc unloads a converter module when its last descriptor closes and
// loads it again on the next open, which allocates: one descriptor of each
// kept open for the life of the process keeps them loaded.
void keep_converters_loaded() {
  static const bool done = [] {
    for (const char *name : {"GBK", "CP1252", "ISO-8859-1", "UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE", "BIG5"})
      (void)iconv_open("UTF-8", name);
    return true;
  }();
  (void)done;
}

class Oom : public kt::Store, public ::testing::WithParamInterface<Input> {};

TEST_P(Oom, EveryAllocationFailureEndsCleanly) {
  const Input &in = GetParam();
  // Only the library's own blocks are counted, not glibc's converters.
  keep_converters_loaded();
  const int ref_rc = kt::parse(in.bytes, in.format, in.encoding);
  const std::string ref_json = kavlo_result_json();
  ASSERT_NE(ref_json, "{}");
  const std::string ref_full = kavlo_result_json_full();
  ASSERT_EQ(kt::strip_full(ref_full), ref_json);
  kavlo_clear();

  long k = 1;
  for (;; ++k) {
    ASSERT_LT(k, 100000) << "the sweep does not end";
    // Each failure runs twice: glibc may fill a cache of its own on the
    // first (iconv keeps converter lookups); a block of ours still live
    // after the second run is a leak.
    bool reached = false;
    for (int round = 0; round < 2; ++round) {
      arm(k);
      const int rc = kavlo_parse_enc(in.bytes.data(), in.bytes.size(), in.format, in.encoding);
      const char *json_text = kavlo_result_json();
      disarm();
      const std::string json = json_text;  // the full document reuses its block
      resume();
      const char *full_text = kavlo_result_json_full();
      disarm();
      const std::string full = full_text;
      SCOPED_TRACE("allocation " + std::to_string(k) + " failed, status " + std::to_string(rc));
      const bool converts = in.encoding != nullptr || in.bytes.rfind("\xFF\xFE", 0) == 0 ||
                            in.bytes.rfind(std::string("\0\0\xFE\xFF", 4), 0) == 0;
      EXPECT_TRUE(rc == ref_rc || rc == KAVLO_ERR_NOMEM || (converts && rc == KAVLO_ERR_DECODE));
      if (rc == KAVLO_ERR_NOMEM) { EXPECT_STREQ(kavlo_last_error(), ""); }
      check_consistent();
      check_json(json.c_str());
      // Both documents read the same store: where both could be written,
      // the full one holds the ordinary one.
      check_json(full.c_str());
      if (json != "{}" && full != "{}") { EXPECT_EQ(kt::strip_full(full), json); }
      reached = g_failed;
      kavlo_clear();
      if (round == 1) { EXPECT_EQ(g_live_count, 0u) << "blocks still allocated after kavlo_clear()"; }
      forget_blocks();
    }

    ASSERT_EQ(kt::parse(in.bytes, in.format, in.encoding), ref_rc);
    ASSERT_EQ(kavlo_result_json(), ref_json);
    ASSERT_EQ(kavlo_result_json_full(), ref_full);
    kavlo_clear();
    if (!reached) break;
  }
  EXPECT_GT(k, 1) << "no allocation was reached";
  RecordProperty("allocation_points", static_cast<int>(k - 1));
  std::printf("%s: %ld allocation points\n", in.name, k - 1);
}

// The writer under failure: each of its allocations fails in turn, from a
// handle whose write block is not there yet. A failed write gives
// KAVLO_ERR_NOMEM and no text, never part of one, and the next write the
// whole text.
TEST_P(Oom, EveryWriteFailureGivesNoText) {
  const Input &in = GetParam();
  kavlo_playlist *p = kavlo_playlist_new();
  ASSERT_NE(p, nullptr);
  auto parse = [&] { return kavlo_playlist_parse(p, in.bytes.data(), in.bytes.size(), in.format, in.encoding); };
  if (parse() != KAVLO_OK) {
    kavlo_playlist_free(p);
    return;
  }
  long points = 0;
  for (int format : {KAVLO_FORMAT_M3U, KAVLO_FORMAT_STREAMING_LIST, KAVLO_FORMAT_CUE}) {
    const char *text = nullptr;
    size_t length = 0;
    const int ref_rc = kavlo_playlist_write(p, format, KAVLO_WRITE_CRLF, &text, &length);
    const std::string ref = text != nullptr ? std::string(text, length) : "";
    for (long k = 1;; ++k) {
      ASSERT_LT(k, 1000);
      kavlo_playlist_clear(p);
      ASSERT_EQ(parse(), KAVLO_OK);
      forget_blocks();
      text = "x";
      length = 1;
      arm(k);
      const int rc = kavlo_playlist_write(p, format, KAVLO_WRITE_CRLF, &text, &length);
      disarm();
      if (!g_failed) {
        EXPECT_EQ(rc, ref_rc);
        if (rc == KAVLO_OK) { EXPECT_EQ(std::string(text, length), ref); }
        break;
      }
      ++points;
      EXPECT_EQ(rc, KAVLO_ERR_NOMEM) << "allocation " << k;
      EXPECT_EQ(text, nullptr);
      EXPECT_EQ(length, 0u);
      ASSERT_EQ(kavlo_playlist_write(p, format, KAVLO_WRITE_CRLF, &text, &length), KAVLO_OK);
      EXPECT_EQ(std::string(text, length), ref) << "after allocation " << k << " failed";
    }
  }
  kavlo_playlist_free(p);
  EXPECT_EQ(g_live_count, 0u) << "blocks still allocated after kavlo_playlist_free()";
  forget_blocks();
  EXPECT_GT(points, 0) << "no allocation of the writer was reached";
}

// The used counts of a store's arrays.
std::vector<size_t> counts(const kavlo::Store &s) {
  return {static_cast<size_t>(s.item_count), s.attr_used, s.attr_range_used, s.option_used, s.group_used,
          static_cast<size_t>(s.track_count), s.index_used, s.rem_used, s.rare_used, s.line_high_used,
          s.location_used, s.header_pair_used, s.alternate_used, s.http_used, s.extgrp_used, s.loss_used,
          static_cast<size_t>(s.header_attr_count), static_cast<size_t>(s.sheet_rem_count),
          static_cast<size_t>(s.epg_count)};
}

// Appending under failure, into a handle that holds nothing and into one
// that holds the same result already: a failure gives KAVLO_ERR_NOMEM and
// leaves the target as it was; freeing it releases everything.
TEST_P(Oom, EveryAppendFailureLeavesTheTarget) {
  const Input &in = GetParam();
  kavlo_playlist *src = kavlo_playlist_new();
  ASSERT_NE(src, nullptr);
  if (kavlo_playlist_parse(src, in.bytes.data(), in.bytes.size(), in.format, in.encoding) != KAVLO_OK ||
      kavlo_playlist_item_count(src) == 0) {
    kavlo_playlist_free(src);
    return;
  }
  for (bool filled : {false, true}) {
    // The target after one more append without failure.
    kavlo_playlist *clean = kavlo_playlist_new();
    ASSERT_NE(clean, nullptr);
    for (int round = 0; round < (filled ? 3 : 2); ++round) ASSERT_EQ(kavlo_playlist_append(clean, src, nullptr, 0), KAVLO_OK);
    const std::string ref = kavlo_playlist_json_full(clean);
    kavlo_playlist_free(clean);
    for (long k = 1;; ++k) {
      ASSERT_LT(k, 10000);
      kavlo_playlist *dst = kavlo_playlist_new();
      ASSERT_NE(dst, nullptr);
      if (filled) { ASSERT_EQ(kavlo_playlist_append(dst, src, nullptr, 0), KAVLO_OK); }
      const std::string before = kavlo_playlist_json_full(dst);
      const std::vector<size_t> counts_before = counts(dst->store);
      forget_blocks();
      arm(k);
      const int rc = kavlo_playlist_append(dst, src, nullptr, 0);
      disarm();
      const bool failed = g_failed;
      const std::string after = kavlo_playlist_json_full(dst);
      if (!failed) {
        EXPECT_EQ(rc, KAVLO_OK);
        EXPECT_EQ(kavlo_playlist_item_count(dst), kavlo_playlist_item_count(src) * (filled ? 2 : 1));
      } else {
        EXPECT_EQ(rc, KAVLO_ERR_NOMEM) << "allocation " << k;
        EXPECT_EQ(after, before) << "allocation " << k;
        // What the document does not show: records past the restored ends.
        EXPECT_EQ(counts(dst->store), counts_before) << "allocation " << k;
      }
      // Nothing of a failed append shows in the next one.
      ASSERT_EQ(kavlo_playlist_append(dst, src, nullptr, 0), KAVLO_OK);
      if (failed) { ASSERT_EQ(kavlo_playlist_append(dst, src, nullptr, 0), KAVLO_OK); }
      EXPECT_EQ(kavlo_playlist_json_full(dst), ref) << "allocation " << k;
      kavlo_playlist_free(dst);
      EXPECT_EQ(g_live_count, 0u) << "blocks still allocated after kavlo_playlist_free(), allocation " << k;
      forget_blocks();
      if (!failed) {
        // A second append of a short list may fit in the room there is.
        if (!filled) { EXPECT_GT(k, 1) << "no allocation of the append was reached"; }
        break;
      }
    }
  }
  kavlo_playlist_free(src);
}

// A result built entry by entry: each call fails in turn at each of its
// allocations. A failure gives KAVLO_ERR_NOMEM and leaves the result as it
// was; the same call then succeeds, and the rest gives the whole result.
TEST(OomBuild, EveryFailureOfACallLeavesTheResult) {
  using Step = int (*)(kavlo_playlist *);
  const Step steps[] = {
      [](kavlo_playlist *p) { return kavlo_playlist_add_header_attr(p, "x-tvg-url", "http://e/1.xml, http://e/2.xml"); },
      [](kavlo_playlist *p) { return kavlo_playlist_add_item(p, "http://a/1|User-Agent=VLC&Referer=http%3A%2F%2Fr", "One", 5000); },
      [](kavlo_playlist *p) { return kavlo_playlist_add_attr(p, "group-title", "News"); },
      [](kavlo_playlist *p) { return kavlo_playlist_add_option(p, "EXTVLCOPT", "http-origin", "http://o"); },
      [](kavlo_playlist *p) { return kavlo_playlist_add_item(p, "http://a/2", "tt2", 1000); },
      [](kavlo_playlist *p) { return kavlo_playlist_add_attr(p, "tvg-id", "two"); },
  };
  const size_t n = std::size(steps);
  auto run = [&](kavlo_playlist *p, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) ASSERT_EQ(steps[i](p), KAVLO_OK) << "step " << i;
  };
  kavlo_playlist *whole = kavlo_playlist_new();
  ASSERT_NE(whole, nullptr);
  run(whole, 0, n);
  const std::string ref = kavlo_playlist_json_full(whole);
  kavlo_playlist_free(whole);
  int failures = 0;
  for (size_t step = 0; step < n; ++step) {
    for (long k = 1;; ++k) {
      ASSERT_LT(k, 1000);
      kavlo_playlist *p = kavlo_playlist_new();
      ASSERT_NE(p, nullptr);
      run(p, 0, step);
      const std::string before = kavlo_playlist_json_full(p);
      const std::vector<size_t> counts_before = counts(p->store);
      forget_blocks();
      arm(k);
      const int rc = steps[step](p);
      disarm();
      const bool failed = g_failed;
      if (failed) {
        ++failures;
        EXPECT_EQ(rc, KAVLO_ERR_NOMEM) << "step " << step << ", allocation " << k;
        EXPECT_EQ(kavlo_playlist_json_full(p), before) << "step " << step << ", allocation " << k;
        EXPECT_EQ(counts(p->store), counts_before) << "step " << step << ", allocation " << k;
        run(p, step, n);
      } else {
        EXPECT_EQ(rc, KAVLO_OK);
        run(p, step + 1, n);
      }
      EXPECT_EQ(kavlo_playlist_json_full(p), ref) << "step " << step << ", allocation " << k;
      kavlo_playlist_free(p);
      EXPECT_EQ(g_live_count, 0u) << "blocks still allocated after kavlo_playlist_free()";
      forget_blocks();
      if (!failed) break;
    }
  }
  EXPECT_GT(failures, 0) << "no allocation of the builder was reached";
}

INSTANTIATE_TEST_SUITE_P(Oom, Oom, ::testing::ValuesIn(inputs()),
                         [](const auto &info) { return std::string(info.param.name); });

// The same sweep through a handle: making it, parsing into it, both
// documents. Every failure ends as a NULL handle or a consistent result,
// and freeing the handle gives back every block.
TEST_P(Oom, EveryAllocationFailureOfAHandleEndsCleanly) {
  const Input &in = GetParam();
  keep_converters_loaded();
  std::string ref_full;
  int ref_rc;
  {
    kt::Playlist p;
    ref_rc = kt::parse_into(p, in.bytes, in.format, in.encoding);
    ref_full = kavlo_playlist_json_full(p);
  }
  long k = 1;
  for (;; ++k) {
    ASSERT_LT(k, 100000) << "the sweep does not end";
    bool reached = false;
    for (int round = 0; round < 2; ++round) {
      arm(k);
      kavlo_playlist *p = kavlo_playlist_new();
      int rc = -1;
      const char *full_text = "";
      if (p != nullptr) {
        rc = kavlo_playlist_parse(p, in.bytes.data(), in.bytes.size(), in.format, in.encoding);
        full_text = kavlo_playlist_json_full(p);
      }
      disarm();
      const std::string full = full_text;
      SCOPED_TRACE("allocation " + std::to_string(k) + " failed, status " + std::to_string(rc));
      if (p != nullptr) {
        const bool converts = in.encoding != nullptr || in.bytes.rfind("\xFF\xFE", 0) == 0 ||
                            in.bytes.rfind(std::string("\0\0\xFE\xFF", 4), 0) == 0;
        EXPECT_TRUE(rc == ref_rc || rc == KAVLO_ERR_NOMEM || (converts && rc == KAVLO_ERR_DECODE));
        if (rc == KAVLO_ERR_NOMEM) { EXPECT_STREQ(kavlo_playlist_last_error(p), ""); }
        if (rc == ref_rc && full != "{}") { EXPECT_EQ(kt::compare_full_with_accessors(p), ""); }
      }
      reached = g_failed;
      kavlo_playlist_free(p);
      if (round == 1) { EXPECT_EQ(g_live_count, 0u) << "blocks still allocated after kavlo_playlist_free()"; }
      forget_blocks();
    }
    if (!reached) break;
  }
  EXPECT_GT(k, 1) << "no allocation was reached";
  kt::Playlist p;
  ASSERT_EQ(kt::parse_into(p, in.bytes, in.format, in.encoding), ref_rc);
  EXPECT_EQ(kavlo_playlist_json_full(p), ref_full);
}

// The export alone under failure: its block cannot be had at first, or
// cannot grow when escapes make the text longer than its first size. Every
// failure gives "{}", and the next export gives the whole document.
TEST(OomExport, EveryFailureOfTheBlockGivesTheEmptyDocument) {
  const std::string row = "Name" + std::string(300, '\x01') + ",http://x/" + std::string(300, '\x1F') + "\n";
  for (const std::string &text : {row, repeat(row, 200)}) {
    ASSERT_EQ(kt::parse(text, KAVLO_FORMAT_STREAMING_LIST), KAVLO_OK);
    const std::string ref = kavlo_result_json();
    ASSERT_GT(ref.size(), text.size() * 5);
    long k = 1;
    for (;; ++k) {
      ASSERT_LT(k, 1000);
      kavlo_clear();
      ASSERT_EQ(kt::parse(text, KAVLO_FORMAT_STREAMING_LIST), KAVLO_OK);
      forget_blocks();
      arm(k);
      const char *text_out = kavlo_result_json();
      disarm();
      const std::string json = text_out;
      if (!g_failed) {
        EXPECT_EQ(json, ref);
        break;
      }
      EXPECT_EQ(json, "{}") << "allocation " << k;
      EXPECT_EQ(kavlo_result_json(), ref) << "after allocation " << k << " failed";
      kavlo_clear();
      EXPECT_EQ(g_live_count, 0u) << "blocks still allocated after kavlo_clear()";
    }
    // The first block was reached, and for the long text a growth too.
    EXPECT_GE(k, text.size() > row.size() ? 3 : 2);
    kavlo_clear();
    forget_blocks();
  }
}

TEST(OomDetect, DetectionUnderFailureAnswersUnknownOrTheFormat) {
  const std::string text = "Name,http://x/\xC4\xE3\n";
  for (long k = 1;; ++k) {
    arm(k);
    const int f = kavlo_detect(text.data(), text.size());
    disarm();
    EXPECT_TRUE(f == KAVLO_FORMAT_STREAMING_LIST || f == KAVLO_FORMAT_UNKNOWN) << k;
    kavlo_clear();
    forget_blocks();
    if (!g_failed) break;
  }
  // Detection without a trace keeps nothing, failed or not.
  keep_converters_loaded();
  for (long k = 1;; ++k) {
    arm(k);
    const int f = kavlo_detect_text(text.data(), text.size(), nullptr);
    disarm();
    EXPECT_TRUE(f == KAVLO_FORMAT_STREAMING_LIST || f == KAVLO_FORMAT_UNKNOWN) << k;
    EXPECT_EQ(g_live_count, 0u) << "blocks kept after allocation " << k << " failed";
    forget_blocks();
    if (!g_failed) break;
  }
}

}  // namespace
