// Counts the entries of a playlist per group. In a project that installed
// the package, import from 'kavlo-wasm'; in a browser, hand parse() the
// bytes of a File (new Uint8Array(await file.arrayBuffer())).
import { readFile } from 'node:fs/promises';
import { parse, KavloError } from '../index.js';

try {
  const result = parse(await readFile(process.argv[2]));
  const groups = new Map();
  for (const item of result.items) groups.set(item.groupTitle, (groups.get(item.groupTitle) ?? 0) + 1);
  for (const [group, count] of groups) console.log(`${group || '-'}\t${count}`);
  console.log(`${result.items.length} entries, read as ${result.encoding}`);
} catch (e) {
  if (!(e instanceof KavloError)) throw e;
  console.error(`${process.argv[2]}: ${e.message}`);
  process.exitCode = e.status;
}
