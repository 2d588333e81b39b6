/* Lists the entries of a playlist: location, title and group. */
#include <stdio.h>

#include <kavlo.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s PLAYLIST\n", argv[0]);
    return 2;
  }
  int rc = kavlo_parse_file(argv[1]);
  if (rc != KAVLO_OK) {
    fprintf(stderr, "%s: %s\n", argv[1], kavlo_last_error());
    return rc;
  }
  printf("%s, %d items\n", kavlo_format_name(kavlo_detected_format()), kavlo_item_count());
  for (int i = 0; i < kavlo_item_count(); ++i) {
    const char *group = kavlo_item_attr(i, "group-title");
    printf("%s\t%s\t%s\n", kavlo_item_location(i), kavlo_item_title(i), group ? group : "-");
  }
  for (int i = 0; i < kavlo_warning_count(); ++i)
    fprintf(stderr, "warning: %s\n", kavlo_warning(i));
  kavlo_clear();
  return 0;
}
