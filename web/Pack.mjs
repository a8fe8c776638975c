// Files as the page carries them, one after another: gzipped (by zopfli, some 4% smaller than
// gzip -9), then in base 85 (a quarter larger, where base 64 is a
// third) with an alphabet that has no '<', so that it can never end the <script> element holding
// it. The text is the byte count, a space, then five characters for every four bytes, the last
// four padded with zeros. The page unpacks it with DecompressionStream.
// usage: node Pack.mjs ZOPFLI output input...
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, renameSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const [zopfli, output, ...inputs] = process.argv.slice(2);
const alphabet = [];
for (let c = 0x21; alphabet.length < 85; ++c) if (c !== 0x3c) alphabet.push(String.fromCharCode(c));

const folder = mkdtempSync(join(tmpdir(), "kestrum-pack-"));
let packed;
try {
  const whole = join(folder, "whole");
  writeFileSync(whole, Buffer.concat(inputs.map((input) => readFileSync(input))));
  packed = execFileSync(zopfli, ["--gzip", "-c", whole], { maxBuffer: 1 << 30 });
} finally {
  rmSync(folder, { recursive: true, force: true });
}
const bytes = new Uint8Array(Math.ceil(packed.length / 4) * 4);
bytes.set(packed);
const view = new DataView(bytes.buffer);
const text = [];
for (let i = 0; i < bytes.length; i += 4) {
  let value = view.getUint32(i);
  const group = new Array(5);
  for (let k = 4; k >= 0; --k) {
    group[k] = alphabet[value % 85];
    value = Math.floor(value / 85);
  }
  text.push(group.join(""));
}
// Written whole, then put in place, so that a failed build leaves no half file.
writeFileSync(`${output}.part`, `${packed.length} ${text.join("")}`);
renameSync(`${output}.part`, output);
