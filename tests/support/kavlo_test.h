// Helpers shared by the tests that drive the library as a host does.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "kavlo.h"

namespace kt {

// Parses an exact-size heap copy of `bytes`, with no NUL after it, so that
// a read past the end shows up under the sanitizers.
int parse(std::string_view bytes, int format = KAVLO_FORMAT_AUTO, const char *encoding = nullptr);

// The same into a playlist handle.
int parse_into(kavlo_playlist *p, std::string_view bytes, int format = KAVLO_FORMAT_AUTO,
               const char *encoding = nullptr);

// A handle that frees itself.
struct Playlist {
  kavlo_playlist *p = kavlo_playlist_new();
  Playlist() = default;
  Playlist(const Playlist &) = delete;
  Playlist &operator=(const Playlist &) = delete;
  ~Playlist() { kavlo_playlist_free(p); }
  operator kavlo_playlist *() const { return p; }
};

// Detects the format of an exact-size heap copy.
int detect(std::string_view bytes);

std::vector<std::string> warnings();
std::string json();

// Writes `bytes` to a fresh file in the test's temporary directory.
std::string temp_file(std::string_view name, std::string_view bytes);

// Every test starts and ends with an empty store.
class Store : public ::testing::Test {
 protected:
  void SetUp() override { kavlo_clear(); }
  void TearDown() override { kavlo_clear(); }
};

}  // namespace kt
