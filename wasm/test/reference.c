/* The native library's answer for one input, which the WebAssembly build
 * must give too: reads FILE and parses it with kavlo_playlist_parse() in
 * FORMAT (a format code) and ENCODING ("-" for none), then writes the
 * status, the last error and the full document, one a line; after a parse
 * that worked, the text kavlo_playlist_write() gives in the result's own
 * format and in M3U, in hex ("-" when it cannot write it), one a line.
 * Usage: reference FILE FORMAT ENCODING */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <kavlo.h>

static void print_written(kavlo_playlist *p, int format) {
  const char *text = NULL;
  size_t len = 0;
  if (kavlo_playlist_write(p, format, 0, &text, &len) != KAVLO_OK) {
    puts("-");
    return;
  }
  for (size_t i = 0; i < len; ++i) printf("%02x", (unsigned char)text[i]);
  putchar('\n');
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s FILE FORMAT ENCODING\n", argv[0]);
    return 2;
  }
  FILE *f = fopen(argv[1], "rb");
  if (f == NULL) {
    perror(argv[1]);
    return 2;
  }
  size_t cap = 1 << 16, len = 0, got;
  char *text = malloc(cap);
  while (text != NULL && (got = fread(text + len, 1, cap - len, f)) > 0) {
    len += got;
    if (len == cap) text = realloc(text, cap *= 2);
  }
  fclose(f);
  kavlo_playlist *p = kavlo_playlist_new();
  if (text == NULL || p == NULL) return 2;
  const char *encoding = strcmp(argv[3], "-") == 0 ? NULL : argv[3];
  const int status = kavlo_playlist_parse(p, text, len, atoi(argv[2]), encoding);
  printf("%d\n%s\n%s\n", status, kavlo_playlist_last_error(p), kavlo_playlist_json_full(p));
  if (status == KAVLO_OK) {
    print_written(p, KAVLO_FORMAT_AUTO);
    print_written(p, KAVLO_FORMAT_M3U);
  }
  kavlo_playlist_free(p);
  free(text);
  return 0;
}
