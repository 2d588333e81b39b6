// Diagnostics of a playlist handle (see diagnostics.h).
#include "diagnostics.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kt {

size_t line_count(std::string_view text) {
  size_t lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if (text[i] == '\r' || text[i] == '\n') ++lines;
  }
  if (!text.empty() && text.back() != '\n' && text.back() != '\r') ++lines;
  return lines;
}

void check_diagnostics(const kavlo_playlist *p, size_t lines) {
  const int warnings = kavlo_playlist_warning_count(p);
  const int count = kavlo_playlist_diagnostic_count(p);
  ASSERT_GE(count, warnings);
  int w = 0;
  for (int k = 0; k < count; ++k) {
    const char *message = kavlo_playlist_diagnostic_message(p, k);
    const int64_t line = kavlo_playlist_diagnostic_line(p, k);
    ASSERT_NE(message, nullptr) << k;
    EXPECT_NE(kavlo_playlist_diagnostic_subject(p, k), nullptr) << k;
    if (w < warnings && std::strcmp(message, kavlo_playlist_warning(p, w)) == 0) {
      ++w;
      if (std::strncmp(message, "encoding: ", 10) == 0) {
        EXPECT_EQ(line, 0) << message;
        continue;
      }
    }
    EXPECT_GE(line, 1) << message;
    EXPECT_LE(line, static_cast<int64_t>(lines)) << message;
  }
  EXPECT_EQ(w, warnings) << "a warning without its diagnostic";
  EXPECT_EQ(kavlo_playlist_diagnostic_line(p, count), -1);
  EXPECT_EQ(kavlo_playlist_diagnostic_message(p, -1), nullptr);
  EXPECT_EQ(kavlo_playlist_diagnostic_subject(p, count), nullptr);
}

}  // namespace kt
