'use strict';
// write(): a list of plain objects (made by a program, or the items of a
// result, edited) checked and laid out flat for the library's builder, and
// the builder's refusals as errors. The layout (src/plan.h reads it):
//   text       every string followed by "\0": key and value of each
//              #EXTM3U attribute; per item its location, title, key and
//              value of each attribute, tag, key and value of each option
//   shape      Uint32Array: the #EXTM3U attribute count, the item count,
//              then per item its attribute count and option count
//   durations  Float64Array: per item, milliseconds (-1: none)
// No addon needed: the producer of the text (the Node-API addon, the
// WebAssembly module) takes the layout.
const { KavloError, Status } = require('./result');
const { writeArgs } = require('./options');

const hasNul = (s) => s.includes('\0');

function checkString(value, what, optional) {
  if (value === undefined || value === null) {
    if (optional) return '';
    throw new TypeError(`${what} must be a string`);
  }
  if (typeof value !== 'string') throw new TypeError(`${what} must be a string, not ${typeof value}`);
  if (hasNul(value)) throw new TypeError(`${what} must not contain NUL characters`);
  return value;
}

const isGroupKey = (key) => key.length === 11 && key.toLowerCase() === 'group-title';

// Appends the pairs of `attrs` ({key: value} or [[key, value], ...]) to
// `parts`; `group`, when a string, is the value of the first "group-title"
// pair (letters folded), or one more pair at the end. Returns the count.
function pairs(parts, attrs, group, what) {
  let count = 0;
  let grouped = typeof group !== 'string';
  const add = (key, value, at) => {
    const k = checkString(key, `${at} key`, false);
    let v = checkString(value, `${at} ${JSON.stringify(k)}`, false);
    if (isGroupKey(k) && !grouped) {
      v = group;
      grouped = true;
    }
    parts.push(k, v);
    ++count;
  };
  if (attrs === undefined || attrs === null) {
    // nothing
  } else if (Array.isArray(attrs)) {
    attrs.forEach((pair, n) => {
      if (!Array.isArray(pair) || pair.length !== 2) throw new TypeError(`${what}[${n}] must be a [key, value] pair`);
      add(pair[0], pair[1], `${what}[${n}]`);
    });
  } else if (typeof attrs === 'object') {
    for (const key of Object.keys(attrs)) add(key, attrs[key], what);
  } else {
    throw new TypeError(`${what} must be an object or an array of [key, value] pairs`);
  }
  if (!grouped) {
    parts.push('group-title', group);
    ++count;
  }
  return count;
}

/** The layout of `items` (an array or other iterable of objects) and of
 *  the #EXTM3U attributes `header`. */
function layout(items, header) {
  if (items === null || typeof items !== 'object' || typeof items[Symbol.iterator] !== 'function') {
    throw new TypeError('items must be an array (or another iterable) of objects');
  }
  const list = Array.isArray(items) ? items : Array.from(items);
  const parts = [];
  const shape = new Uint32Array(2 + 2 * list.length);
  const durations = new Float64Array(list.length);
  shape[0] = pairs(parts, header, undefined, 'header');
  shape[1] = list.length;
  for (let i = 0; i < list.length; ++i) {
    const item = list[i];
    const at = `items[${i}]`;
    if (item === null || typeof item !== 'object') throw new TypeError(`${at} must be an object`);
    parts.push(checkString(item.location, `${at}.location`, false), checkString(item.title, `${at}.title`, true));
    const d = item.durationMs;
    if (d === undefined || d === null) {
      durations[i] = -1;
    } else if (typeof d !== 'number') {
      throw new TypeError(`${at}.durationMs must be a number, not ${typeof d}`);
    } else if (!Number.isInteger(d)) {
      throw new RangeError(`${at}.durationMs must be an integer (milliseconds; -1 for none), not ${d}`);
    } else {
      durations[i] = d;
    }
    const group = item.group === undefined || item.group === null ? undefined
      : checkString(item.group, `${at}.group`, false);
    shape[2 + 2 * i] = pairs(parts, item.attrs, group, `${at}.attrs`);
    const { options } = item;
    let count = 0;
    if (options !== undefined && options !== null) {
      if (!Array.isArray(options)) throw new TypeError(`${at}.options must be an array of {tag, key, value}`);
      options.forEach((o, n) => {
        const where = `${at}.options[${n}]`;
        if (o === null || typeof o !== 'object') throw new TypeError(`${where} must be an object {tag, key, value}`);
        parts.push(checkString(o.tag, `${where}.tag`, false), checkString(o.key, `${where}.key`, true),
          checkString(o.value, `${where}.value`, true));
      });
      count = options.length;
    }
    shape[3 + 2 * i] = count;
  }
  parts.push('');
  return { text: parts.join('\0'), shape, durations };
}

const refusals = {
  entry: 'its location must be left after trimming and not begin with "#", its location and title hold no ' +
    'CR or LF, and its duration is -1 to 2147483000 ms',
  attribute: 'a key is not empty and holds no "=" or white space, no string holds CR or LF, a value that holds ' +
    'a double quote holds no white space and does not begin with it, and a line has at most 64 attributes',
  option: 'a tag is a letter, then letters, digits, "-" and "_", and none the reader acts on (EXTINF, EXTGRP, ' +
    'EXTM3U, PLAYLIST); a key holds no "="; no string holds CR or LF',
};

/** The error of a refusal {status, item, what, name} of the producer. */
function refusal(r) {
  if (r.status === Status.ERR_NOMEM) return new KavloError(r.status);
  if (r.what === '') return new KavloError(r.status, `a list of entries cannot be written in that format`);
  const where = r.item < 0 ? 'header' : `items[${r.item}]`;
  const what = r.what === 'entry' ? `entry (location ${JSON.stringify(r.name)})`
    : `${r.what} ${JSON.stringify(r.name)}`;
  return new KavloError(r.status, `${where}: ${what} refused: ${refusals[r.what] ?? 'a layout that does not add up'}`);
}

/** [layout, format code, flags, bytes] of write(items, options): format
 *  "m3u" (the default) or "streaming-list" ("txt"); header the #EXTM3U
 *  attributes. */
function writeListArgs(items, options) {
  const [format, flags, bytes] = writeArgs(options, 0);
  if (format === 3) throw new RangeError('a list of entries is written as m3u or streaming-list, not as a CUE sheet');
  const plan = layout(items, options === undefined || options === null ? undefined : options.header);
  return [plan, format === -1 ? 0 : format, flags, bytes];
}

module.exports = { layout, refusal, writeListArgs };
