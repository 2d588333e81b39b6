/*
 * _kavlo: the native half of the Python module. It calls the library and
 * copies a whole result into Python objects in one pass over the result
 * store: the accessors give the items, attributes, tracks, indices and
 * warnings; the JSON document gives what no accessor holds (item lines,
 * options, headers, groups, track numbers, REM lines), read by a small
 * scanner that converts only those members and skips the rest.
 *
 * The Python side holds its lock around every call of this module, so the
 * library is never entered from two threads at once. Parsing itself runs
 * with the GIL released.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "kavlo.h"

#ifndef KAVLO_PY_VERSION
#  define KAVLO_PY_VERSION "0.0.0"
#endif

/* Limits of the store (see kavlo.h); used to size local arrays. */
#define MAX_ATTRS 64

/* Record types made in Python (tuple subclasses), instantiated here. */
static PyTypeObject *item_type, *track_type, *index_type, *option_type, *attr_type;

/* Field positions; kept in step with the classes in __init__.py. */
enum { I_LOCATION, I_TITLE, I_DURATION, I_RELEASE, I_ATTRS, I_LINE, I_OPTIONS, I_URL, I_HEADERS, I_GROUP,
       ITEM_FIELDS };
enum { T_NUMBER, T_DATATYPE, T_TITLE, T_PERFORMER, T_SONGWRITER, T_ISRC, T_FILE, T_FLAGS, T_INDICES,
       T_PREGAP, T_POSTGAP, T_REM, TRACK_FIELDS };

static PyObject *empty_str, *empty_tuple;

static PyObject *record(PyTypeObject *type, Py_ssize_t n) {
  /* As tuple_subtype_new does: the slots start out NULL and are filled by
   * the caller before the object is seen by anyone. */
  return type->tp_alloc(type, n);
}

#define SET(rec, i, v) PyTuple_SET_ITEM((rec), (i), (v))

static void replace(PyObject *rec, Py_ssize_t i, PyObject *v) {
  PyObject *old = PyTuple_GET_ITEM(rec, i);
  PyTuple_SET_ITEM(rec, i, v);
  Py_XDECREF(old);
}

static PyObject *new_ref(PyObject *o) {
  Py_INCREF(o);
  return o;
}

/* ---- strings of the store ------------------------------------------------
 * The store shares equal attribute keys, and a CUE item shares its track's
 * strings; a small cache keyed by address turns each shared string into
 * one Python object. It lives only during one collection, while the store
 * cannot change. */
#define CACHE_BITS 12
static struct {
  const char *p;
  PyObject *o;
} cache[1u << CACHE_BITS];

static void cache_clear(void) {
  for (size_t i = 0; i < (1u << CACHE_BITS); ++i) {
    Py_CLEAR(cache[i].o);
    cache[i].p = NULL;
  }
}

static PyObject *decode(const char *s, size_t n) {
  /* Undecodable bytes (kept by the last decoding fallback) survive as
   * lone surrogates and come back with os.fsencode-style encoding. */
  return PyUnicode_DecodeUTF8(s, (Py_ssize_t)n, "surrogateescape");
}

static PyObject *str_of(const char *s) {
  if (s == NULL) return new_ref(Py_None);
  if (s[0] == '\0') return new_ref(empty_str);
  size_t h = (size_t)(((uint64_t)(uintptr_t)s * 0x9E3779B97F4A7C15ull) >> (64 - CACHE_BITS));
  if (cache[h].p == s) return new_ref(cache[h].o);
  PyObject *o = decode(s, strlen(s));
  if (o == NULL) return NULL;
  Py_XSETREF(cache[h].o, new_ref(o));
  cache[h].p = s;
  return o;
}

/* A string of the store for a field that must not be None. */
static PyObject *str_or_empty(const char *s) { return s ? str_of(s) : new_ref(empty_str); }

/* ---- the JSON scanner ------------------------------------------------------
 * Reads the library's compact document. Any surprise ends the scan with a
 * failure; the caller then keeps what the accessors gave. */
typedef struct {
  const char *p, *e;
  int depth;
} scan;

typedef struct {
  const char *s;
  size_t n;
  int escaped;
} span;

static void ws(scan *j) {
  while (j->p < j->e && (*j->p == ' ' || *j->p == '\n' || *j->p == '\r' || *j->p == '\t')) ++j->p;
}

static int lit(scan *j, char c) {
  ws(j);
  if (j->p < j->e && *j->p == c) {
    ++j->p;
    return 1;
  }
  return 0;
}

/* The string at the cursor, without its quotes. */
static int raw_string(scan *j, span *out) {
  ws(j);
  if (j->p >= j->e || *j->p != '"') return 0;
  const char *start = j->p + 1, *p = start;
  for (;;) {
    const char *q = memchr(p, '"', (size_t)(j->e - p));
    if (q == NULL) return 0;
    const char *b = q;
    while (b > start && b[-1] == '\\') --b;
    if (((q - b) & 1) == 0) {
      out->s = start;
      out->n = (size_t)(q - start);
      out->escaped = memchr(start, '\\', out->n) != NULL;
      j->p = q + 1;
      return 1;
    }
    p = q + 1;
  }
}

static int hex4(const char *s, unsigned *v) {
  unsigned r = 0;
  for (int i = 0; i < 4; ++i) {
    char c = s[i];
    r <<= 4;
    if (c >= '0' && c <= '9') r |= (unsigned)(c - '0');
    else if (c >= 'a' && c <= 'f') r |= (unsigned)(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') r |= (unsigned)(c - 'A' + 10);
    else return 0;
  }
  *v = r;
  return 1;
}

static char *put_utf8(char *o, unsigned c) {
  if (c < 0x80) {
    *o++ = (char)c;
  } else if (c < 0x800) {
    *o++ = (char)(0xC0 | (c >> 6));
    *o++ = (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *o++ = (char)(0xE0 | (c >> 12));
    *o++ = (char)(0x80 | ((c >> 6) & 0x3F));
    *o++ = (char)(0x80 | (c & 0x3F));
  } else {
    *o++ = (char)(0xF0 | (c >> 18));
    *o++ = (char)(0x80 | ((c >> 12) & 0x3F));
    *o++ = (char)(0x80 | ((c >> 6) & 0x3F));
    *o++ = (char)(0x80 | (c & 0x3F));
  }
  return o;
}

/* The string's value as a Python str; NULL with no exception set for a
 * malformed escape, NULL with an exception for a Python failure. */
static PyObject *span_str(span s) {
  if (!s.escaped) return s.n ? decode(s.s, s.n) : new_ref(empty_str);
  char *buf = PyMem_Malloc(s.n ? s.n : 1); /* unescaping never grows the text */
  if (buf == NULL) return PyErr_NoMemory();
  char *o = buf;
  const char *p = s.s, *e = s.s + s.n;
  while (p < e) {
    if (*p != '\\') {
      *o++ = *p++;
      continue;
    }
    if (e - p < 2) goto bad;
    char c = p[1];
    p += 2;
    switch (c) {
      case '"': *o++ = '"'; break;
      case '\\': *o++ = '\\'; break;
      case '/': *o++ = '/'; break;
      case 'b': *o++ = '\b'; break;
      case 'f': *o++ = '\f'; break;
      case 'n': *o++ = '\n'; break;
      case 'r': *o++ = '\r'; break;
      case 't': *o++ = '\t'; break;
      case 'u': {
        unsigned u, lo;
        if (e - p < 4 || !hex4(p, &u)) goto bad;
        p += 4;
        if (u >= 0xD800 && u < 0xDC00 && e - p >= 6 && p[0] == '\\' && p[1] == 'u' && hex4(p + 2, &lo) &&
            lo >= 0xDC00 && lo < 0xE000) {
          u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
          p += 6;
        } else if (u >= 0xD800 && u < 0xE000) {
          u = 0xFFFD;
        }
        o = put_utf8(o, u);
        break;
      }
      default: goto bad;
    }
  }
  PyObject *r = decode(buf, (size_t)(o - buf));
  PyMem_Free(buf);
  return r;
bad:
  PyMem_Free(buf);
  return NULL;
}

static int span_is(span s, const char *name) { return strlen(name) == s.n && memcmp(s.s, name, s.n) == 0; }

static int skip_value(scan *j);

static int skip_container(scan *j, char close, int object) {
  if (++j->depth > 32) return 0;
  if (!lit(j, close)) {
    do {
      span k;
      if (object && (!raw_string(j, &k) || !lit(j, ':'))) return 0;
      if (!skip_value(j)) return 0;
    } while (lit(j, ','));
    if (!lit(j, close)) return 0;
  }
  --j->depth;
  return 1;
}

static int skip_value(scan *j) {
  ws(j);
  if (j->p >= j->e) return 0;
  span s;
  switch (*j->p) {
    case '"': return raw_string(j, &s);
    case '{': ++j->p; return skip_container(j, '}', 1);
    case '[': ++j->p; return skip_container(j, ']', 0);
    default: {
      const char *start = j->p;
      while (j->p < j->e && *j->p != ',' && *j->p != '}' && *j->p != ']' && *j->p != ' ') ++j->p;
      return j->p > start;
    }
  }
}

static int read_int(scan *j, long long *v) {
  ws(j);
  int neg = j->p < j->e && *j->p == '-';
  if (neg) ++j->p;
  if (j->p >= j->e || *j->p < '0' || *j->p > '9') return 0;
  unsigned long long r = 0;
  while (j->p < j->e && *j->p >= '0' && *j->p <= '9') {
    if (r > (ULLONG_MAX - 9) / 10) return 0;
    r = r * 10 + (unsigned)(*j->p++ - '0');
  }
  if (r > (unsigned long long)LLONG_MAX) return 0;
  *v = neg ? -(long long)r : (long long)r;
  return 1;
}

/* A Python failure inside the scan is kept apart from a malformed
 * document: the first is raised, the second only ends the scan. */
typedef enum { SCAN_OK, SCAN_BAD, SCAN_ERROR } scan_status;

static scan_status str_value(scan *j, PyObject **out) {
  span s;
  if (!raw_string(j, &s)) return SCAN_BAD;
  *out = span_str(s);
  if (*out == NULL) return PyErr_Occurred() ? SCAN_ERROR : SCAN_BAD;
  return SCAN_OK;
}

/* {"k":"v",...} as a flat tuple (k1, v1, k2, v2, ...), in order. */
static scan_status pairs_object(scan *j, PyObject **out) {
  PyObject *list = PyList_New(0);
  if (list == NULL) return SCAN_ERROR;
  scan_status st = SCAN_BAD;
  if (!lit(j, '{')) goto done;
  if (!lit(j, '}')) {
    do {
      PyObject *v[2] = {NULL, NULL};
      for (int i = 0; i < 2; ++i) {
        if ((st = str_value(j, &v[i])) != SCAN_OK || (i == 0 && !lit(j, ':'))) {
          if (st == SCAN_OK) st = SCAN_BAD;
          Py_XDECREF(v[0]);
          Py_XDECREF(v[1]);
          goto done;
        }
      }
      int rc = PyList_Append(list, v[0]) | PyList_Append(list, v[1]);
      Py_DECREF(v[0]);
      Py_DECREF(v[1]);
      if (rc) {
        st = SCAN_ERROR;
        goto done;
      }
    } while (lit(j, ','));
    st = SCAN_BAD;
    if (!lit(j, '}')) goto done;
  }
  *out = PyList_AsTuple(list);
  st = *out ? SCAN_OK : SCAN_ERROR;
done:
  Py_DECREF(list);
  return st;
}

/* [{"a":..,"b":..},...] as a tuple of records of `type` whose fields are the
 * members `names` (strings; a missing one reads ""). */
static scan_status records_array(scan *j, PyTypeObject *type, const char *const *names, int n,
                                 PyObject **out) {
  PyObject *list = PyList_New(0);
  if (list == NULL) return SCAN_ERROR;
  scan_status st = SCAN_BAD;
  if (!lit(j, '[')) goto done;
  if (!lit(j, ']')) {
    do {
      if (!lit(j, '{')) goto fail;
      PyObject *rec = record(type, n);
      if (rec == NULL) {
        st = SCAN_ERROR;
        goto done;
      }
      int rc = PyList_Append(list, rec);
      Py_DECREF(rec);
      if (rc) {
        st = SCAN_ERROR;
        goto done;
      }
      if (!lit(j, '}')) {
        do {
          span k;
          if (!raw_string(j, &k) || !lit(j, ':')) goto fail;
          int f = -1;
          for (int i = 0; i < n; ++i)
            if (span_is(k, names[i])) f = i;
          if (f < 0) {
            if (!skip_value(j)) goto fail;
            continue;
          }
          PyObject *v;
          if ((st = str_value(j, &v)) != SCAN_OK) goto done;
          replace(rec, f, v);
        } while (lit(j, ','));
        if (!lit(j, '}')) goto fail;
      }
      for (int i = 0; i < n; ++i)
        if (PyTuple_GET_ITEM(rec, i) == NULL) SET(rec, i, new_ref(empty_str));
    } while (lit(j, ','));
    if (!lit(j, ']')) goto fail;
  }
  *out = PyList_AsTuple(list);
  st = *out ? SCAN_OK : SCAN_ERROR;
  goto done;
fail:
  st = SCAN_BAD;
done:
  /* Records left half-filled by a failure get their empty fields set so
   * that they can be released. */
  for (Py_ssize_t r = 0; r < PyList_GET_SIZE(list); ++r) {
    PyObject *rec = PyList_GET_ITEM(list, r);
    for (int i = 0; i < n; ++i)
      if (PyTuple_GET_ITEM(rec, i) == NULL) SET(rec, i, new_ref(empty_str));
  }
  Py_DECREF(list);
  return st;
}

static const char *const option_names[] = {"tag", "key", "value"};
static const char *const rem_names[] = {"key", "value"};

/* What the document adds to each item and track, collected before it is
 * applied, so that a document whose arrays do not match the store in
 * length changes nothing. */
typedef struct {
  Py_ssize_t n_items, n_tracks;
  const unsigned char *dup_attrs; /* items whose attributes need the document's values */
  PyObject **item_extra;          /* n_items x (I_ATTRS..I_GROUP) */
  PyObject **track_extra;         /* n_tracks x (T_NUMBER, T_PREGAP, T_POSTGAP, T_REM) */
  PyObject *header, *sheet_rem;
  Py_ssize_t seen_items, seen_tracks;
} extras;

#define ITEM_EXTRA (I_GROUP - I_ATTRS + 1)
#define TRACK_EXTRA 4

static scan_status int_value(scan *j, PyObject **out) {
  long long v;
  if (!read_int(j, &v)) return SCAN_BAD;
  *out = PyLong_FromLongLong(v);
  return *out ? SCAN_OK : SCAN_ERROR;
}

static scan_status scan_items(scan *j, extras *x) {
  if (!lit(j, '[')) return SCAN_BAD;
  if (lit(j, ']')) return SCAN_OK;
  do {
    Py_ssize_t i = x->seen_items++;
    if (i >= x->n_items || !lit(j, '{')) return SCAN_BAD;
    PyObject **slot = x->item_extra + i * ITEM_EXTRA;
    if (lit(j, '}')) continue;
    do {
      span k;
      if (!raw_string(j, &k) || !lit(j, ':')) return SCAN_BAD;
      scan_status st = SCAN_OK;
      PyObject **dst = NULL;
      if (span_is(k, "line")) {
        dst = &slot[I_LINE - I_ATTRS];
        if (*dst == NULL) st = int_value(j, dst);
      } else if (span_is(k, "options")) {
        dst = &slot[I_OPTIONS - I_ATTRS];
        if (*dst == NULL) st = records_array(j, option_type, option_names, 3, dst);
      } else if (span_is(k, "url")) {
        dst = &slot[I_URL - I_ATTRS];
        if (*dst == NULL) st = str_value(j, dst);
      } else if (span_is(k, "headers")) {
        dst = &slot[I_HEADERS - I_ATTRS];
        if (*dst == NULL) st = pairs_object(j, dst);
      } else if (span_is(k, "group")) {
        dst = &slot[I_GROUP - I_ATTRS];
        if (*dst == NULL) st = str_value(j, dst);
      } else if (span_is(k, "attrs") && x->dup_attrs && x->dup_attrs[i]) {
        dst = &slot[0];
        if (*dst == NULL) st = pairs_object(j, dst);
      }
      if (dst == NULL || (st == SCAN_OK && *dst == NULL)) {
        if (!skip_value(j)) return SCAN_BAD;
      } else if (st != SCAN_OK) {
        return st;
      }
    } while (lit(j, ','));
    if (!lit(j, '}')) return SCAN_BAD;
  } while (lit(j, ','));
  return lit(j, ']') ? SCAN_OK : SCAN_BAD;
}

static scan_status scan_tracks(scan *j, extras *x) {
  if (!lit(j, '[')) return SCAN_BAD;
  if (lit(j, ']')) return SCAN_OK;
  do {
    Py_ssize_t t = x->seen_tracks++;
    if (t >= x->n_tracks || !lit(j, '{')) return SCAN_BAD;
    PyObject **slot = x->track_extra + t * TRACK_EXTRA;
    if (lit(j, '}')) continue;
    do {
      span k;
      if (!raw_string(j, &k) || !lit(j, ':')) return SCAN_BAD;
      int f = span_is(k, "number") ? 0 : span_is(k, "pregap") ? 1 : span_is(k, "postgap") ? 2
            : span_is(k, "rem") ? 3 : -1;
      if (f < 0 || slot[f] != NULL) {
        if (!skip_value(j)) return SCAN_BAD;
        continue;
      }
      scan_status st = f == 3 ? records_array(j, attr_type, rem_names, 2, &slot[f]) : int_value(j, &slot[f]);
      if (st != SCAN_OK) return st;
    } while (lit(j, ','));
    if (!lit(j, '}')) return SCAN_BAD;
  } while (lit(j, ','));
  return lit(j, ']') ? SCAN_OK : SCAN_BAD;
}

static scan_status scan_cue(scan *j, extras *x) {
  if (!lit(j, '{')) return SCAN_BAD;
  if (lit(j, '}')) return SCAN_OK;
  do {
    span k;
    if (!raw_string(j, &k) || !lit(j, ':')) return SCAN_BAD;
    scan_status st = SCAN_OK;
    if (span_is(k, "tracks")) st = scan_tracks(j, x);
    else if (span_is(k, "rem") && x->sheet_rem == NULL) st = records_array(j, attr_type, rem_names, 2, &x->sheet_rem);
    else if (!skip_value(j)) st = SCAN_BAD;
    if (st != SCAN_OK) return st;
  } while (lit(j, ','));
  return lit(j, '}') ? SCAN_OK : SCAN_BAD;
}

static scan_status scan_doc(scan *j, extras *x) {
  if (!lit(j, '{')) return SCAN_BAD;
  if (lit(j, '}')) return SCAN_BAD; /* "{}": no document could be written */
  do {
    span k;
    if (!raw_string(j, &k) || !lit(j, ':')) return SCAN_BAD;
    scan_status st = SCAN_OK;
    if (span_is(k, "items")) st = scan_items(j, x);
    else if (span_is(k, "cue")) st = scan_cue(j, x);
    else if (span_is(k, "header") && x->header == NULL) st = pairs_object(j, &x->header);
    else if (!skip_value(j)) st = SCAN_BAD;
    if (st != SCAN_OK) return st;
  } while (lit(j, ','));
  return lit(j, '}') ? SCAN_OK : SCAN_BAD;
}

static void extras_free(extras *x) {
  if (x->item_extra)
    for (Py_ssize_t i = 0; i < x->n_items * ITEM_EXTRA; ++i) Py_XDECREF(x->item_extra[i]);
  if (x->track_extra)
    for (Py_ssize_t i = 0; i < x->n_tracks * TRACK_EXTRA; ++i) Py_XDECREF(x->track_extra[i]);
  PyMem_Free(x->item_extra);
  PyMem_Free(x->track_extra);
  Py_XDECREF(x->header);
  Py_XDECREF(x->sheet_rem);
}

/* Moves the extras into the records. */
static void extras_apply(extras *x, PyObject *items, PyObject *tracks) {
  for (Py_ssize_t i = 0; i < x->n_items; ++i) {
    PyObject *item = PyList_GET_ITEM(items, i), **slot = x->item_extra + i * ITEM_EXTRA;
    for (int f = 0; f < ITEM_EXTRA; ++f)
      if (slot[f]) {
        replace(item, I_ATTRS + f, slot[f]);
        slot[f] = NULL;
      }
  }
  static const int track_field[TRACK_EXTRA] = {T_NUMBER, T_PREGAP, T_POSTGAP, T_REM};
  for (Py_ssize_t t = 0; t < x->n_tracks; ++t) {
    PyObject *track = PyList_GET_ITEM(tracks, t), **slot = x->track_extra + t * TRACK_EXTRA;
    for (int f = 0; f < TRACK_EXTRA; ++f)
      if (slot[f]) {
        replace(track, track_field[f], slot[f]);
        slot[f] = NULL;
      }
  }
}

/* ---- collection ------------------------------------------------------------ */

static PyObject *int_obj(long long v) { return PyLong_FromLongLong(v); }

static PyObject *collect_items(unsigned char **dup_out) {
  int n = kavlo_item_count();
  PyObject *items = PyList_New(n);
  if (items == NULL) return NULL;
  unsigned char *dup = NULL;
  for (int i = 0; i < n; ++i) {
    PyObject *item = record(item_type, ITEM_FIELDS);
    if (item == NULL) goto fail;
    PyList_SET_ITEM(items, i, item);
    int ac = kavlo_item_attr_count(i);
    if (ac > MAX_ATTRS) ac = MAX_ATTRS;
    PyObject *attrs = ac ? PyTuple_New(2 * ac) : new_ref(empty_tuple);
    SET(item, I_LOCATION, str_or_empty(kavlo_item_location(i)));
    SET(item, I_TITLE, str_or_empty(kavlo_item_title(i)));
    SET(item, I_DURATION, PyLong_FromLong(kavlo_item_duration_ms(i)));
    SET(item, I_RELEASE, PyLong_FromLong(kavlo_item_release_date(i)));
    SET(item, I_ATTRS, attrs);
    SET(item, I_LINE, PyLong_FromLong(0));
    SET(item, I_OPTIONS, new_ref(empty_tuple));
    SET(item, I_URL, new_ref(Py_None));
    SET(item, I_HEADERS, new_ref(Py_None));
    SET(item, I_GROUP, new_ref(Py_None));
    for (int f = 0; f < ITEM_FIELDS; ++f)
      if (PyTuple_GET_ITEM(item, f) == NULL) goto fail;
    /* The accessor gives the first value of a key; a key written twice
     * shows as two attributes with the same value pointer, and such an
     * item takes its values from the document. */
    const char *seen[MAX_ATTRS];
    for (int a = 0; a < ac; ++a) {
      const char *key = kavlo_item_attr_key(i, a);
      const char *value = key ? kavlo_item_attr(i, key) : NULL;
      PyObject *k = str_or_empty(key), *v = k ? str_or_empty(value) : NULL;
      if (v == NULL) {
        Py_XDECREF(k);
        for (int b = a; b < ac; ++b) {
          PyTuple_SET_ITEM(attrs, 2 * b, new_ref(empty_str));
          PyTuple_SET_ITEM(attrs, 2 * b + 1, new_ref(empty_str));
        }
        goto fail;
      }
      PyTuple_SET_ITEM(attrs, 2 * a, k);
      PyTuple_SET_ITEM(attrs, 2 * a + 1, v);
      seen[a] = value;
      for (int b = 0; b < a && value; ++b)
        if (seen[b] == value) {
          if (dup == NULL && (dup = PyMem_Calloc((size_t)n, 1)) == NULL) {
            PyErr_NoMemory();
            goto fail;
          }
          dup[i] = 1;
        }
    }
  }
  *dup_out = dup;
  return items;
fail:
  PyMem_Free(dup);
  Py_DECREF(items);
  return NULL;
}

static const char *const track_keys[] = {NULL, "DATATYPE", "TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FILE",
                                         "FLAGS"};

static PyObject *collect_tracks(void) {
  int n = kavlo_cue_track_count();
  PyObject *tracks = PyList_New(n);
  if (tracks == NULL) return NULL;
  for (int t = 0; t < n; ++t) {
    PyObject *track = record(track_type, TRACK_FIELDS);
    if (track == NULL) goto fail;
    PyList_SET_ITEM(tracks, t, track);
    SET(track, T_NUMBER, PyLong_FromLong(0));
    for (int f = T_DATATYPE; f <= T_FLAGS; ++f) SET(track, f, str_of(kavlo_cue_track_field(t, track_keys[f])));
    int nx = kavlo_cue_track_index_count(t);
    PyObject *indices = PyList_New(nx < 0 ? 0 : nx);
    SET(track, T_INDICES, indices);
    SET(track, T_PREGAP, new_ref(Py_None));
    SET(track, T_POSTGAP, new_ref(Py_None));
    SET(track, T_REM, new_ref(empty_tuple));
    for (int f = 0; f < TRACK_FIELDS; ++f)
      if (PyTuple_GET_ITEM(track, f) == NULL) goto fail;
    for (int x = 0; x < nx; ++x) {
      PyObject *idx = record(index_type, 3);
      if (idx == NULL) goto fail;
      PyList_SET_ITEM(indices, x, idx);
      SET(idx, 0, PyLong_FromLong(kavlo_cue_track_index_number(t, x)));
      SET(idx, 1, int_obj(kavlo_cue_track_index_frames(t, x)));
      SET(idx, 2, PyLong_FromLong(kavlo_cue_track_index_ms(t, x)));
      if (!PyTuple_GET_ITEM(idx, 0) || !PyTuple_GET_ITEM(idx, 1) || !PyTuple_GET_ITEM(idx, 2)) goto fail;
    }
  }
  return tracks;
fail:
  Py_DECREF(tracks);
  return NULL;
}

/* Releases records that a failure left with empty slots. */
static void fill_holes(PyObject *list) {
  if (list == NULL) return;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    PyObject *rec = PyList_GET_ITEM(list, i);
    if (rec == NULL) {
      PyList_SET_ITEM(list, i, new_ref(Py_None));
      continue;
    }
    for (Py_ssize_t f = 0; f < PyTuple_GET_SIZE(rec); ++f)
      if (PyTuple_GET_ITEM(rec, f) == NULL) PyTuple_SET_ITEM(rec, f, new_ref(Py_None));
  }
}

static PyObject *warnings_list(void) {
  int n = kavlo_warning_count();
  PyObject *list = PyList_New(n);
  if (list == NULL) return NULL;
  for (int w = 0; w < n; ++w) {
    PyObject *s = str_or_empty(kavlo_warning(w));
    if (s == NULL) {
      for (int r = w; r < n; ++r) PyList_SET_ITEM(list, r, new_ref(Py_None));
      Py_DECREF(list);
      return NULL;
    }
    PyList_SET_ITEM(list, w, s);
  }
  return list;
}

static PyObject *sheet_fields(void) {
  static const char *const keys[] = {"TITLE", "PERFORMER", "SONGWRITER", "CATALOG", "CDTEXTFILE"};
  PyObject *t = PyTuple_New(5);
  if (t == NULL) return NULL;
  for (int i = 0; i < 5; ++i) {
    PyObject *s = str_of(kavlo_cue_meta(keys[i]));
    if (s == NULL) {
      for (int r = i; r < 5; ++r) PyTuple_SET_ITEM(t, r, new_ref(Py_None));
      Py_DECREF(t);
      return NULL;
    }
    PyTuple_SET_ITEM(t, i, s);
  }
  return t;
}

/* collect() -> (format, imdb, items, sheet fields, tracks, warnings, header,
 * sheet rem). Reads the result of the last parse. */
static PyObject *py_collect(PyObject *self, PyObject *noargs) {
  (void)self;
  (void)noargs;
  PyObject *items = NULL, *tracks = NULL, *warnings = NULL, *sheet = NULL, *out = NULL;
  unsigned char *dup = NULL;
  extras x;
  memset(&x, 0, sizeof x);
#if PY_VERSION_HEX >= 0x030A0000
  /* Hundreds of thousands of new containers would otherwise set off the
   * cycle collector over and over; none of them can form a cycle yet. */
  int gc_was_enabled = PyGC_Disable();
#endif
  cache_clear();
  items = collect_items(&dup);
  if (items == NULL) goto done;
  tracks = collect_tracks();
  if (tracks == NULL) goto done;
  warnings = warnings_list();
  sheet = warnings ? sheet_fields() : NULL;
  if (sheet == NULL) goto done;

  x.n_items = PyList_GET_SIZE(items);
  x.n_tracks = PyList_GET_SIZE(tracks);
  x.dup_attrs = dup;
  if (x.n_tracks || dup) {
    x.item_extra = PyMem_Calloc((size_t)x.n_items + 1, sizeof(PyObject *) * ITEM_EXTRA);
    x.track_extra = PyMem_Calloc((size_t)x.n_tracks + 1, sizeof(PyObject *) * TRACK_EXTRA);
    if (x.item_extra == NULL || x.track_extra == NULL) {
      PyErr_NoMemory();
      goto done;
    }
    const char *doc = kavlo_result_json();
    scan j = {doc, doc + strlen(doc), 0};
    scan_status st = scan_doc(&j, &x);
    if (st == SCAN_ERROR) goto done;
    if (st == SCAN_OK && x.seen_items == x.n_items && x.seen_tracks == x.n_tracks) extras_apply(&x, items, tracks);
    else {
      Py_CLEAR(x.header);
      Py_CLEAR(x.sheet_rem);
    }
  }

  int fmt = kavlo_detected_format();
  out = Py_BuildValue("(iNNNNNOO)", fmt, PyBool_FromLong(kavlo_m3u_is_imdb_date_playlist()), items, sheet, tracks,
                      warnings, x.header ? x.header : Py_None, x.sheet_rem ? x.sheet_rem : empty_tuple);
  items = tracks = warnings = sheet = NULL;
done:
  fill_holes(items);
  fill_holes(tracks);
  Py_XDECREF(items);
  Py_XDECREF(tracks);
  Py_XDECREF(warnings);
  Py_XDECREF(sheet);
  extras_free(&x);
  PyMem_Free(dup);
  cache_clear();
#if PY_VERSION_HEX >= 0x030A0000
  if (gc_was_enabled) PyGC_Enable();
#endif
  return out;
}

/* ---- entry points -------------------------------------------------------- */

static PyObject *py_parse(PyObject *self, PyObject *args) {
  (void)self;
  Py_buffer buf;
  int format;
  const char *encoding;
  if (!PyArg_ParseTuple(args, "y*iz", &buf, &format, &encoding)) return NULL;
  int rc;
  Py_BEGIN_ALLOW_THREADS
  rc = kavlo_parse_enc(buf.len ? buf.buf : NULL, (size_t)buf.len, format, encoding);
  Py_END_ALLOW_THREADS
  PyBuffer_Release(&buf);
  return PyLong_FromLong(rc);
}

static PyObject *py_parse_file(PyObject *self, PyObject *args) {
  (void)self;
  const char *path, *encoding;
  if (!PyArg_ParseTuple(args, "yz", &path, &encoding)) return NULL;
  int rc;
  Py_BEGIN_ALLOW_THREADS
  rc = kavlo_parse_file_enc(path, encoding);
  Py_END_ALLOW_THREADS
  return PyLong_FromLong(rc);
}

static PyObject *py_detect(PyObject *self, PyObject *args) {
  (void)self;
  Py_buffer buf;
  if (!PyArg_ParseTuple(args, "y*", &buf)) return NULL;
  int rc;
  Py_BEGIN_ALLOW_THREADS
  rc = kavlo_detect(buf.len ? buf.buf : NULL, (size_t)buf.len);
  Py_END_ALLOW_THREADS
  PyBuffer_Release(&buf);
  return PyLong_FromLong(rc);
}

static PyObject *py_last_error(PyObject *self, PyObject *noargs) {
  (void)self;
  (void)noargs;
  const char *s = kavlo_last_error();
  return decode(s, strlen(s));
}

static PyObject *py_result_json(PyObject *self, PyObject *noargs) {
  (void)self;
  (void)noargs;
  const char *s = kavlo_result_json();
  return PyUnicode_DecodeUTF8(s, (Py_ssize_t)strlen(s), "strict");
}

static PyObject *py_format_name(PyObject *self, PyObject *arg) {
  (void)self;
  long code = PyLong_AsLong(arg);
  if (code == -1 && PyErr_Occurred()) return NULL;
  if (code < INT_MIN || code > INT_MAX) code = KAVLO_FORMAT_UNKNOWN;
  return PyUnicode_FromString(kavlo_format_name((int)code));
}

/* attrs_dict(flat) -> {key: value}, the first value of a key winning. */
static PyObject *py_attrs_dict(PyObject *self, PyObject *flat) {
  (void)self;
  if (!PyTuple_Check(flat)) {
    PyErr_SetString(PyExc_TypeError, "tuple expected");
    return NULL;
  }
  PyObject *d = PyDict_New();
  if (d == NULL) return NULL;
  for (Py_ssize_t i = 0; i + 1 < PyTuple_GET_SIZE(flat); i += 2)
    if (PyDict_SetDefault(d, PyTuple_GET_ITEM(flat, i), PyTuple_GET_ITEM(flat, i + 1)) == NULL) {
      Py_DECREF(d);
      return NULL;
    }
  return d;
}

/* bind(Item, Track, Index, Option, Attr): the record classes made in Python. */
static PyObject *py_bind(PyObject *self, PyObject *args) {
  (void)self;
  PyTypeObject *t[5];
  if (!PyArg_ParseTuple(args, "O!O!O!O!O!", &PyType_Type, &t[0], &PyType_Type, &t[1], &PyType_Type, &t[2],
                        &PyType_Type, &t[3], &PyType_Type, &t[4]))
    return NULL;
  for (int i = 0; i < 5; ++i)
    if (!PyType_IsSubtype(t[i], &PyTuple_Type)) {
      PyErr_SetString(PyExc_TypeError, "record classes must derive from tuple");
      return NULL;
    }
  PyTypeObject **slots[5] = {&item_type, &track_type, &index_type, &option_type, &attr_type};
  for (int i = 0; i < 5; ++i) {
    Py_INCREF(t[i]);
    Py_XSETREF(*slots[i], t[i]);
  }
  Py_RETURN_NONE;
}

static PyMethodDef methods[] = {
    {"parse", py_parse, METH_VARARGS, "parse(data, format, encoding) -> status"},
    {"parse_file", py_parse_file, METH_VARARGS, "parse_file(path, encoding) -> status"},
    {"detect", py_detect, METH_VARARGS, "detect(data) -> format code"},
    {"last_error", py_last_error, METH_NOARGS, "the message of the last failure"},
    {"collect", py_collect, METH_NOARGS, "the result of the last parse as Python objects"},
    {"result_json", py_result_json, METH_NOARGS, "the library's JSON document of the last parse"},
    {"format_name", py_format_name, METH_O, "the library's name of a format code"},
    {"attrs_dict", py_attrs_dict, METH_O, "mapping of a flat (key, value, ...) tuple, first value winning"},
    {"bind", py_bind, METH_VARARGS, "registers the record classes"},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "_kavlo", "Native half of the kavlo module.", -1,
                                    methods, NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit__kavlo(void) {
  PyObject *m = PyModule_Create(&module);
  if (m == NULL) return NULL;
  empty_str = PyUnicode_FromStringAndSize("", 0);
  empty_tuple = PyTuple_New(0);
  if (empty_str == NULL || empty_tuple == NULL || PyModule_AddStringConstant(m, "VERSION", KAVLO_PY_VERSION) < 0) {
    Py_DECREF(m);
    return NULL;
  }
  return m;
}
