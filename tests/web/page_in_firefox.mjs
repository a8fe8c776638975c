// kestrum.html in headless Firefox, opened from disk with no network: the page starts, a link
// estimates at once, and a survey and a plan run through the core, as in Chromium.
// usage: node --experimental-websocket page_in_firefox.mjs kestrum.html
import { pathToFileURL } from "node:url";
import assert from "node:assert/strict";
import { Firefox } from "./firefox.mjs";

const page = pathToFileURL(process.argv[2]).href;
const survey = [
  "block,stratum,n100,n111,n101,n110,s_fixed,count", "market,centre,10,20,5,7,,30", "station,centre,30,40,10,12,,45",
  "temple,centre,12,8,6,9,0.8,25", "river,edge,3,4,5,6,,20", "farm,edge,20,25,8,10,,18", "mill,edge,15,30,6,9,,22", "",
].join("\n");

const cases = [
  { what: "a link", expression: "document.getElementById('resultLine').textContent + ' | ' + document.getElementById('limitsLine').textContent",
    expected: /^maximum log likelihood = -52\.741 \| 95% limits for P: 0\.637 to 0\.929$/ },
  { what: "a survey", expression: `(() => { const a = runCore({ survey: ${JSON.stringify(survey)}, surveyName: "survey.csv",
      frame: "stratum,blocks\\ncentre,12\\nedge,30\\n", digits: 3, locale: LOCALE }); showSurvey(a, 0);
      return a.csv + document.getElementById("totalsTable").textContent; })()`,
    expected: /\nblock,2,market,ok,true,0\.837,0\.814,-52\.741,0\.637,false,0\.929,false,[^]*1269\.445/ },
  { what: "a plan", expression: "(pressPlan(), lastPlan.csv)", expected: /\n,460,80,/ },
];

let passed = 0;
const firefox = await Firefox.start();
try {
  await firefox.open(`${page}#n100=10&n111=20&n101=5&n110=7`);
  await firefox.until("document.body && document.body.dataset.ready === 'true'");
  for (const c of cases) {
    assert.match(await firefox.evaluate(c.expression), c.expected, c.what);
    passed += 1;
  }
} finally {
  await firefox.close();
}
console.log(`${passed} passed, 0 failed`);
