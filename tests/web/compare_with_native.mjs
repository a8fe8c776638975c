// The WebAssembly core against the native kestrum-estimate on a few thousand seeded blocks, with
// strata, a frame, fixed S, street counts and marked dogs: every cell the same text, or the same
// number to 1e-12 of its size. The two C libraries' logarithms may differ in the last bit, which the
// root-finding of the profile limits can carry to the last digit or two of a limit.
import { spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import assert from "node:assert/strict";

const [coreScript, nativeEstimate, blocksArgument] = process.argv.slice(2);
const blocks = Number(blocksArgument || 3000);
const KestrumModule = createRequire(import.meta.url)(resolve(coreScript));
const core = await KestrumModule();

// A small linear congruential generator: the same blocks on every run and every machine.
let state = 20240607;
const random = () => ((state = (Math.imul(state, 1103515245) + 12345) >>> 0) / 2 ** 32);
const count = (n) => Math.floor(random() * n);

const rows = ["block,stratum,n100,n111,n101,n110,s_fixed,count,marked"];
for (let i = 0; i < blocks; ++i) {
  const size = 1 + count(i % 10 === 0 ? 400 : 40);
  const n = [0, 0, 0, 0].map(() => count(size));
  const sFixed = i % 7 === 0 ? (0.5 + count(49) / 100).toFixed(2) : "";
  const street = i % 5 === 4 ? "" : String(count(80));
  const marked = i % 3 === 0 ? "" : String(count(n[0] + n[1] + n[2] + n[3] + 1));
  rows.push(`b${i},s${i % 4},${n.join(",")},${sFixed},${street},${marked}`);
}
const surveyText = rows.join("\n") + "\n";
const frameText = "stratum,blocks\ns0,3000\ns1,4000\ns2,5000\ns3,800\n";

const folder = mkdtempSync(join(tmpdir(), "kestrum-compare-"));
let passed = 0;
try {
  writeFileSync(join(folder, "survey.csv"), surveyText);
  writeFileSync(join(folder, "frame.csv"), frameText);
  for (const settings of [{ args: [], pBy: "stratum" }, { args: ["--p-by", "block", "--profile", "S"], pBy: "block", profileOfP: false }]) {
    const native = spawnSync(nativeEstimate, ["-j", "1", "--frame", join(folder, "frame.csv"), ...settings.args,
      join(folder, "survey.csv")], { encoding: "utf8", maxBuffer: 1 << 30 });
    const web = core.survey(JSON.stringify({
      survey: surveyText, surveyName: join(folder, "survey.csv"), frame: frameText, frameName: "frame.csv",
      pBy: settings.pBy, profileOfP: settings.profileOfP ?? true,
    }));
    const a = native.stdout.split("\n");
    const b = web.csv.split("\n");
    assert.equal(b.length, a.length, `${settings.pBy}: ${b.length} lines against ${a.length}`);
    let largest = 0;
    for (let i = 0; i < a.length; ++i) {
      if (a[i] === b[i]) continue;
      // Quoted text holds no numbers that differ: split on commas outside quotes.
      const cells = (line) => line.match(/("([^"]|"")*"|[^,]*)(,|$)/g).map((c) => c.replace(/,$/, ""));
      const x = cells(a[i]);
      const y = cells(b[i]);
      assert.equal(y.length, x.length, `line ${i + 1}`);
      x.forEach((cell, k) => {
        if (cell === y[k]) return;
        const relative = Math.abs(Number(cell) - Number(y[k])) / Math.max(1, Math.abs(Number(cell)));
        assert.ok(relative <= 1e-12, `${settings.pBy}: line ${i + 1}, column ${k + 1}: ${cell} against ${y[k]}`);
        largest = Math.max(largest, relative);
      });
    }
    console.log(`${settings.pBy}: ${a.length} lines, largest relative difference ${largest}`);
    assert.equal(a.length, blocks + 1 + 1 + 5 + 1);
    passed += 1;
  }
} finally {
  rmSync(folder, { recursive: true, force: true });
}
console.log(`${passed} passed, 0 failed`);
