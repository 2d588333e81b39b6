/* Parses a CUE sheet with libcue and prints "libcue<TAB>file<TAB>MB/s<TAB>tracks"
 * (median of RUNS runs, the file already in memory). */
#include <libcue.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static int cmp(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return (x > y) - (x < y);
}

int main(int argc, char **argv) {
  int runs = getenv("RUNS") ? atoi(getenv("RUNS")) : 5;
  if (runs < 1) runs = 1;
  for (int f = 1; f < argc; ++f) {
    FILE *fp = fopen(argv[f], "rb");
    if (!fp) { perror(argv[f]); return 1; }
    fseek(fp, 0, SEEK_END);
    long n = ftell(fp);
    rewind(fp);
    char *text = malloc((size_t)n + 1);
    if (fread(text, 1, (size_t)n, fp) != (size_t)n) return 1;
    text[n] = 0;
    fclose(fp);
    double *t = malloc(sizeof(double) * (size_t)runs);
    int tracks = 0;
    for (int r = 0; r < runs; ++r) {
      struct timespec a, b;
      clock_gettime(CLOCK_MONOTONIC, &a);
      Cd *cd = cue_parse_string(text);
      tracks = cd ? cd_get_ntrack(cd) : -1;
      if (cd) cd_delete(cd);
      clock_gettime(CLOCK_MONOTONIC, &b);
      t[r] = (double)(b.tv_sec - a.tv_sec) + (double)(b.tv_nsec - a.tv_nsec) / 1e9;
    }
    qsort(t, (size_t)runs, sizeof(double), cmp);
    printf("libcue\t%s\t%.1f\t%d\n", argv[f], (double)n / 1e6 / t[runs / 2], tracks);
    free(t);
    free(text);
  }
  return 0;
}
