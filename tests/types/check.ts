// Type checks of the Node.js and WebAssembly packages' declarations: the
// uses their READMEs show compile under --strict, and the lines marked as
// expected errors stay errors (a declaration that slid to `any`, or lost
// a member, fails here). Checked with `tsc --noEmit`; nothing runs.
import * as node from '../../node/index';
import * as wasm from '../../wasm/index';

type Same<A, B> = [A] extends [B] ? ([B] extends [A] ? true : false) : false;
const same = <A, B>(yes: Same<A, B>) => yes;

// The result objects are the same in both packages (one lib/result.js).
same<node.ItemData, wasm.ItemData>(true);
same<node.CueTrack, wasm.CueTrack>(true);
same<node.CueSheet, wasm.CueSheet>(true);
same<node.Diagnostic, wasm.Diagnostic>(true);
same<node.EntryInput, wasm.EntryInput>(true);
same<node.FormatName, wasm.FormatName>(true);

async function withNode(buffer: Buffer) {
  const r = node.parse(buffer, { encoding: 'cp1252' });
  const text: string = node.parse('#EXTM3U\n', null).format;
  for (const item of r.items) {
    const where: string = item.location;
    const group: string = item.groupTitle;
    const agent: string | undefined = item.http?.['user-agent'];
    const mode: string | undefined = item.catchup?.mode;
    const plain: node.ItemData = item.toJSON();
    item.title = `${where} ${group} ${agent ?? ''} ${mode ?? ''} ${plain.line}`;
    // @ts-expect-error a line is a number
    const line: string = item.line;
  }
  const sheet = (await node.parseFileAsync(new URL('file:///a.cue'))).cue;
  const first = sheet?.tracks[0]?.indices[0]?.frames;
  const bytes: Buffer = r.toText({ format: 'txt', bytes: true });
  const m3u: string = r.toM3U({ crlf: true });
  const listed: string = node.write(r.items.filter((i) => i.attr('tvg-id')), { header: r.header });
  const raw: Buffer = node.write([{ location: 'http://x/', title: 'T', durationMs: -1, group: 'News' }], { bytes: true });
  // @ts-expect-error an entry needs a location
  node.write([{ title: 'T' }]);
  // @ts-expect-error a result's format is a name
  const code: number = r.format;
  try {
    node.parseFile('/none');
  } catch (e) {
    if (e instanceof node.KavloError && e.status === node.Status.ERR_IO) console.log(e.code, e.message);
  }
  return [text, first, bytes, m3u, listed, raw, node.detect(buffer), node.version];
}

function withWasm(bytes: Uint8Array) {
  const r = wasm.parse(bytes, { format: 'm3u' });
  const out: Uint8Array = r.toText({ bytes: true });
  const doc: string = wasm.parseToJson('#EXTM3U\n');
  const titles: string[] = r.items.map((i) => i.title);
  const text: string = wasm.write(r.items, { format: 'streaming-list' });
  // @ts-expect-error the WebAssembly package reads no files
  wasm.parseFile('/a.m3u');
  wasm.release();
  return [out, doc, titles, text, r.diagnostics[0]?.line];
}

export { withNode, withWasm };
