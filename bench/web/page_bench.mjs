// The page's speed and size in headless Chromium, opened from disk: the time until it is ready,
// one estimate with its profile, and a survey of 10,000 blocks with a frame's totals; medians.
// usage: node --no-experimental-fetch bench/web/page_bench.mjs build-web/kestrum.html
import { statSync } from "node:fs";
import { pathToFileURL } from "node:url";
import { Browser, withProfile } from "../../tests/web/chromium.mjs";

const page = process.argv[2];
const median = (values) => values.slice().sort((a, b) => a - b)[Math.floor(values.length / 2)];

await withProfile(async (profile) => {
  const browser = new Browser(profile);
  try {
    const ready = [];
    for (let i = 0; i < 7; ++i) {
      const tab = await browser.page(pathToFileURL(page).href);
      await tab.until("document.body && document.body.dataset.ready === 'true'");
      ready.push(Number(await tab.evaluate("document.body.dataset.readyMs")));
    }
    const tab = await browser.page(`${pathToFileURL(page).href}#n100=10&n111=20&n101=5&n110=7`);
    await tab.until("document.body && document.body.dataset.ready === 'true'");
    const estimate = await tab.evaluate(`(() => {
      const times = [];
      for (let i = 0; i < 51; ++i) { const t = performance.now(); pressEstimate(); times.push(performance.now() - t); }
      return times;
    })()`);
    const survey = await tab.evaluate(`(() => {
      let state = 7;
      const count = (n) => Math.floor(((state = (Math.imul(state, 1103515245) + 12345) >>> 0) / 2 ** 32) * n);
      const rows = ["block,stratum,n100,n111,n101,n110,s_fixed,count"];
      for (let i = 0; i < 10000; ++i) {
        const size = 1 + count(40);
        rows.push("b" + i + ",s" + (i % 4) + "," + [0, 0, 0, 0].map(() => count(size)).join(",") + ",," + count(60));
      }
      const asked = JSON.stringify({ survey: rows.join("\\n") + "\\n", frame: "stratum,blocks\\ns0,30000\\ns1,40000\\ns2,50000\\ns3,8000\\n", locale: LOCALE });
      const times = [];
      for (let i = 0; i < 3; ++i) {
        const t = performance.now();
        const answer = JSON.parse(core.survey(asked));
        const computed = performance.now();
        showSurvey(answer, 0);
        times.push([computed - t, performance.now() - t]);
      }
      return times;
    })()`);
    console.log(`file: ${statSync(page).size} bytes`);
    console.log(`ready from disk: median ${median(ready).toFixed(0)} ms of ${ready.length}`);
    console.log(`one estimate with its profile, drawn: median ${median(estimate).toFixed(2)} ms of ${estimate.length}`);
    console.log(`10,000 blocks with totals: median ${median(survey.map((s) => s[0])).toFixed(0)} ms, ` +
      `with the tables drawn ${median(survey.map((s) => s[1])).toFixed(0)} ms, of ${survey.length}`);
  } finally {
    await browser.close();
  }
});
