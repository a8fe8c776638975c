// kestrum.html opened from disk with the network cut off: the link's frequencies are estimated at
// once and the page shows the window's numbers.
import { pathToFileURL } from "node:url";
import assert from "node:assert/strict";
import { Browser, withProfile } from "./chromium.mjs";

const page = pathToFileURL(process.argv[2]).href;

const text = (dom, id) => {
  const match = dom.match(new RegExp(`id="${id}"[^>]*>([^<]*)<`));
  return match ? match[1].replace(/&amp;/g, "&") : undefined;
};

const cases = [
  { link: "#n100=10&n111=20&n101=5&n110=7", result: "-52.741", limits: "95% limits for P: 0.637 to 0.929" },
  // S held: the README's temple row.
  { link: "#n100=12&n111=8&n101=6&n110=9&s_fixed=0.8", result: "-47.521", limits: "95% limits for P: 0.448 to 0.769" },
  // S on its upper bound: the limit lies beyond the range searched, and a warning says so.
  { link: "#n100=3&n111=4&n101=5&n110=6&profile=S", result: "-24.934", limits: "95% limits for S: 0.773 to above 0.99", message: "upper bound 0.99" },
  { link: "#n100=10&n111=20&n101=5&n110=7&count=30", result: "-52.741", population: "About 36.9 dogs (95% limits 32.3 to 47.1)" },
  // A frequency that is not a number is refused, and nothing is estimated.
  { link: "#n100=10&n111=x&n101=5&n110=7", refusal: "The frequency of capture history 1,1,1 is not a number" },
];

// The page's DOM once it has started: waited for, not timed, as the core loads asynchronously.
async function domOf(browser, url) {
  const tab = await browser.page(url);
  await tab.until("document.body && document.body.dataset.ready === 'true'");
  return tab.evaluate("document.documentElement.outerHTML");
}

let passed = 0;
await withProfile(async (profile) => {
const browser = new Browser(profile);
try {
for (const c of cases) {
  const dom = await domOf(browser, page + c.link);
  assert.match(dom, /data-ready="true"/, `${c.link}: the page did not start`);
  if (c.refusal) {
    assert.equal(text(dom, "refusal"), c.refusal, c.link);
    assert.doesNotMatch(dom, /data-estimated/, c.link);
  } else {
    assert.equal(text(dom, "resultLine"), `maximum log likelihood = ${c.result}`, c.link);
    if (c.limits) assert.equal(text(dom, "limitsLine"), c.limits, c.link);
    if (c.message) assert.ok(dom.includes(c.message), `${c.link}: no message with "${c.message}"`);
    if (c.population) assert.ok(text(dom, "population").startsWith(c.population), `${c.link}: ${text(dom, "population")}`);
    // The plot was drawn: the canvas was given its size.
    assert.match(dom, /<canvas id="plot"[^>]*style="width: \d+px/, c.link);
  }
  passed += 1;
}
} finally {
  await browser.close();
}
});
console.log(`${passed} passed, 0 failed`);
