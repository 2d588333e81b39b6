/* The public header compiled as C99 and called from a C host. */
#include <stdio.h>
#include <string.h>

#include "kavlo.h"

int main(void) {
  static const char text[] = "#EXTM3U\n#EXTINF:5 group-title=\"News\",One\nhttp://example.com/1\n";
  int failures = 0;
  if (kavlo_parse(text, sizeof text - 1, KAVLO_FORMAT_AUTO) != KAVLO_OK) ++failures;
  if (kavlo_item_count() != 1) ++failures;
  if (strcmp(kavlo_item_attr(0, "GROUP-TITLE"), "News") != 0) ++failures;
  if (kavlo_cue_track_index_frames(0, 0) != (int64_t)-1) ++failures;
  if (strcmp(kavlo_format_name(kavlo_detected_format()), "m3u") != 0) ++failures;
  {
    /* The header's version is the library's, its numbers the string's. */
    char composed[32];
    snprintf(composed, sizeof composed, "%d.%d.%d", KAVLO_VERSION_MAJOR, KAVLO_VERSION_MINOR,
             KAVLO_VERSION_PATCH);
    if (strcmp(composed, KAVLO_VERSION_STRING) != 0) ++failures;
    if (strcmp(kavlo_version(), KAVLO_VERSION_STRING) != 0) ++failures;
  }
#if !defined(KAVLO_VERSION_MAJOR) || KAVLO_VERSION_MAJOR < 0 || KAVLO_VERSION_MINOR < 0
#error "the version macros are usable in #if"
#endif
  if (strstr(kavlo_result_json_full(), "\"line\":3") == NULL) ++failures;
  kavlo_clear();
  if (kavlo_item_count() != 0) ++failures;
  if (failures != 0) fprintf(stderr, "%d checks failed\n", failures);
  return failures != 0;
}
