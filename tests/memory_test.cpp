// Memory handed back: the resident size of the process returns to its level
// after large results are replaced by small ones, and stays there over
// repeated exports and detections. Each test runs in a process of its own;
// free heap memory is returned to the system before every reading, so that
// only what the library still holds counts.
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "support/kavlo_test.h"

namespace {

size_t resident_bytes() {
  ::malloc_trim(0);
  FILE *f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long size = 0, resident = 0;
  const int n = std::fscanf(f, "%lu %lu", &size, &resident);
  std::fclose(f);
  return n == 2 ? resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

constexpr size_t MiB = size_t{1} << 20;

// What the library and the C allocator may keep between calls without
// holding on to a result no longer served; each leak below costs more.
constexpr size_t slack = 8 * MiB;

// An M3U text of `n` entries with attributes; 400 000 of them give items,
// attributes, stored strings and a JSON document of tens of MB, 20 000 keep
// their blocks on the heap.
std::string big_m3u(int n) {
  std::string text = "#EXTM3U\n";
  text.reserve(static_cast<size_t>(n) * 80);
  for (int i = 0; i < n; ++i)
    text += "#EXTINF:10 tvg-id=\"c" + std::to_string(i) + "\" group-title=\"G\",Channel " +
            std::to_string(i) + "\nhttp://stream.example/live/" + std::to_string(i) + ".ts\n";
  return text;
}

// Text that needs converting: UTF-16 with its mark.
std::string big_utf16(size_t bytes) {
  std::string text = "\xFF\xFE";
  while (text.size() < bytes) {
    for (char c : std::string("http://x/a\n")) {
      text += c;
      text += '\0';
    }
  }
  return text;
}

using Memory = kt::Store;

TEST_F(Memory, LargeResultsReplacedBySmallOnesAreHandedBack) {
  const std::string big = big_m3u(400000), medium = big_m3u(20000);
  const std::string small = "#EXTM3U\n#EXTINF:1,a\n/a\n";
  ASSERT_EQ(kt::parse(small), KAVLO_OK);
  ASSERT_NE(kt::json(), "{}");
  const size_t base = resident_bytes();
  ASSERT_GT(base, 0u);
  for (int round = 0; round < 4; ++round) {
    ASSERT_EQ(kt::parse(big), KAVLO_OK);
    ASSERT_EQ(kavlo_item_count(), 400000);
    const size_t doc = std::string(kavlo_result_json()).size();
    ASSERT_GT(doc, 40 * MiB);
    ASSERT_EQ(kt::parse(medium), KAVLO_OK);
    ASSERT_NE(kt::json(), "{}");
    ASSERT_EQ(kt::parse(small), KAVLO_OK);
    ASSERT_NE(kt::json(), "{}");
    EXPECT_LT(resident_bytes(), base + slack) << "round " << round;
  }
}

TEST_F(Memory, RepeatedExportsAndDetectionsDoNotGrow) {
  ASSERT_EQ(kt::parse(big_m3u(100000)), KAVLO_OK);
  const size_t doc = std::string(kavlo_result_json()).size();
  ASSERT_GT(doc, 10 * MiB);
  const std::string utf16 = big_utf16(16 * MiB);
  ASSERT_EQ(kt::detect(utf16), KAVLO_FORMAT_STREAMING_LIST);
  const size_t base = resident_bytes();
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(std::string(kavlo_result_json()).size(), doc);
    ASSERT_EQ(kt::detect(utf16), KAVLO_FORMAT_STREAMING_LIST);
  }
  EXPECT_LT(resident_bytes(), base + slack);
  // A parse after it all gives back what the detections and the export held.
  ASSERT_EQ(kt::parse("#EXTM3U\n/a\n"), KAVLO_OK);
  EXPECT_LT(resident_bytes(), base + slack);
}

// A handle that parsed a 64 MB list and exported both documents gives all
// of it back when freed, on this thread and on another.
TEST_F(Memory, AFreedHandleGivesBackItsMemory) {
  std::string big = big_m3u(800000);
  ASSERT_GT(big.size(), 64 * MiB);
  const size_t base = resident_bytes();
  for (const bool other_thread : {false, true}) {
    auto run = [&] {
      kavlo_playlist *p = kavlo_playlist_new();
      ASSERT_EQ(kt::parse_into(p, big), KAVLO_OK);
      ASSERT_EQ(kavlo_playlist_item_count(p), 800000);
      ASSERT_GT(std::strlen(kavlo_playlist_json(p)), 64 * MiB);
      ASSERT_GT(std::strlen(kavlo_playlist_json_full(p)), 64 * MiB);
      kavlo_playlist_free(p);
    };
    if (other_thread) {
      std::thread t(run);
      t.join();
    } else {
      run();
    }
    const size_t after = resident_bytes();
    EXPECT_LT(after, base + base / 20) << (other_thread ? "another thread" : "this thread") << ": " << after / MiB
                                       << " MiB against " << base / MiB << " MiB";
  }
}

}  // namespace
