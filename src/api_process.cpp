// The process-wide functions: the handle functions on the library's own
// handle (one store for the process, as hosts have always used it).
#include "kavlo.h"

#include "driver.h"
#include "store/store.h"

namespace {

kavlo_playlist *process_wide() noexcept { return &kavlo::process_playlist(); }

}  // namespace

extern "C" {

int kavlo_parse(const char *text, size_t len, int format) KAVLO_NOEXCEPT {
  return kavlo::do_parse(kavlo::store(), text, len, format, nullptr);
}

int kavlo_parse_enc(const char *text, size_t len, int format, const char *encoding) KAVLO_NOEXCEPT {
  return kavlo::do_parse(kavlo::store(), text, len, format, encoding);
}

int kavlo_parse_file(const char *path) KAVLO_NOEXCEPT {
  return kavlo::parse_file(kavlo::store(), path, KAVLO_FORMAT_AUTO, nullptr);
}

int kavlo_parse_file_enc(const char *path, const char *encoding) KAVLO_NOEXCEPT {
  return kavlo::parse_file(kavlo::store(), path, KAVLO_FORMAT_AUTO, encoding);
}

int kavlo_detect(const char *text, size_t len) KAVLO_NOEXCEPT { return kavlo::detect(kavlo::store(), text, len); }

void kavlo_clear(void) KAVLO_NOEXCEPT { kavlo::clear(kavlo::store()); }

int kavlo_item_count(void) KAVLO_NOEXCEPT { return kavlo_playlist_item_count(process_wide()); }

const char *kavlo_item_location(int item) KAVLO_NOEXCEPT {
  return kavlo_playlist_item_location(process_wide(), item);
}

const char *kavlo_item_title(int item) KAVLO_NOEXCEPT { return kavlo_playlist_item_title(process_wide(), item); }

int kavlo_item_duration_ms(int item) KAVLO_NOEXCEPT {
  return kavlo_playlist_item_duration_ms(process_wide(), item);
}

int kavlo_item_release_date(int item) KAVLO_NOEXCEPT {
  return kavlo_playlist_item_release_date(process_wide(), item);
}

int kavlo_item_attr_count(int item) KAVLO_NOEXCEPT { return kavlo_playlist_item_attr_count(process_wide(), item); }

const char *kavlo_item_attr_key(int item, int attr) KAVLO_NOEXCEPT {
  return kavlo_playlist_item_attr_key(process_wide(), item, attr);
}

const char *kavlo_item_attr(int item, const char *key) KAVLO_NOEXCEPT {
  return kavlo_playlist_item_attr(process_wide(), item, key);
}

int kavlo_m3u_is_imdb_date_playlist(void) KAVLO_NOEXCEPT {
  return kavlo_playlist_m3u_is_imdb_date_playlist(process_wide());
}

const char *kavlo_cue_meta(const char *key) KAVLO_NOEXCEPT { return kavlo_playlist_cue_meta(process_wide(), key); }

int kavlo_cue_track_count(void) KAVLO_NOEXCEPT { return kavlo_playlist_cue_track_count(process_wide()); }

const char *kavlo_cue_track_field(int track, const char *key) KAVLO_NOEXCEPT {
  return kavlo_playlist_cue_track_field(process_wide(), track, key);
}

int kavlo_cue_track_index_count(int track) KAVLO_NOEXCEPT {
  return kavlo_playlist_cue_track_index_count(process_wide(), track);
}

int kavlo_cue_track_index_number(int track, int slot) KAVLO_NOEXCEPT {
  return kavlo_playlist_cue_track_index_number(process_wide(), track, slot);
}

int64_t kavlo_cue_track_index_frames(int track, int slot) KAVLO_NOEXCEPT {
  return kavlo_playlist_cue_track_index_frames(process_wide(), track, slot);
}

int kavlo_cue_track_index_ms(int track, int slot) KAVLO_NOEXCEPT {
  return kavlo_playlist_cue_track_index_ms(process_wide(), track, slot);
}

int kavlo_warning_count(void) KAVLO_NOEXCEPT { return kavlo_playlist_warning_count(process_wide()); }

const char *kavlo_warning(int index) KAVLO_NOEXCEPT { return kavlo_playlist_warning(process_wide(), index); }

const char *kavlo_last_error(void) KAVLO_NOEXCEPT { return kavlo_playlist_last_error(process_wide()); }

int kavlo_detected_format(void) KAVLO_NOEXCEPT { return kavlo_playlist_detected_format(process_wide()); }

const char *kavlo_format_name(int code) KAVLO_NOEXCEPT { return kavlo::format_name(code); }

const char *kavlo_version(void) KAVLO_NOEXCEPT { return KAVLO_VERSION; }

const char *kavlo_result_json(void) KAVLO_NOEXCEPT { return kavlo_playlist_json(process_wide()); }

const char *kavlo_result_json_full(void) KAVLO_NOEXCEPT { return kavlo_playlist_json_full(process_wide()); }

}  // extern "C"
