// Playlist handles: independent results, the accessors of what only the
// full document showed, the encoding used, detection without a trace, and
// parses on several threads at once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/cases.h"
#include "support/handle_compare.h"
#include "support/kavlo_test.h"

namespace {

using kt::Playlist;

class Handles : public kt::Store {};

TEST_F(Handles, NullHandleAnswersAsNothingAddressed) {
  EXPECT_EQ(kavlo_playlist_parse(nullptr, "#EXTM3U\n", 8, KAVLO_FORMAT_AUTO, nullptr), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_parse_file(nullptr, "/dev/null", nullptr), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_parse_file_as(nullptr, "/dev/null", KAVLO_FORMAT_CUE, nullptr), KAVLO_ERR_INVALID);
  kavlo_playlist_clear(nullptr);
  kavlo_playlist_free(nullptr);
  const kavlo_playlist *p = nullptr;
  const std::vector<std::pair<const char *, long long>> numbers = {
      {"item_count", kavlo_playlist_item_count(p)},
      {"duration", kavlo_playlist_item_duration_ms(p, 0)},
      {"attr_count", kavlo_playlist_item_attr_count(p, 0)},
      {"track_count", kavlo_playlist_cue_track_count(p)},
      {"warning_count", kavlo_playlist_warning_count(p)},
      {"detected_format", kavlo_playlist_detected_format(p)},
      {"line", kavlo_playlist_item_line(p, 0)},
      {"option_count", kavlo_playlist_item_option_count(p, 0)},
      {"header_count", kavlo_playlist_item_header_count(p, 0)},
      {"header_attr_count", kavlo_playlist_header_attr_count(p)},
      {"rem_count", kavlo_playlist_cue_rem_count(p)},
  };
  for (const auto &[what, value] : numbers) EXPECT_EQ(value, 0) << what;
  EXPECT_EQ(kavlo_playlist_cue_track_number(p, 0), -1);
  EXPECT_EQ(kavlo_playlist_cue_track_index_frames(p, 0, 0), -1);
  EXPECT_EQ(kavlo_playlist_cue_track_pregap(p, 0), -1);
  EXPECT_EQ(kavlo_playlist_item_location(p, 0), nullptr);
  EXPECT_EQ(kavlo_playlist_encoding(p), nullptr);
  EXPECT_STREQ(kavlo_playlist_last_error(p), "");
  EXPECT_STREQ(kavlo_playlist_json(nullptr), "{}");
  EXPECT_STREQ(kavlo_playlist_json_full(nullptr), "{}");
}

TEST_F(Handles, ResultsAreIndependentOfEachOtherAndOfTheProcessWideOne) {
  Playlist a, b;
  ASSERT_EQ(kt::parse_into(a, "#EXTM3U\n#EXTINF:5,One\nhttp://x/1\n"), KAVLO_OK);
  const char *title = kavlo_playlist_item_title(a, 0);
  ASSERT_EQ(kt::parse_into(b, "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"), KAVLO_OK);
  ASSERT_EQ(kt::parse("http://radio/a\n"), KAVLO_OK);
  EXPECT_STREQ(title, "One") << "a string of one handle outlives parses elsewhere";
  EXPECT_EQ(kavlo_playlist_detected_format(a), KAVLO_FORMAT_M3U);
  EXPECT_EQ(kavlo_playlist_detected_format(b), KAVLO_FORMAT_CUE);
  EXPECT_EQ(kavlo_detected_format(), KAVLO_FORMAT_STREAMING_LIST);
  kavlo_playlist_clear(a);
  EXPECT_EQ(kavlo_playlist_item_count(a), 0);
  EXPECT_EQ(kavlo_playlist_cue_track_count(b), 1);
  EXPECT_EQ(kavlo_item_count(), 1);
}

TEST_F(Handles, FailedFileReadKeepsThePreviousResult) {
  Playlist p;
  ASSERT_EQ(kt::parse_into(p, "#EXTM3U\nhttp://x/1\n"), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_parse_file(p, "/nonexistent/list.m3u", nullptr), KAVLO_ERR_IO);
  EXPECT_STREQ(kavlo_playlist_last_error(p), "io: No such file or directory");
  EXPECT_EQ(kavlo_playlist_item_count(p), 1);
  EXPECT_EQ(kavlo_playlist_parse_file(p, "/", nullptr), KAVLO_ERR_IO);
  EXPECT_STREQ(kavlo_playlist_last_error(p), "io: Is a directory");
}

TEST_F(Handles, FileAsTakesTheFormatAndStreamsAreReadToTheirEnd) {
  const std::string path = kt::temp_file("lower.cue", "file \"a.wav\" wave\ntrack 01 audio\nindex 01 00:00:00\n");
  Playlist p;
  EXPECT_EQ(kavlo_playlist_parse_file(p, path.c_str(), nullptr), KAVLO_ERR_FORMAT);
  EXPECT_EQ(kavlo_playlist_parse_file_as(p, path.c_str(), KAVLO_FORMAT_CUE, nullptr), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_cue_track_count(p), 1);

  // A pipe is read as a stream by the handle and refused by the
  // process-wide entry point, which seeks.
  for (const bool handle : {true, false}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string text = "#EXTM3U\n";
    for (int i = 0; i < 20000; ++i) text += "http://x/" + std::to_string(i) + "\n";  // beyond a pipe's buffer
    std::thread writer([&] {
      size_t done = 0;
      while (done < text.size()) {
        const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      ::close(fds[1]);
    });
    const std::string fd_path = "/proc/self/fd/" + std::to_string(fds[0]);
    if (handle) {
      EXPECT_EQ(kavlo_playlist_parse_file(p, fd_path.c_str(), nullptr), KAVLO_OK);
      EXPECT_EQ(kavlo_playlist_item_count(p), 20000);
    } else {
      EXPECT_EQ(kavlo_parse_file(fd_path.c_str()), KAVLO_ERR_IO);
      EXPECT_STREQ(kavlo_last_error(), "seek");
      char sink[4096];
      while (::read(fds[0], sink, sizeof sink) > 0) {
      }
    }
    writer.join();
    ::close(fds[0]);
  }
}

TEST_F(Handles, AFifoWaitsForItsWriter) {
  const std::string path = kt::temp_file("fifo-dir-marker", "") + ".fifo";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // opens after the reader
    const int fd = ::open(path.c_str(), O_WRONLY);
    const std::string text = "#EXTM3U\nhttp://x/1\n";
    if (fd >= 0) {
      (void)!::write(fd, text.data(), text.size());
      ::close(fd);
    }
  });
  Playlist p;
  EXPECT_EQ(kavlo_playlist_parse_file(p, path.c_str(), nullptr), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_item_count(p), 1);
  writer.join();
  ::unlink(path.c_str());
}

TEST_F(Handles, EncodingNamesWhatTheTextWasDecodedFrom) {
  const struct {
    std::string bytes;
    const char *encoding;
    const char *used;
  } rows[] = {
      {"http://x/caf\xC3\xA9\n", nullptr, "UTF-8"},
      {"", nullptr, "UTF-8"},
      {"\xEF\xBB\xBFhttp://x/\n", nullptr, "UTF-8"},
      {std::string("\xFF\xFEh\0t\0t\0p\0:\0/\0/\0x\0", 18), nullptr, "UTF-16LE"},
      {std::string("\xFE\xFF\0h\0t\0t\0p\0:\0/\0/\0x", 18), nullptr, "UTF-16BE"},
      {"http://x/\xD6\xD0\xCE\xC4\n", nullptr, "GBK"},
      {"http://x/caf\xE9\n", nullptr, "CP1252"},
      {"http://x/caf\xE9\n", "utf-8", "CP1252"},
      {"http://x/\xD6\xD0\n", "gb2312", "GBK"},
      {"http://x/\xE6\n", "koi8-r", "koi8-r"},
      {"http://x/\xE6\n", "", "CP1252"},
  };
  for (const auto &r : rows) {
    Playlist p;
    ASSERT_EQ(kt::parse_into(p, r.bytes, KAVLO_FORMAT_STREAMING_LIST, r.encoding), KAVLO_OK) << r.used;
    EXPECT_STREQ(kavlo_playlist_encoding(p), r.used) << r.bytes;
  }
  Playlist p;
  EXPECT_EQ(kavlo_playlist_encoding(p), nullptr) << "before any parse";
  EXPECT_EQ(kt::parse_into(p, "\xFF\xFE\x41", KAVLO_FORMAT_AUTO, nullptr), KAVLO_ERR_DECODE);
  EXPECT_EQ(kavlo_playlist_encoding(p), nullptr) << "after a failed decoding";
  ASSERT_EQ(kt::parse_into(p, "http://x/\n"), KAVLO_OK);
  kavlo_playlist_clear(p);
  EXPECT_EQ(kavlo_playlist_encoding(p), nullptr) << "after a clear";
}

TEST_F(Handles, AutoNeverFailsWhereNoNameWouldNot) {
  // The process-wide functions take "auto" as a converter name like any
  // other; a handle guesses, and falls back to its own decoding.
  const std::string text = "http://x/caf\xE9\n";
  EXPECT_EQ(kt::parse(text, KAVLO_FORMAT_AUTO, "auto"), KAVLO_ERR_DECODE);
  for (const char *name : {"auto", "AUTO", "Auto"}) {
    Playlist p;
    EXPECT_EQ(kt::parse_into(p, text, KAVLO_FORMAT_AUTO, name), KAVLO_OK) << name;
    EXPECT_STREQ(kavlo_playlist_last_error(p), "");
    EXPECT_NE(kavlo_playlist_encoding(p), nullptr);
  }
}

// Descriptors a host opened: what is left of a regular file from its
// position, or a stream to its end; the descriptor stays open and where
// the read left it. Detection reads the same way and parses nothing.
TEST_F(Handles, DescriptorsAndDetectionFromFiles) {
  const std::string text = "junk\n#EXTM3U\n#EXTINF:5,A\nhttp://x/a\n";
  const std::string path = kt::temp_file("offset.m3u", text);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  Playlist p;
  ASSERT_EQ(::lseek(fd, 5, SEEK_SET), 5);
  EXPECT_EQ(kavlo_playlist_parse_fd(p, fd, KAVLO_FORMAT_AUTO, nullptr), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_item_count(p), 1);
  EXPECT_EQ(kavlo_playlist_input_size(p), text.size() - 5);
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), static_cast<off_t>(text.size())) << "the descriptor was not read to its end";
  ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
  EXPECT_EQ(kavlo_playlist_parse_fd(p, fd, KAVLO_FORMAT_M3U, nullptr), KAVLO_ERR_FORMAT) << "junk first";
  ::close(fd);

  // A pipe, and descriptors that cannot be read (the previous result stays).
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string sheet = "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
  ASSERT_EQ(::write(fds[1], sheet.data(), sheet.size()), static_cast<ssize_t>(sheet.size()));
  ::close(fds[1]);
  EXPECT_EQ(kavlo_playlist_parse_fd(p, fds[0], KAVLO_FORMAT_AUTO, "auto"), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_cue_track_count(p), 1);
  ::close(fds[0]);
  const int dir = ::open("/", O_RDONLY | O_CLOEXEC);
  for (const int bad : {-1, fds[0], dir}) {
    EXPECT_EQ(kavlo_playlist_parse_fd(p, bad, KAVLO_FORMAT_AUTO, nullptr), KAVLO_ERR_IO) << bad;
    EXPECT_EQ(kavlo_playlist_cue_track_count(p), 1) << bad;
  }
  EXPECT_STREQ(kavlo_playlist_last_error(p), "io: Is a directory");
  ::close(dir);

  // Detection: the format as kavlo_detect_text() answers it, no items, the
  // decoding's warnings; a failed read is a status.
  const struct {
    const char *name;
    std::string bytes;
    int status;
    int format;
  } rows[] = {
      {"latin.txt", "caf\xE9,http://x/\n", KAVLO_OK, KAVLO_FORMAT_STREAMING_LIST},
      {"hls.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n", KAVLO_OK, KAVLO_FORMAT_M3U8_HLS},
      {"empty.m3u", "", KAVLO_OK, KAVLO_FORMAT_UNKNOWN},
      {"odd.txt", "\xFF\xFE\x41", KAVLO_ERR_DECODE, KAVLO_FORMAT_UNKNOWN},
      {"list.m3u", text.substr(5), KAVLO_OK, KAVLO_FORMAT_M3U},
  };
  for (const auto &r : rows) {
    const std::string file = kt::temp_file(r.name, r.bytes);
    EXPECT_EQ(kavlo_playlist_detect_file(p, file.c_str(), nullptr), r.status) << r.name;
    EXPECT_EQ(kavlo_playlist_detected_format(p), r.format) << r.name;
    EXPECT_EQ(kavlo_playlist_detected_format(p), kavlo_detect_text(r.bytes.data(), r.bytes.size(), nullptr)) << r.name;
    EXPECT_EQ(kavlo_playlist_item_count(p), 0) << r.name;
    EXPECT_EQ(kavlo_playlist_input_size(p), r.bytes.size()) << r.name;
  }
  const std::string latin = kt::temp_file("latin.txt", "caf\xE9,http://x/\n");
  ASSERT_EQ(kavlo_playlist_detect_file(p, latin.c_str(), nullptr), KAVLO_OK);
  EXPECT_GT(kavlo_playlist_warning_count(p), 0) << "the decoding's fallback warns";
  EXPECT_EQ(kavlo_playlist_detect_file(p, "/nonexistent", nullptr), KAVLO_ERR_IO);
  EXPECT_EQ(kavlo_playlist_detect_file(p, nullptr, nullptr), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_detect_fd(nullptr, 0, nullptr), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_input_size(nullptr), 0u);
}

TEST_F(Handles, DetectionLeavesNoTrace) {
  ASSERT_EQ(kt::parse("#EXTM3U\nhttp://x/1\n"), KAVLO_OK);
  const std::string before = kt::json();
  const struct {
    std::string bytes;
    const char *encoding;
    int format;
  } rows[] = {
      {"caf\xE9,http://x/", nullptr, KAVLO_FORMAT_STREAMING_LIST},
      {"\xFF\xFE\x41", nullptr, KAVLO_FORMAT_UNKNOWN},
      {"#EXTM3U\n#EXT-X-TARGETDURATION:10\n", nullptr, KAVLO_FORMAT_M3U8_HLS},
      {"FILE \"a\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "auto", KAVLO_FORMAT_CUE},
      {"#EXTM3U\n", "bogus-encoding", KAVLO_FORMAT_UNKNOWN},
      {"", nullptr, KAVLO_FORMAT_UNKNOWN},
  };
  for (const auto &r : rows) {
    EXPECT_EQ(kavlo_detect_text(r.bytes.data(), r.bytes.size(), r.encoding), r.format) << r.bytes;
    EXPECT_EQ(kt::json(), before);
    EXPECT_STREQ(kavlo_last_error(), "");
  }
  EXPECT_EQ(kavlo_detect_text(nullptr, 4, nullptr), KAVLO_FORMAT_UNKNOWN);
}

TEST_F(Handles, AccessorsOfWhatOnlyTheFullDocumentShowed) {
  Playlist p;
  ASSERT_EQ(kt::parse_into(p, "#EXTM3U x-tvg-url=\"http://epg/\" Url-Tvg=e2\n"
                              "#EXTVLCOPT:http-referrer=http://ref/\n"
                              "#EXTINF:-1 tvg-id=a TVG-ID=b,One\n"
                              "http://s/1|User-Agent=UA&Referer=R&User-Agent=dup\n"
                              "#KODIPROP:inputstream=x\n"
                              "#EXTINF:5,Two\n"
                              "|Key=V\n"),
            KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_header_attr_count(p), 2);
  EXPECT_STREQ(kavlo_playlist_header_attr(p, "url-tvg"), "e2");
  EXPECT_STREQ(kavlo_playlist_header_attr_key(p, 0), "x-tvg-url");
  EXPECT_EQ(kavlo_playlist_header_attr_value(p, 2), nullptr);
  EXPECT_STREQ(kavlo_playlist_item_attr_value(p, 0, 1), "b") << "the later key, reachable by position";
  EXPECT_STREQ(kavlo_playlist_item_attr(p, 0, "tvg-id"), "a");
  EXPECT_EQ(kavlo_playlist_item_line(p, 0), 4);
  EXPECT_EQ(kavlo_playlist_item_line(p, 1), 7);
  EXPECT_EQ(kavlo_playlist_item_line(p, 2), 0);
  ASSERT_EQ(kavlo_playlist_item_option_count(p, 0), 1);
  EXPECT_STREQ(kavlo_playlist_item_option_tag(p, 0, 0), "EXTVLCOPT");
  EXPECT_STREQ(kavlo_playlist_item_option_value(p, 0, 0), "http://ref/");
  EXPECT_EQ(kavlo_playlist_item_option_key(p, 0, 1), nullptr);
  EXPECT_STREQ(kavlo_playlist_item_option_key(p, 1, 0), "inputstream");
  EXPECT_STREQ(kavlo_playlist_item_url(p, 0), "http://s/1");
  ASSERT_EQ(kavlo_playlist_item_header_count(p, 0), 2);
  EXPECT_STREQ(kavlo_playlist_item_header_value(p, 0, 0), "UA") << "the first value of a key wins";
  EXPECT_STREQ(kavlo_playlist_item_header_key(p, 0, 1), "Referer");
  EXPECT_EQ(kavlo_playlist_item_url(p, 1), nullptr) << "an empty URL part";
  EXPECT_EQ(kavlo_playlist_item_header_count(p, 1), 1);
  EXPECT_EQ(kavlo_playlist_item_header_key(p, 1, -1), nullptr);

  ASSERT_EQ(kt::parse_into(p, "News,#genre#\nA,http://a/\nB,http://b/\n,#genre#\nC,http://c/\n"), KAVLO_OK);
  EXPECT_STREQ(kavlo_playlist_item_group(p, 0), "News");
  EXPECT_STREQ(kavlo_playlist_item_group(p, 1), "News");
  EXPECT_EQ(kavlo_playlist_item_group(p, 2), nullptr) << "an empty group name";
  EXPECT_EQ(kavlo_playlist_item_group(p, 3), nullptr);

  ASSERT_EQ(kt::parse_into(p, "REM DATE 1999\nFILE \"a.wav\" WAVE\n"
                              "  TRACK 03 AUDIO\n    REM A 1\n    PREGAP 00:00:10\n    INDEX 01 00:00:00\n"
                              "  TRACK 04 AUDIO\n    INDEX 01 00:01:00\n"
                              "  TRACK 05 AUDIO\n    POSTGAP 00:00:01\n    REM B \"two\"\n    REM C\n"),
            KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_cue_rem_count(p), 1);
  EXPECT_STREQ(kavlo_playlist_cue_rem_value(p, 0), "1999");
  EXPECT_EQ(kavlo_playlist_cue_track_number(p, 0), 3);
  EXPECT_EQ(kavlo_playlist_cue_track_number(p, 3), -1);
  EXPECT_EQ(kavlo_playlist_cue_track_pregap(p, 0), 10);
  EXPECT_EQ(kavlo_playlist_cue_track_postgap(p, 0), -1);
  EXPECT_EQ(kavlo_playlist_cue_track_pregap(p, 1), -1);
  EXPECT_EQ(kavlo_playlist_cue_track_postgap(p, 2), 1);
  const std::vector<std::vector<std::pair<std::string, std::string>>> rems = {{{"A", "1"}}, {}, {{"B", "two"}, {"C", ""}}};
  for (int t = 0; t < 3; ++t) {
    ASSERT_EQ(kavlo_playlist_cue_track_rem_count(p, t), static_cast<int>(rems[t].size())) << t;
    for (int r = 0; r < static_cast<int>(rems[t].size()); ++r) {
      EXPECT_EQ(kavlo_playlist_cue_track_rem_key(p, t, r), rems[t][r].first);
      EXPECT_EQ(kavlo_playlist_cue_track_rem_value(p, t, r), rems[t][r].second);
    }
    EXPECT_EQ(kavlo_playlist_cue_track_rem_key(p, t, static_cast<int>(rems[t].size())), nullptr);
  }
  EXPECT_EQ(kt::compare_full_with_accessors(p), "");
}

// What the accessors give of item `i`'s records kept apart from it
// (options, #EXTGRP: groups, tag-line headers, the location's parts).
std::string records_of_item(const kavlo_playlist *p, int i) {
  std::string out;
  auto put = [&](const char *s) { out += s ? s : "(null)", out += '|'; };
  for (int o = 0; o < kavlo_playlist_item_option_count(p, i); ++o)
    put(kavlo_playlist_item_option_tag(p, i, o)), put(kavlo_playlist_item_option_value(p, i, o));
  for (int g = 0; g < kavlo_playlist_item_group_count(p, i); ++g) put(kavlo_playlist_item_group_at(p, i, g));
  for (int h = 0; h < kavlo_playlist_item_http_count(p, i); ++h)
    put(kavlo_playlist_item_http_key(p, i, h)), put(kavlo_playlist_item_http_value(p, i, h));
  put(kavlo_playlist_item_url(p, i));
  for (int h = 0; h < kavlo_playlist_item_header_count(p, i); ++h) put(kavlo_playlist_item_header_value(p, i, h));
  put(kavlo_playlist_item_label(p, i));
  return out;
}

// An M3U list whose items have from none to several options, groups and
// location headers, `salt` in every value.
std::string varied_list(int items, const std::string &salt) {
  std::string text = "#EXTM3U\n";
  for (int i = 0; i < items; ++i) {
    const std::string n = std::to_string(i) + salt;
    text += "#EXTINF:-1,T" + n + "\n";
    for (int o = 0; o < i % 4; ++o) text += "#EXTVLCOPT:http-referrer=r" + std::to_string(o) + n + "\n";
    if (i % 3 == 1) text += "#EXTGRP:G" + n + ";H\n";
    text += "http://s/" + n + (i % 5 == 2 ? "|User-Agent=U" + n + "&X=1" : "") + "\n";
  }
  return text;
}

// The accessors remember the last item they found on each thread: any order
// of asking, several handles in turn and a parse into the same handle must
// give what a walk in item order gave.
TEST_F(Handles, RecordsOfItemsInAnyOrderAsInAWalkInOrder) {
  constexpr int n = 300;
  Playlist a, b;
  ASSERT_EQ(kt::parse_into(a, varied_list(n, "a")), KAVLO_OK);
  ASSERT_EQ(kt::parse_into(b, varied_list(n, "b")), KAVLO_OK);
  std::vector<std::string> in_order_a, in_order_b;
  for (int i = 0; i < n; ++i) in_order_a.push_back(records_of_item(a, i));
  for (int i = 0; i < n; ++i) in_order_b.push_back(records_of_item(b, i));
  EXPECT_EQ(in_order_a[7], "EXTVLCOPT|r07a|EXTVLCOPT|r17a|EXTVLCOPT|r27a|G7a|H|user-agent|U7a|x|1|referer|r27a|"
                           "http://s/7a|U7a|1|(null)|");
  EXPECT_EQ(in_order_a[0], "(null)|(null)|") << "no records";
  for (int i = n - 1; i >= 0; --i) ASSERT_EQ(records_of_item(a, i), in_order_a[i]) << "backwards, item " << i;
  for (int step : {7, 2, 61})
    for (int k = 0, i = 0; k < n; ++k, i = (i + step) % n) {
      ASSERT_EQ(records_of_item(a, i), in_order_a[i]) << "step " << step << ", item " << i;
      ASSERT_EQ(records_of_item(b, i), in_order_b[i]) << "step " << step << ", item " << i;
    }
  // The same counts after a new parse into `a`, other strings.
  ASSERT_EQ(records_of_item(a, n - 2), in_order_a[n - 2]);
  ASSERT_EQ(kt::parse_into(a, varied_list(n, "c")), KAVLO_OK);
  Playlist c;
  ASSERT_EQ(kt::parse_into(c, varied_list(n, "c")), KAVLO_OK);
  for (int i = n - 2; i < n; ++i) EXPECT_EQ(records_of_item(a, i), records_of_item(c, i)) << i;
  EXPECT_EQ(kavlo_playlist_item_option_count(a, n), 0) << "past the last item";
  EXPECT_EQ(kavlo_playlist_item_option_count(a, -1), 0);
}

// Several threads, each with its own handle, parse the case inputs in
// different orders and must find what one thread alone found.
TEST_F(Handles, ThreadsWithTheirOwnHandlesGiveTheSequentialResults) {
  const std::vector<kt::Case> cases = kt::load_cases();
  ASSERT_FALSE(cases.empty());
  std::vector<std::string> expected;
  {
    Playlist p;
    for (const kt::Case &c : cases) {
      kt::parse_into(p, c.input, c.format, c.has_encoding ? c.encoding.c_str() : nullptr);
      expected.push_back(kavlo_playlist_json_full(p));
    }
  }
  constexpr int threads = 4, rounds = 3;
  std::vector<int> mismatches(threads, 0);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&, t] {
      Playlist p;
      for (int r = 0; r < rounds; ++r)
        for (size_t k = 0; k < cases.size(); ++k) {
          const size_t i = (k * static_cast<size_t>(2 * t + 1) + static_cast<size_t>(r)) % cases.size();
          const kt::Case &c = cases[i];
          kt::parse_into(p, c.input, c.format, c.has_encoding ? c.encoding.c_str() : nullptr);
          if (expected[i] != kavlo_playlist_json_full(p)) ++mismatches[t];
        }
    });
  for (auto &th : pool) th.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// Large texts take the engine's mapped blocks, which it keeps during a parse
// to hand them out again; threads parsing large texts at once must not
// trade them.
TEST_F(Handles, ThreadsParsingLargeTextsAtOnce) {
  std::string m3u = "#EXTM3U\n", cue = "FILE \"a.wav\" WAVE\n";
  for (int i = 0; i < 60000; ++i) {
    m3u += "#EXTINF:1 tvg-id=\"" + std::to_string(i) + "\",T\nhttp://x/" + std::to_string(i) + "|a=b\n";
    cue += "TRACK 01 AUDIO\nTITLE \"t" + std::to_string(i) + "\"\nINDEX 01 00:00:00\n";
  }
  std::string expected[2];
  {
    Playlist p;
    kt::parse_into(p, m3u);
    expected[0] = kavlo_playlist_json_full(p);
    kt::parse_into(p, cue);
    expected[1] = kavlo_playlist_json_full(p);
  }
  ASSERT_GT(expected[0].size(), size_t{4} << 20);
  int bad[2] = {0, 0};
  std::vector<std::thread> pool;
  for (int t = 0; t < 2; ++t)
    pool.emplace_back([&, t] {
      Playlist p;
      for (int r = 0; r < 6; ++r) {
        const int which = (r + t) % 2;
        kt::parse_into(p, which == 0 ? m3u : cue);
        if (kavlo_playlist_json_full(p) != expected[which]) ++bad[t];
      }
    });
  for (auto &th : pool) th.join();
  EXPECT_EQ(bad[0] + bad[1], 0);
}

}  // namespace
