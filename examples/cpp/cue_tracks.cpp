// Prints the tracks of a CUE sheet with their start times.
#include <cstdio>

#include <kavlo.hpp>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  const kavlo::Result r = kavlo::parse_file(argv[1]);
  if (!r.ok()) {
    std::fprintf(stderr, "%s: %s\n", argv[1], r.error.c_str());
    return r.status;
  }
  std::printf("%s - %s\n", r.cue.performer.value_or("?").c_str(), r.cue.title.value_or("?").c_str());
  for (const kavlo::Track &t : r.tracks) {
    const int start_ms = t.indices.empty() ? 0 : t.indices.back().ms;
    std::printf("%02d %s (%s at %d:%02d)\n", t.number, t.title.value_or("").c_str(),
                t.file.value_or("").c_str(), start_ms / 60000, start_ms / 1000 % 60);
  }
  return 0;
}
