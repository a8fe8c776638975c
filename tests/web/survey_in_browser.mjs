// The survey page driven as a person would: the survey and its frame chosen through the page's own
// file inputs, in Chromium with the network cut off. The results it saves are the bytes the native
// kestrum-estimate writes with the same settings.
import { spawnSync } from "node:child_process";
import { mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import assert from "node:assert/strict";
import { Browser, withProfile } from "./chromium.mjs";

const [page, nativeEstimate] = process.argv.slice(2);
const folder = mkdtempSync(join(tmpdir(), "kestrum-survey-"));
const survey = join(folder, "survey.csv");
const frame = join(folder, "frame.csv");
writeFileSync(survey, [
  "block,stratum,n100,n111,n101,n110,s_fixed,count",
  "market,centre,10,20,5,7,,30", "station,centre,30,40,10,12,,45", "temple,centre,12,8,6,9,0.8,25",
  "river,edge,3,4,5,6,,20", "farm,edge,20,25,8,10,,18", "mill,edge,15,30,6,9,,22", "school,edge,7,x,2,1,,",
  "",
].join("\n"));
writeFileSync(frame, "stratum,blocks\ncentre,12\nedge,30\n");

let passed = 0;
try {
  await withProfile(async (profile) => {
    const browser = new Browser(profile);
    try {
      const tab = await browser.page(pathToFileURL(page).href);
      await tab.until("document.body && document.body.dataset.ready === 'true'");
      await tab.evaluate("document.getElementById('tabSurvey').click()");
      await tab.evaluate("document.getElementById('digits').value = '3'");
      const { root } = await tab.send("DOM.getDocument", {});
      for (const [selector, file] of [["#frameFile", frame], ["#surveyFile", survey]]) {
        const { nodeId } = await tab.send("DOM.querySelector", { nodeId: root.nodeId, selector });
        await tab.send("DOM.setFileInputFiles", { nodeId, files: [file] });
      }
      await tab.until("document.body.dataset.surveyDone === 'true' && lastSurvey.totals.length > 0");
      const saved = await tab.evaluate("lastSurvey.csv");
      const shown = await tab.evaluate("document.getElementById('totalsTable').textContent");

      // What the tables show: the strata and the city, and the row that is not a block.
      assert.match(shown, /centre/);
      assert.match(shown, /1269\.445/);
      assert.match(await tab.evaluate("document.getElementById('surveyMessages').textContent"),
        /survey\.csv:8: n111 is not a number: "x"/);
      assert.match(saved, /\nblock,2,market,ok,true,0\.837,0\.814,-52\.741,0\.637,false,0\.929,false,/);
      assert.match(saved, /\ntotal,,,ok,(,*)7,6,42,1269\.445,104\.818,1095\.937,1516\.564,30\.225,stratum,/);
      passed += 2;

      if (nativeEstimate) {
        const native = spawnSync(nativeEstimate, ["--digits", "3", "--frame", frame, "-j", "1", survey], { encoding: "utf8" });
        assert.equal(saved, native.stdout, "the page's results differ from kestrum-estimate's");
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
