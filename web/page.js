// The page's script: it reads the boxes, hands their text to the C++ core and puts what comes back
// in place. Every number is computed and formatted by the core; this script only places words
// (texts.js) around them and replays the plot's drawing on a canvas.
"use strict";

const T = kestrumTexts();
const $ = (id) => document.getElementById(id);
let core = null;

function say(key, values = {}) {
  const text = T[key] ?? key;
  return text.replace(/\{(\w+)\}/g, (whole, name) => (name in values ? values[name] : whole));
}

// The browser's locale, as much of it as a number needs.
const LOCALE = (() => {
  const partOf = (parts, type, fallback) => (parts.find((p) => p.type === type) || {}).value || fallback;
  const format = new Intl.NumberFormat(undefined, { signDisplay: "always", useGrouping: false });
  return {
    decimalPoint: partOf(format.formatToParts(1.5), "decimal", "."),
    negativeSign: partOf(format.formatToParts(-1), "minusSign", "-"),
    positiveSign: partOf(format.formatToParts(1), "plusSign", "+"),
  };
})();
const fromLink = (value) => String(value).replace(".", LOCALE.decimalPoint);
const toLink = (value) => String(value).trim().replace(LOCALE.decimalPoint, ".");

function putTexts() {
  document.documentElement.lang = T === KESTRUM_TEXTS.en ? "en" : document.documentElement.lang;
  for (const element of document.querySelectorAll("[data-text]")) element.textContent = say(element.dataset.text);
  for (const element of document.querySelectorAll("[data-label]")) element.setAttribute("aria-label", say(element.dataset.label));
}

async function loadCore() {
  // The WebAssembly travels inside the page, gzipped and in base64: no second file to fetch,
  // which a page opened from disk could not.
  const packed = $("kestrum-core-wasm").textContent.trim();
  const bytes = Uint8Array.from(atob(packed), (c) => c.charCodeAt(0));
  const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("gzip"));
  const wasmBinary = await new Response(stream).arrayBuffer();
  return KestrumModule({ wasmBinary });
}

// ---------------------------------------------------------------------------------------------
// Drawing

const PLOT_WIDTH = 949; // the window's picture box, inside its border
const PLOT_HEIGHT = 381;
const PLOT_FONT = "11px 'Liberation Sans', Arial, 'DejaVu Sans', sans-serif";
const PLOT_LINE_HEIGHT = 13;

function plotSize() {
  const width = Math.min(PLOT_WIDTH, Math.floor($("plot").parentElement.clientWidth || PLOT_WIDTH) - 2);
  return { width: Math.max(240, width), height: PLOT_HEIGHT, lineHeight: PLOT_LINE_HEIGHT };
}

const colourOf = (c) => `rgb(${c & 255}, ${(c >> 8) & 255}, ${(c >> 16) & 255})`;

// The core's drawing calls, replayed as the window's picture box makes them: one-pixel lines from
// the pixel that holds each end, dashes 6 on and 4 off, text by its top-left corner.
function replay(canvas, plot) {
  const ratio = window.devicePixelRatio || 1;
  canvas.width = Math.round(plot.width * ratio);
  canvas.height = Math.round(plot.height * ratio);
  canvas.style.width = `${plot.width}px`;
  canvas.style.aspectRatio = `${plot.width} / ${plot.height}`;
  const g = canvas.getContext("2d");
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.fillStyle = "#fff";
  g.fillRect(0, 0, plot.width, plot.height);
  g.font = PLOT_FONT;
  g.textBaseline = "top";
  g.lineWidth = 1;
  const finite = (...values) => values.every((v) => typeof v === "number" && Number.isFinite(v));
  for (const op of plot.ops) {
    if (op[0] === "clear") {
      g.fillStyle = "#fff";
      g.fillRect(0, 0, plot.width, plot.height);
    } else if (op[0] === "line" && finite(op[1], op[2], op[3], op[4])) {
      g.strokeStyle = colourOf(op[5]);
      g.setLineDash(op[6] ? [6, 4] : []);
      g.beginPath();
      g.moveTo(Math.floor(op[1]) + 0.5, Math.floor(op[2]) + 0.5);
      g.lineTo(Math.floor(op[3]) + 0.5, Math.floor(op[4]) + 0.5);
      g.stroke();
    } else if (op[0] === "text" && finite(op[1], op[2])) {
      g.fillStyle = colourOf(op[4]);
      g.fillText(op[3], op[1], op[2]);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The block page

const BOXES = ["n100", "n111", "n101", "n110", "S", "P", "range"];
let lastPress = null; // the request and answer of the last estimate

function limitText(limit) {
  if (limit.kind === "found") return limit.value;
  if (limit.kind === "below") return say("limitBelow", { value: limit.value });
  if (limit.kind === "above") return say("limitAbove", { value: limit.value });
  return say("limitNotGiven");
}

function boxName(refusal) {
  if (refusal.history) return say("boxHistory", { history: refusal.history });
  return say({ S: "boxS", P: "boxP", frequencies: "boxFrequencies", range: "boxRange", count: "boxCount" }[refusal.box]);
}

function refuse(refusal) {
  const box = refusal.box === "frequencies" ? "n100" : refusal.box;
  $("refusal").textContent = say("refused", { box: boxName(refusal), reason: refusal.reason });
  $("refusal").hidden = false;
  const input = $(box);
  if (input) {
    input.focus();
    input.select();
  }
}

function messageText(message) {
  if (message.text) return message.text;
  const which = (sides) =>
    sides.length === 1 ? say("markOneSide", { side: say(sides[0]) }) : say("markBothSides");
  switch (message.key) {
    case "rounded":
      return say("rounded", {
        items: message.items.map((item) => say("roundedItem", item)).join(say("listSeparator")),
      });
    case "plotTooFewPoints":
      return say("plotTooFewPoints", { ...message, plural: message.points === 1 ? "" : "s" });
    case "plotFlat":
      return say("plotFlat", message);
    case "markOffCurve":
      return say("markOffCurve", { which: which(message.sides), onBound: message.onBound ? say("markOnBound") : "" });
    case "markOutside":
      return say("markOutside", { which: which(message.sides), them: say(message.sides.length === 1 ? "markIt" : "markThem") });
    default:
      return message.key;
  }
}

function table(columns, rows) {
  const t = document.createElement("table");
  const head = t.createTHead().insertRow();
  for (const column of columns) {
    const th = document.createElement("th");
    th.textContent = column;
    head.appendChild(th);
  }
  const body = t.createTBody();
  for (const row of rows) {
    const tr = body.insertRow();
    row.forEach((cell, i) => {
      const td = tr.insertCell();
      td.textContent = cell;
      if (i > 0) td.className = "number";
    });
  }
  return t;
}

function paragraph(text) {
  const p = document.createElement("p");
  p.textContent = text;
  return p;
}

function summaryText(summary) {
  return say("summary", {
    value: summary.logLikelihood,
    what: summary.sFree ? say("bothEstimated") : say("sHeldEstimated", { value: summary.sHeld }),
  });
}

function estimateRows(details) {
  const dash = say("dash");
  const wald = (w) => w ? say("range", {
    lower: w.lower + (w.lowerOutside ? say("waldMark") : ""),
    upper: w.upper + (w.upperOutside ? say("waldMark") : ""),
  }) : dash;
  const profile = (p) => p.reason ? p.reason : say("range", { lower: limitText(p.lower), upper: limitText(p.upper) });
  return details.estimates.map((row) => row.held !== undefined
    ? [row.parameter, say("heldAt", { value: row.held }), dash, dash, dash]
    : [row.parameter, row.estimate, row.se ?? dash, wald(row.wald), profile(row.profile)]);
}

function estimateNotes(details) {
  if (details.noStandardErrors) return [say("noStandardErrors", { reason: details.noStandardErrors })];
  return details.waldOutside ? [say("waldOutside")] : [];
}

function fitCheckText(check) {
  if (check.reason) return say("noFitCheck", { reason: check.reason });
  const p = (value) => (value.below ? say("pBelow", { value: value.below }) : value.value);
  return say("fitCheck", {
    g2: check.g2, x2: check.x2, df: check.df, plural: check.df === 1 ? "" : "s",
    pG2: p(check.pG2), pX2: p(check.pX2), rough: check.lowExpected ? say("fitCheckRough") : "",
  });
}

function populationText(population) {
  if (!population || population.empty) return say("populationPrompt");
  if (population.refused) return say("populationRefused", { reason: population.refused });
  if (population.reason) return population.reason;
  return say("population", {
    estimate: population.estimate, lower: limitText(population.lower), upper: limitText(population.upper),
    caveat: population.caveat,
  });
}

function frequencyTable(details) {
  const dash = say("dash");
  return table([say("columnHistory"), say("columnObserved"), say("columnExpected")],
    details.frequencies.map((f) => [f.history, f.observed, f.expected ?? dash]));
}

function estimatesTable(details) {
  return table([say("columnParameter"), say("columnEstimate"), say("columnSE"), say("columnWald"), say("columnProfile")],
    estimateRows(details));
}

function showDetails(answer) {
  const body = $("detailsBody");
  body.replaceChildren();
  const heading = (key) => {
    const h = document.createElement("h3");
    h.textContent = say(key);
    return h;
  };
  body.append(heading("estimatesHeading"), paragraph(summaryText(answer.details.summary)), estimatesTable(answer.details));
  for (const note of estimateNotes(answer.details)) body.append(paragraph(note));
  body.append(heading("fitCheckHeading"), frequencyTable(answer.details), paragraph(fitCheckText(answer.details.fitCheck)));
  $("population").textContent = populationText(answer.population);
}

function request(extra = {}) {
  const boxes = {};
  for (const name of BOXES) boxes[name] = $(name).value;
  boxes.count = $("count").value;
  return {
    boxes, sFree: $("sFree").checked, profileOfP: $("optP").checked, locale: LOCALE,
    canvas: plotSize(), reportCanvas: { width: PLOT_WIDTH, height: PLOT_HEIGHT, lineHeight: PLOT_LINE_HEIGHT },
    ...extra,
  };
}

function showMessages(list, texts) {
  list.replaceChildren(...texts.map((text) => {
    const li = document.createElement("li");
    li.textContent = text;
    return li;
  }));
}

function pressEstimate() {
  $("refusal").hidden = true;
  const asked = request();
  const answer = JSON.parse(core.estimate(JSON.stringify(asked)));
  if (answer.refused) {
    refuse(answer.refused);
    return null;
  }
  $("S").value = answer.boxes.S;
  $("P").value = answer.boxes.P;
  $("resultLine").textContent = say("resultLine", { value: answer.result });
  $("resultLine").hidden = false;
  const limits = answer.limits;
  $("limitsLine").textContent = limits.none === "fixed" ? say("limitsFixed")
    : limits.none ? say("limitsNone", limits)
    : say("limitsLine", { parameter: limits.parameter, lower: limitText(limits.lower), upper: limitText(limits.upper) });
  $("limitsLine").hidden = false;
  replay($("plot"), answer.plot);
  showMessages($("messages"), answer.messages.map(messageText));
  showDetails(answer);
  lastPress = { asked, answer, when: new Date() };
  writeLink(asked);
  writeReport();
  $("share").disabled = false;
  $("print").disabled = false;
  document.body.dataset.estimated = "true";
  return answer;
}

function pressSimulate() {
  $("refusal").hidden = true;
  const answer = JSON.parse(core.simulate(JSON.stringify({ boxes: { S: $("S").value, P: $("P").value }, locale: LOCALE })));
  if (answer.refused) {
    refuse(answer.refused);
    return;
  }
  for (const [box, value] of Object.entries(answer.boxes)) $(box).value = value;
  if (answer.failed) {
    $("refusal").textContent = say("simulateFailed", { history: answer.failed, P: $("P").value.trim(), S: $("S").value.trim() });
    $("refusal").hidden = false;
  }
}

// The street count changes only the dogs in the block: the last estimate's boxes, with it.
function updatePopulation() {
  if (!lastPress) {
    $("population").textContent = $("count").value.trim() ? say("pressFirst") : say("populationPrompt");
    return;
  }
  const asked = { ...lastPress.asked, boxes: { ...lastPress.asked.boxes, count: $("count").value } };
  const answer = JSON.parse(core.estimate(JSON.stringify(asked)));
  if (answer.refused) return;
  lastPress = { asked, answer, when: lastPress.when };
  $("population").textContent = populationText(answer.population);
  writeLink(asked);
  writeReport();
}

// ---------------------------------------------------------------------------------------------
// The link: kestrum.html#n100=10&n111=20&n101=5&n110=7 (and s_fixed, count) estimates at once.

function readLink() {
  const fields = new URLSearchParams(location.hash.replace(/^#/, ""));
  const histories = ["n100", "n111", "n101", "n110"];
  if (!histories.every((name) => fields.has(name))) return false;
  for (const name of histories) $(name).value = fromLink(fields.get(name));
  if (fields.has("s_fixed") && fields.get("s_fixed") !== "") {
    $("S").value = fromLink(fields.get("s_fixed"));
    $("sFree").checked = false;
  }
  if (fields.has("count")) $("count").value = fromLink(fields.get("count"));
  if (fields.has("range")) $("range").value = fromLink(fields.get("range"));
  if (fields.get("profile") === "S") $("optS").checked = true;
  return true;
}

function writeLink(asked) {
  const fields = new URLSearchParams();
  for (const name of ["n100", "n111", "n101", "n110"]) fields.set(name, toLink(asked.boxes[name]));
  if (!asked.sFree) fields.set("s_fixed", toLink(asked.boxes.S));
  if (asked.boxes.count.trim()) fields.set("count", toLink(asked.boxes.count));
  if (toLink(asked.boxes.range) !== "30") fields.set("range", toLink(asked.boxes.range));
  if (!asked.profileOfP) fields.set("profile", "S");
  history.replaceState(null, "", `#${fields.toString()}`);
}

// ---------------------------------------------------------------------------------------------
// The report: the window's, as one printed page.

function writeReport() {
  const { answer, when } = lastPress;
  const report = $("report");
  report.replaceChildren();
  const add = (tag, text) => {
    const element = document.createElement(tag);
    element.textContent = text;
    report.append(element);
    return element;
  };
  const pad = (n) => String(n).padStart(2, "0");
  const stamp = `${when.getFullYear()}-${pad(when.getMonth() + 1)}-${pad(when.getDate())} ${pad(when.getHours())}:${pad(when.getMinutes())}`;
  add("h2", say("reportTitle"));
  add("p", say("stamp", { when: stamp, version: KESTRUM_VERSION }));
  add("h3", say("dataHeading"));
  report.append(frequencyTable(answer.details));
  const settings = answer.settings;
  add("p", say("settings", {
    what: settings.sFree ? say("bothEstimated") : say("sHeldSettings", { value: settings.sHeld }),
    parameter: settings.parameter, range: settings.range,
  }));
  add("h3", say("estimatesHeading"));
  add("p", summaryText(answer.details.summary));
  report.append(estimatesTable(answer.details));
  for (const note of estimateNotes(answer.details)) add("p", note);
  add("h3", say("fitCheckHeading"));
  add("p", fitCheckText(answer.details.fitCheck));
  if (answer.population && !answer.population.empty) {
    add("h3", say("populationHeading"));
    add("p", `${$("count").value.trim()}: ${populationText(answer.population)}`);
  }
  add("h3", say("messagesHeading"));
  const messages = answer.messages.map(messageText);
  if (messages.length === 0) add("p", say("noMessages"));
  else {
    const list = add("ul", "");
    showMessages(list, messages);
  }
  add("h3", say("plotHeading"));
  const canvas = document.createElement("canvas");
  replay(canvas, answer.reportPlot);
  const image = document.createElement("img");
  image.src = canvas.toDataURL("image/png");
  image.alt = say("plotLabel");
  report.append(image);
  add("p", say("plotCaption", { parameter: settings.parameter, axis: say(settings.parameter === "P" ? "axisP" : "axisS") }));
}

// ---------------------------------------------------------------------------------------------

function showPage(survey) {
  $("blockPage").hidden = survey;
  $("surveyPage").hidden = !survey;
  $("tabBlock").setAttribute("aria-pressed", String(!survey));
  $("tabSurvey").setAttribute("aria-pressed", String(survey));
}

async function start() {
  putTexts();
  try {
    core = await loadCore();
  } catch (error) {
    $("status").textContent = say("loadFailed", { reason: String(error) });
    return;
  }
  $("status").textContent = "";
  $("blockForm").addEventListener("submit", (event) => {
    event.preventDefault();
    pressEstimate();
  });
  $("simulate").addEventListener("click", pressSimulate);
  $("count").addEventListener("input", updatePopulation);
  $("share").addEventListener("click", async () => {
    try {
      await navigator.clipboard.writeText(location.href);
    } catch (error) {
      // Pages opened from disk may not write the clipboard; the address bar holds the link.
    }
    $("shareNote").textContent = say("linkCopied");
  });
  $("print").addEventListener("click", () => window.print());
  $("tabBlock").addEventListener("click", () => showPage(false));
  $("tabSurvey").addEventListener("click", () => showPage(true));
  for (const id of ["estimate", "simulate"]) $(id).disabled = false;
  if (typeof startSurveyPage === "function") startSurveyPage();
  if (readLink()) pressEstimate();
  else $("population").textContent = say("populationPrompt");
  document.body.dataset.readyMs = String(performance.now());
  document.body.dataset.ready = "true";
}

start();

// ---------------------------------------------------------------------------------------------
// The survey page: the files are read here, on the device, and run through the survey tool's own
// code; "save results" gives the bytes kestrum-estimate writes with the same settings.

let lastSurvey = null;

const BLOCK_COLUMNS = ["fit", "line", "block", "status", "S", "P", "P_lower", "P_upper", "S_lower", "S_upper",
  "log_likelihood", "G2", "p_G2", "count", "N", "N_lower", "N_upper", "stratum", "P_in_total", "N_in_total", "warnings", "error"];
const TOTAL_COLUMNS = ["fit", "stratum", "blocks_sampled", "blocks_used", "frame_blocks", "total", "total_se",
  "total_lower", "total_upper", "dogs_per_block", "method", "P", "P_spread", "LR_p", "warnings", "error"];

function columnsTable(header, rows, columns) {
  const at = columns.map((name) => header.indexOf(name)).filter((i) => i >= 0);
  const t = table(at.map((i) => header[i]), rows.map((row) => at.map((i) => row[i] ?? "")));
  // Text columns are not numbers: only the numeric ones align right.
  for (const td of t.querySelectorAll("td")) if (!/\d/.test(td.textContent) || /[a-z]{3}/i.test(td.textContent)) td.className = "";
  return t;
}

// The totals with their 95% limits, one line each, on a common scale from 0.
function drawForest(canvas, header, totals) {
  const at = (name) => header.indexOf(name);
  const items = totals.map((row) => ({
    name: row[at("fit")] === "total" ? say("forestCity") : row[at("stratum")] || row[at("fit")],
    total: Number(row[at("total")]), lower: Number(row[at("total_lower")]), upper: Number(row[at("total_upper")]),
    shown: row[at("total")],
  }));
  const width = plotSize().width;
  const rowHeight = 22;
  const height = Math.max(60, 30 + rowHeight * items.length);
  const ops = [];
  const finite = items.filter((i) => Number.isFinite(i.total));
  const top = Math.max(1, ...finite.map((i) => (Number.isFinite(i.upper) ? i.upper : i.total)));
  const left = 140;
  const x = (v) => left + (width - left - 30) * (v / top);
  items.forEach((item, k) => {
    const y = 20 + rowHeight * k;
    ops.push(["text", 4, y - 6, item.name, 0]);
    if (!Number.isFinite(item.total)) return;
    if (Number.isFinite(item.lower) && Number.isFinite(item.upper)) ops.push(["line", x(item.lower), y, x(item.upper), y, 0, false]);
    ops.push(["line", x(item.total), y - 5, x(item.total), y + 5, 0xC00000, false]);
    ops.push(["text", x(item.total) + 4, y - 16, item.shown, 0xC00000]);
  });
  ops.push(["line", left, height - 8, width - 30, height - 8, 0, false]);
  ops.push(["text", left, height - 20, "0", 0]);
  replay(canvas, { width, height, ops });
}

function showSurvey(answer, seconds) {
  lastSurvey = answer;
  $("saveResults").disabled = !answer.csv;
  const failed = answer.summary ? answer.summary.failedRows : 0;
  $("surveyStatus").textContent = answer.stopped
    ? say("surveyStopped", { reason: answer.stopped })
    : say("surveyRows", { blocks: answer.summary.fitted + failed, failed, seconds: seconds.toFixed(2) });
  showMessages($("surveyMessages"), answer.messages);
  const header = answer.header;
  const totals = answer.rows.filter((row) => row[0] === "stratum" || row[0] === "total");
  $("totalsTable").replaceChildren(...(totals.length ? [columnsTable(header, totals, TOTAL_COLUMNS)] : []));
  $("blocksTable").replaceChildren(columnsTable(header, answer.rows.filter((row) => row[0] === "block" || row[0] === "pooled"), BLOCK_COLUMNS));
  if (answer.totals.length) drawForest($("forest"), header, answer.totals);
  $("forest").hidden = answer.totals.length === 0;
  document.body.dataset.surveyDone = "true";
}

async function runSurveyPage() {
  const surveyFile = $("surveyFile").files[0];
  if (!surveyFile) return;
  const frameFile = $("frameFile").files[0];
  const digits = $("digits").value.trim();
  const asked = {
    survey: await surveyFile.text(), surveyName: surveyFile.name,
    blocks: $("frameBlocks").value.trim(), pBy: $("pBy").value, profileOfP: $("surveyProfile").value === "P",
    locale: LOCALE,
  };
  if (frameFile) {
    asked.frame = await frameFile.text();
    asked.frameName = frameFile.name;
  }
  if (/^\d+$/.test(digits)) asked.digits = Number(digits);
  const started = performance.now();
  const answer = JSON.parse(core.survey(JSON.stringify(asked)));
  showSurvey(answer, (performance.now() - started) / 1000);
}

function saveResults() {
  if (!lastSurvey) return;
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([lastSurvey.csv], { type: "text/csv" }));
  const name = ($("surveyFile").files[0] || { name: "survey.csv" }).name.replace(/\.[^.]*$/, "");
  link.download = `${name}-fits.csv`;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

function startSurveyPage() {
  $("surveyForm").addEventListener("submit", (event) => {
    event.preventDefault();
    runSurveyPage();
  });
  $("surveyFile").addEventListener("change", runSurveyPage);
  $("frameFile").addEventListener("change", runSurveyPage);
  $("saveResults").addEventListener("click", saveResults);
  $("runSurvey").disabled = false;
  $("forest").hidden = true;
}
