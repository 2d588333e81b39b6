/* kavlo_auto.h compiled as C99 and used by a C host, with uchardet. */
#define KAVLO_AUTO_UCHARDET
#include <stdio.h>
#include <string.h>

#include "kavlo_auto.h"

int main(void) {
  /* Russian station names in KOI8-R; the library alone would read GBK. */
  static const char text[] = "\xf2\xc1\xc4\xc9\xcf \xed\xc1\xd1\xcb,http://a/1\n"
                             "\xee\xc1\xdb\xc5 \xd2\xc1\xc4\xc9\xcf,http://a/2\n";
  char used[KAVLO_AUTO_NAME_SIZE];
  int failures = 0;
  if (kavlo_auto_parse(text, sizeof text - 1, KAVLO_FORMAT_AUTO, used) != KAVLO_OK) ++failures;
  if (strcmp(used, "KOI8-R") != 0) ++failures;
  if (kavlo_item_count() != 2) ++failures;
  if (kavlo_item_count() > 0 && strcmp(kavlo_item_title(0), "\xd0\xa0\xd0\xb0\xd0\xb4\xd0\xb8\xd0\xbe "
                                                      "\xd0\x9c\xd0\xb0\xd1\x8f\xd0\xba") != 0)
    ++failures;
  if (kavlo_warning_count() != 0) ++failures;
  {
    /* The UTF-32 marks: text the library reads unnamed, under its name. */
    static const char le[] = "\xff\xfe\0\0h\0\0\0t\0\0\0t\0\0\0p\0\0\0:\0\0\0/\0\0\0/\0\0\0a\0\0\0";
    static const char be[] = "\0\0\xfe\xff\0\0\0h\0\0\0t\0\0\0t\0\0\0p\0\0\0:\0\0\0/\0\0\0/\0\0\0a";
    char mark_used[KAVLO_AUTO_NAME_SIZE];
    if (kavlo_auto_parse(le, sizeof le - 1, KAVLO_FORMAT_STREAMING_LIST, mark_used) != KAVLO_OK) ++failures;
    if (strcmp(mark_used, "UTF-32LE") != 0 || kavlo_item_count() != 1) ++failures;
    if (!kavlo_auto_is_unnamed(be, sizeof be - 1)) ++failures;
    if (kavlo_auto_parse(be, sizeof be - 1, KAVLO_FORMAT_STREAMING_LIST, mark_used) != KAVLO_OK) ++failures;
    if (strcmp(mark_used, "UTF-32BE") != 0 || kavlo_item_count() != 1) ++failures;
  }
  if (failures != 0) fprintf(stderr, "%d checks failed (encoding %s)\n", failures, used);
  return failures != 0;
}
