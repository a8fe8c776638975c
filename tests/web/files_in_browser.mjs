// The survey and planner pages driven as a person would: the files chosen through the page's own
// file inputs, the settings typed in its boxes, in Chromium with the network cut off. What the
// page saves is the bytes the native programs write with the same settings.
// usage: node files_in_browser.mjs kestrum.html [kestrum-estimate [kestrum-plan]]
import { spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import assert from "node:assert/strict";
import { Browser, withProfile } from "./chromium.mjs";

const [page, nativeEstimate, nativePlan] = process.argv.slice(2);
const folder = mkdtempSync(join(tmpdir(), "kestrum-files-"));
const file = (name, lines) => {
  writeFileSync(join(folder, name), lines.join("\n") + "\n");
  return join(folder, name);
};

const survey = file("survey.csv", [
  "block,stratum,n100,n111,n101,n110,s_fixed,count,marked",
  "market,centre,10,20,5,7,,30,12", "station,centre,30,40,10,12,,45,20", "temple,centre,12,8,6,9,0.8,25,",
  "river,edge,3,4,5,6,,20,2", "farm,edge,20,25,8,10,,18,30", "mill,edge,15,30,6,9,,22,9", "school,edge,7,x,2,1,,,",
]);
const frame = file("frame.csv", ["stratum,blocks", "centre,12", "edge,30"]);
// A sheet of sightings with what such sheets get wrong, and the same dogs one row each.
const sightings = file("sightings.csv", [
  "block,dog,visit,marked,count,team", "market,brownie,1,yes,30,A", "market,patch,1,no,,A",
  "market,brownie,2,,,A", "market,tripod,2,no,,B", "market,brownie,3,,,A", "market,patch,3,,,A",
  "station,sandy,1,yes,,B", "station,ears,1,,,B", "station,sandy,2,,,B", "station,sandy,2,,,B",
  "station,sandy,3,no,,B", "station,brownie,1,yes,,B", "station,rex,4,,,B",
]);
const dogs = file("dogs.csv", [
  "block;dog;visit1;visit2;visit3;marked;count", "market;brownie;x;x;x;yes;30", "market;patch;x;;x;no;",
  "market;tripod;;x;;no;", "station;sandy;yes;yes;yes;yes;3,5", "station;ears;yes;;;;", "station;brownie;yes;;;yes;",
]);

// Each case: the files chosen, the boxes typed, kestrum-estimate's arguments for the same, and
// what the page must show. Rounded, as the C libraries' logarithms may differ in the last bit
// (compare_with_native.mjs compares every digit, to 1e-12).
const surveys = [
  {
    files: { frameFile: frame, surveyFile: survey }, boxes: { digits: "3" }, args: ["--digits", "3", "--frame", frame],
    totals: /1269\.445/, messages: /survey\.csv:8: n111 is not a number: "x"/,
    saved: /\nblock,2,market,ok,true,0\.837,0\.814,-52\.741,0\.637,false,0\.929,false,/,
    // The forest plot as the survey window draws it: each stratum's blocks, then its dogs per block.
    forest: /^centre market 36\.9 \(32\.3 to 47\.1\) station .* centre: dogs per block .* edge .* city: dogs per block/,
  },
  {
    files: { frameFile: frame, surveyFile: survey }, boxes: { pBy: "survey", coverageTarget: "0.8", surveyProfile: "S", digits: "6" },
    args: ["--frame", frame, "--p-by", "survey", "--coverage-target", "0.8", "--profile", "S", "--digits", "6"],
    totals: /centre/, warnings: /below the target of 80\.0%/,
  },
  {
    files: { surveyFile: sightings }, boxes: { frameBlocks: "40", coverageTarget: "0.75", digits: "4" },
    args: ["--blocks", "40", "--coverage-target", "0.75", "--digits", "4"], tally: [],
    messages: /sightings\.csv:11: warning: dog entered twice for one visit, counted once: "sandy" on visit 2/,
    rows: /\x1fstation\x1f/,
  },
  {
    files: { surveyFile: dogs }, boxes: { pBy: "block", digits: "5" }, args: ["--p-by", "block", "--digits", "5"], tally: [],
    rows: /\x1fmarket\x1f/,
  },
  // A locale with a decimal comma: the boxes read and the tables show numbers in it; the output
  // is the program's.
  {
    locale: "de-DE", files: { frameFile: frame, surveyFile: survey }, boxes: { coverageTarget: "0,8", digits: "3" },
    args: ["--frame", frame, "--coverage-target", "0.8", "--digits", "3"], totals: /1269,445/, saved: /,1269\.445,/,
  },
  // A setting that is no setting runs nothing, and says which box.
  { files: { surveyFile: survey }, boxes: { coverageTarget: "1.5" }, status: /The coverage target must be a share above 0 and at most 1/ },
  { files: { surveyFile: survey }, boxes: { digits: "2.5" }, status: /The decimals must be a whole number from 0 to 15/ },
];

const plan = file("plan.csv", [
  "stratum,blocks,dogs_per_block,dogs_cv,P,S", "centre,40,25,0.4,0.6,0.8", "town,120,15,0.5,0.5,0.85",
  "edge,300,8,0.5,0.45,0.9",
]);
const planSemicolons = file("plan-semicolons.csv", [
  "stratum;blocks;dogs_per_block;dogs_cv;P;S", "\"north; old town\";60;20;0,3;0,55;0,8", "south;200;9;0,6;0,4;0,9",
]);
const badPlan = file("plan-bad.csv", ["stratum,blocks,dogs_per_block,dogs_cv,P,S", "centre,40,25,0.4,1.2,0.8"]);
const plans = [
  { file: plan, boxes: { target: "20", planDigits: "3" }, args: ["--target", "20", "--digits", "3"], shown: /80/ },
  {
    locale: "de-DE", file: planSemicolons, boxes: { target: "17,5", blocksPerDay: "1,5", planDigits: "2" },
    args: ["--target", "17.5", "--blocks-per-day", "1.5", "--digits", "2"], shown: /0,55/,
  },
  { file: planSemicolons, boxes: { goalBlocks: true, budget: "30", blocksPerDay: "2" }, args: ["--blocks", "30", "--blocks-per-day", "2"] },
  // What kestrum-plan refuses the page refuses, in its words.
  { file: plan, boxes: { target: "0.5" }, args: ["--target", "0.5"], refused: true },
  { file: badPlan, boxes: { target: "20" }, args: ["--target", "20"], refused: true },
];

const native = (program, args) => spawnSync(program, args, { encoding: "utf8", maxBuffer: 1 << 30 });

async function typeBoxes(tab, boxes) {
  for (const [id, value] of Object.entries(boxes)) {
    await tab.evaluate(typeof value === "boolean" ? `document.getElementById(${JSON.stringify(id)}).checked = ${value}`
      : `document.getElementById(${JSON.stringify(id)}).value = ${JSON.stringify(value)}`);
  }
}

async function chooseFiles(tab, files) {
  const { root } = await tab.send("DOM.getDocument", {});
  for (const [id, path] of Object.entries(files)) {
    const { nodeId } = await tab.send("DOM.querySelector", { nodeId: root.nodeId, selector: `#${id}` });
    await tab.send("DOM.setFileInputFiles", { nodeId, files: [path] });
  }
}

let passed = 0;
try {
  await withProfile(async (profile) => {
    const browser = new Browser(profile);
    try {
      for (const c of surveys) {
        const what = `${Object.values(c.files).join(" ")} ${JSON.stringify(c.boxes)}`;
        const tab = await browser.page(pathToFileURL(page).href, c.locale);
        await tab.until("document.body && document.body.dataset.ready === 'true'");
        await tab.evaluate("document.getElementById('tabSurvey').click()");
        await typeBoxes(tab, c.boxes);
        await chooseFiles(tab, c.files);
        await tab.until("lastSurvey !== null");
        const text = (id) => tab.evaluate(`document.getElementById(${JSON.stringify(id)}).textContent`);
        if (c.status) {
          assert.match(await text("surveyStatus"), c.status, what);
          assert.equal(await tab.evaluate("document.body.dataset.surveyDone"), undefined, what);
          passed += 1;
          continue;
        }
        const saved = await tab.evaluate("lastSurvey.csv");
        if (c.totals) assert.match(await text("totalsTable"), c.totals, what);
        if (c.warnings) assert.match(await text("totalsWarnings"), c.warnings, what);
        if (c.messages) assert.match(await text("surveyMessages"), c.messages, what);
        if (c.saved) assert.match(saved, c.saved, what);
        if (c.forest) {
          const texts = await tab.evaluate(`JSON.parse(lastSurvey.forest.draw(JSON.stringify({ first: 0,
            canvas: { width: 949, height: 600, lineHeight: 13, characterWidth: 6 } }))).ops
            .filter((op) => op[0] === "text").map((op) => op[3]).join(" ")`);
          assert.match(texts.replace(/^block dogs \(95% limits\) /, ""), c.forest, what);
          assert.equal(await tab.evaluate("document.getElementById('forestBox').hidden"), false, what);
        }
        // The blocks' table has the rows in view, and says how many there are in all.
        assert.match(await tab.evaluate("lastSurvey.table"), c.rows || /\x1e/, what);
        assert.ok(Number(await tab.evaluate("document.querySelector('#blocksTable table').getAttribute('aria-rowcount')")) > 1, what);
        if (nativeEstimate) {
          const input = c.files.surveyFile;
          assert.equal(saved, native(nativeEstimate, ["-j", "1", ...c.args, input]).stdout, `${what}: the results differ`);
          if (c.tally) {
            await tab.evaluate("document.getElementById('saveTally').click()");
            assert.equal(await tab.evaluate("lastSurvey.tally"), native(nativeEstimate, ["--tally", input]).stdout,
              `${what}: the tally differs`);
          }
        }
        passed += 1;
      }

      for (const c of plans) {
        const what = `${c.file} ${JSON.stringify(c.boxes)}`;
        const tab = await browser.page(pathToFileURL(page).href, c.locale);
        await tab.until("document.body && document.body.dataset.ready === 'true'");
        await typeBoxes(tab, c.boxes);
        await chooseFiles(tab, { planFile: c.file });
        await tab.until("document.body.dataset.planned !== undefined");
        const shown = await tab.evaluate("document.getElementById('planPage').textContent");
        if (nativePlan) {
          const curve = join(folder, "curve.csv");
          rmSync(curve, { force: true });
          const run = native(nativePlan, [...c.args, "--curve", curve, c.file]);
          if (c.refused) {
            assert.notEqual(run.status, 0, what);
            const why = run.stderr.trim().replace(/^kestrum-plan: /, "").replace(/^table:\d+: /, "");
            assert.ok(shown.includes(why.replace(/^.*plan-bad\.csv:2: /, "")), `${what}: the page does not say "${why}"`);
          } else {
            assert.equal(await tab.evaluate("lastPlan.csv"), run.stdout, `${what}: the plans differ`);
            assert.equal(await tab.evaluate("lastPlan.curveCsv"), readFileSync(curve, "utf8"), `${what}: the curves differ`);
          }
        }
        assert.equal(await tab.evaluate("document.body.dataset.planned"), String(!c.refused), what);
        if (c.shown) assert.match(shown, c.shown, what);
        // The curve was drawn: its canvas shown and given its size.
        if (!c.refused) assert.equal(await tab.evaluate("document.getElementById('planCurve').hidden"), false, what);
        passed += 1;
      }
    } finally {
      await browser.close();
    }
  });
} finally {
  rmSync(folder, { recursive: true, force: true });
}
console.log(`${passed} passed, 0 failed`);
