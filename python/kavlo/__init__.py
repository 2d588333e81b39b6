"""Python interface to the kavlo playlist-parsing library (ctypes, standard
library only).

    import kavlo
    result = kavlo.parse_file("list.m3u")
    for item in result.items:
        print(item.location, item.title, item.attr("group-title"))

The shared library is looked up in this order: the path in the environment
variable KAVLO_LIBRARY, a libkavlo.so next to this module, then the
system's loader path (libkavlo.so.0).

A failed parse raises KavloError carrying the library's status code and
message. Content problems that do not fail a parse are warnings
(Result.warnings). The library keeps one result store and no locks: calls
from several threads must be serialised by the caller; this module holds a
lock around each call for that purpose.
"""

import ctypes
import ctypes.util
import enum
import os
import threading
from dataclasses import dataclass, field
from typing import List, Optional, Union

__all__ = [
    "Attr", "CueSheet", "Format", "Index", "Item", "KavloError", "Result", "Status",
    "Track", "detect", "parse", "parse_file",
]


class Format(enum.IntEnum):
    AUTO = -1
    M3U = 0
    M3U8_HLS = 1
    STREAMING_LIST = 2
    CUE = 3
    UNKNOWN = 4


class Status(enum.IntEnum):
    OK = 0
    ERR_DECODE = 1
    ERR_FORMAT = 3
    ERR_INVALID = 4
    ERR_IO = 5
    ERR_NOMEM = 6


class KavloError(Exception):
    """A parse that failed: `status` is the library's status code, `message`
    its error text."""

    def __init__(self, status: int, message: str):
        self.status = status
        self.message = message
        try:
            name = Status(status).name
        except ValueError:
            name = str(status)
        super().__init__(f"{name}: {message}" if message else name)


@dataclass
class Attr:
    key: str
    value: str


@dataclass
class Item:
    location: str
    title: str
    duration_ms: int
    release_date: int = 0
    attrs: List[Attr] = field(default_factory=list)

    def attr(self, key: str) -> Optional[str]:
        """Value of the first attribute whose key equals `key`, ASCII letters
        folded; None when there is none."""
        folded = _ascii_lower(key)
        for a in self.attrs:
            if _ascii_lower(a.key) == folded:
                return a.value
        return None


@dataclass
class Index:
    number: int
    frames: int
    ms: int


@dataclass
class Track:
    number: int
    datatype: Optional[str] = None
    title: Optional[str] = None
    performer: Optional[str] = None
    songwriter: Optional[str] = None
    isrc: Optional[str] = None
    file: Optional[str] = None
    flags: Optional[str] = None
    indices: List[Index] = field(default_factory=list)


@dataclass
class CueSheet:
    title: Optional[str] = None
    performer: Optional[str] = None
    songwriter: Optional[str] = None
    catalog: Optional[str] = None
    cdtextfile: Optional[str] = None


@dataclass
class Result:
    format: Format
    items: List[Item]
    imdb_date_playlist: bool
    cue: CueSheet
    tracks: List[Track]
    warnings: List[str]
    json_text: str

    def to_json(self) -> str:
        """The library's JSON document of this result."""
        return self.json_text


def _ascii_lower(s: str) -> str:
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in s)


def _load():
    candidates = []
    if os.environ.get("KAVLO_LIBRARY"):
        candidates.append(os.environ["KAVLO_LIBRARY"])
    here = os.path.dirname(os.path.abspath(__file__))
    candidates.append(os.path.join(here, "libkavlo.so"))
    candidates.append("libkavlo.so.0")
    found = ctypes.util.find_library("kavlo")
    if found:
        candidates.append(found)
    errors = []
    for path in candidates:
        if os.sep in path and not os.path.exists(path):
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as e:
            errors.append(f"{path}: {e}")
    raise ImportError("kavlo: libkavlo.so not found (set KAVLO_LIBRARY): " + "; ".join(errors))


_lib = _load()
_lock = threading.Lock()

_c_str, _c_int, _c_size, _c_i64 = ctypes.c_char_p, ctypes.c_int, ctypes.c_size_t, ctypes.c_int64
for _name, _res, _args in [
    ("kavlo_parse_enc", _c_int, [ctypes.c_void_p, _c_size, _c_int, _c_str]),
    ("kavlo_parse_file_enc", _c_int, [_c_str, _c_str]),
    ("kavlo_detect", _c_int, [ctypes.c_void_p, _c_size]),
    ("kavlo_clear", None, []),
    ("kavlo_item_count", _c_int, []),
    ("kavlo_item_location", _c_str, [_c_int]),
    ("kavlo_item_title", _c_str, [_c_int]),
    ("kavlo_item_duration_ms", _c_int, [_c_int]),
    ("kavlo_item_release_date", _c_int, [_c_int]),
    ("kavlo_item_attr_count", _c_int, [_c_int]),
    ("kavlo_item_attr_key", _c_str, [_c_int, _c_int]),
    ("kavlo_item_attr", _c_str, [_c_int, _c_str]),
    ("kavlo_m3u_is_imdb_date_playlist", _c_int, []),
    ("kavlo_cue_meta", _c_str, [_c_str]),
    ("kavlo_cue_track_count", _c_int, []),
    ("kavlo_cue_track_field", _c_str, [_c_int, _c_str]),
    ("kavlo_cue_track_index_count", _c_int, [_c_int]),
    ("kavlo_cue_track_index_number", _c_int, [_c_int, _c_int]),
    ("kavlo_cue_track_index_frames", _c_i64, [_c_int, _c_int]),
    ("kavlo_cue_track_index_ms", _c_int, [_c_int, _c_int]),
    ("kavlo_warning_count", _c_int, []),
    ("kavlo_warning", _c_str, [_c_int]),
    ("kavlo_last_error", _c_str, []),
    ("kavlo_detected_format", _c_int, []),
    ("kavlo_result_json", _c_str, []),
]:
    _fn = getattr(_lib, _name)
    _fn.restype = _res
    _fn.argtypes = _args


def _text(b: Optional[bytes]) -> Optional[str]:
    # Undecodable bytes can reach the store (the last decoding fallback
    # keeps them as they are); they are not lost, only replaced here.
    return None if b is None else b.decode("utf-8", "surrogateescape")


def _collect() -> Result:
    L = _lib
    items = []
    for i in range(L.kavlo_item_count()):
        attrs = []
        for a in range(L.kavlo_item_attr_count(i)):
            key = L.kavlo_item_attr_key(i, a)
            attrs.append(Attr(_text(key) or "", _text(L.kavlo_item_attr(i, key)) or ""))
        items.append(Item(_text(L.kavlo_item_location(i)) or "", _text(L.kavlo_item_title(i)) or "",
                          L.kavlo_item_duration_ms(i), L.kavlo_item_release_date(i), attrs))
    cue = CueSheet(*(_text(L.kavlo_cue_meta(k)) for k in
                     (b"TITLE", b"PERFORMER", b"SONGWRITER", b"CATALOG", b"CDTEXTFILE")))
    tracks = []
    keys = (b"DATATYPE", b"TITLE", b"PERFORMER", b"SONGWRITER", b"ISRC", b"FILE", b"FLAGS")
    for t in range(L.kavlo_cue_track_count()):
        fields = [_text(L.kavlo_cue_track_field(t, k)) for k in keys]
        indices = [Index(L.kavlo_cue_track_index_number(t, x), L.kavlo_cue_track_index_frames(t, x),
                         L.kavlo_cue_track_index_ms(t, x))
                   for x in range(L.kavlo_cue_track_index_count(t))]
        tracks.append(Track(0, *fields, indices=indices))
    # The track number has no accessor of its own; the JSON document has it.
    json_text = L.kavlo_result_json().decode("utf-8")
    if tracks:
        import json as _json
        doc = _json.loads(json_text) if json_text != "{}" else {}
        for t, obj in zip(tracks, doc.get("cue", {}).get("tracks", [])):
            t.number = obj["number"]
    fmt = L.kavlo_detected_format()
    return Result(Format(fmt) if fmt in Format._value2member_map_ else Format.UNKNOWN, items,
                  bool(L.kavlo_m3u_is_imdb_date_playlist()), cue, tracks,
                  [_text(L.kavlo_warning(w)) or "" for w in range(L.kavlo_warning_count())], json_text)


def _encoding(encoding: Optional[str]) -> Optional[bytes]:
    return None if not encoding else encoding.encode("ascii")


def parse(data: Union[bytes, str], format: Optional[Union[Format, str]] = None,
          encoding: Optional[str] = None) -> Result:
    """Parses playlist bytes (a str is taken as UTF-8). `format` is a Format,
    its name ("m3u", "streaming-list", "cue") or None for detection;
    `encoding` names the bytes' encoding (None: automatic). Raises KavloError
    when the parse fails."""
    if isinstance(data, str):
        data = data.encode("utf-8")
    if format is None:
        code = Format.AUTO
    elif isinstance(format, str):
        try:
            code = Format[format.upper().replace("-", "_")]
        except KeyError:
            raise ValueError(f"unknown format {format!r}") from None
    else:
        code = Format(format)
    with _lock:
        buf = ctypes.create_string_buffer(data, len(data))
        rc = _lib.kavlo_parse_enc(buf, len(data), int(code), _encoding(encoding))
        if rc != Status.OK:
            raise KavloError(rc, _text(_lib.kavlo_last_error()) or "")
        return _collect()


def parse_file(path: Union[str, os.PathLike], encoding: Optional[str] = None) -> Result:
    """Reads and parses a file with automatic format detection. Raises
    KavloError when it fails (KAVLO_ERR_IO for a file that cannot be read)."""
    with _lock:
        _lib.kavlo_clear()
        rc = _lib.kavlo_parse_file_enc(os.fsencode(path), _encoding(encoding))
        if rc != Status.OK:
            raise KavloError(rc, _text(_lib.kavlo_last_error()) or "")
        return _collect()


def detect(data: Union[bytes, str]) -> Format:
    """The format of `data`, without parsing it."""
    if isinstance(data, str):
        data = data.encode("utf-8")
    with _lock:
        buf = ctypes.create_string_buffer(data, len(data))
        return Format(_lib.kavlo_detect(buf, len(data)))
