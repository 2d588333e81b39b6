/* Lists the entries of a playlist: location, title and group. */
#include <stdio.h>

#include <kavlo.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s PLAYLIST\n", argv[0]);
    return 2;
  }
  kavlo_playlist *p = kavlo_playlist_new();
  if (p == NULL) return KAVLO_ERR_NOMEM;
  int rc = kavlo_playlist_parse_file(p, argv[1], "auto");
  if (rc != KAVLO_OK) {
    fprintf(stderr, "%s: %s\n", argv[1], kavlo_playlist_last_error(p));
    kavlo_playlist_free(p);
    return rc;
  }
  printf("%s, %d items, %s\n", kavlo_format_name(kavlo_playlist_detected_format(p)),
         kavlo_playlist_item_count(p), kavlo_playlist_encoding(p));
  for (int i = 0; i < kavlo_playlist_item_count(p); ++i) {
    const char *group = kavlo_playlist_item_attr(p, i, "group-title");
    printf("%s\t%s\t%s\n", kavlo_playlist_item_location(p, i), kavlo_playlist_item_title(p, i),
           group ? group : "-");
  }
  for (int i = 0; i < kavlo_playlist_warning_count(p); ++i)
    fprintf(stderr, "warning: %s\n", kavlo_playlist_warning(p, i));
  kavlo_playlist_free(p);
  return 0;
}
