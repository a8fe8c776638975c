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
  // The core travels inside the page: no second file to fetch, which a page opened from disk
  // could not. Its script is run from the page's bytes, as the page's own are.
  const [wasmBinary, script] = await Promise.all([
    unpack("kestrum-core-wasm").arrayBuffer(), unpack("kestrum-core-script").text()]);
  const KestrumModule = new Function(`${script}\nreturn KestrumModule;`)();
  return KestrumModule({ wasmBinary });
}

// ---------------------------------------------------------------------------------------------
// Drawing

const PLOT_WIDTH = 949; // the window's picture box, inside its border
const PLOT_HEIGHT = 381;
const PLOT_FONT = "11px 'Liberation Sans', Arial, 'DejaVu Sans', sans-serif";
const PLOT_LINE_HEIGHT = 13;

// The window's plot size, narrower where the page is: a phone draws the plot to its own width.
function plotSize(canvas = $("plot")) {
  const width = Math.min(PLOT_WIDTH, Math.floor(canvas.parentElement.clientWidth || PLOT_WIDTH) - 2);
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

const PAGES = { tabBlock: "blockPage", tabSurvey: "surveyPage", tabPlan: "planPage" };

function showPage(tab) {
  for (const [button, page] of Object.entries(PAGES)) {
    $(page).hidden = button !== tab;
    $(button).setAttribute("aria-pressed", String(button === tab));
  }
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
  for (const tab of Object.keys(PAGES)) $(tab).addEventListener("click", () => showPage(tab));
  // The planner opens on its example's plan.
  $("tabPlan").addEventListener("click", () => lastPlan || pressPlan(), { once: true });
  for (const id of ["estimate", "simulate"]) $(id).disabled = false;
  startSurveyPage();
  startPlanPage();
  if (readLink()) pressEstimate();
  else $("population").textContent = say("populationPrompt");
  document.body.dataset.readyMs = String(performance.now());
  document.body.dataset.ready = "true";
}

start();

// ---------------------------------------------------------------------------------------------
// Saving: the bytes the core wrote, as a file the browser downloads.

function saveText(text, name) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([text], { type: "text/csv" }));
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

const baseName = (file, fallback) => (file ? file.name : fallback).replace(/\.[^.]*$/, "");

// ---------------------------------------------------------------------------------------------
// The survey page: the files are read here, on the device, and run through the survey tool's own
// code; "save results" gives the bytes kestrum-estimate writes with the same settings.

let lastSurvey = null; // the answer, with csv, and the request that gave it
const MESSAGES_SHOWN = 200;

// The columns each table shows, the most asked-for first; the output keeps its own order.
const BLOCK_COLUMNS = ["fit", "line", "block", "status", "S", "P", "P_lower", "P_upper", "count", "N", "N_lower",
  "N_upper", "marked", "coverage", "coverage_lower", "coverage_upper", "S_lower", "S_upper", "log_likelihood", "G2",
  "p_G2", "stratum", "P_in_total", "N_in_total", "seen_visit1", "seen_visit2", "seen_visit3", "new_dogs",
  "warnings", "error"];
const TOTAL_COLUMNS = ["fit", "stratum", "blocks_sampled", "frame_blocks", "total", "total_lower", "total_upper",
  "coverage", "coverage_lower", "coverage_upper", "to_vaccinate", "total_se", "blocks_used", "dogs_per_block",
  "method", "P", "P_spread", "LR_p"];
const TEXT_COLUMNS = new Set(["fit", "block", "status", "stratum", "method", "warnings", "error"]);

function columnsTable(header, rows, columns) {
  const at = columns.map((name) => header.indexOf(name)).filter((i) => i >= 0);
  const t = table(at.map((i) => header[i]), rows.map((row) => at.map((i) => row[i] ?? "")));
  for (const tr of t.tBodies[0].rows) {
    at.forEach((i, k) => { tr.cells[k].className = TEXT_COLUMNS.has(header[i]) ? "" : "number"; });
  }
  return t;
}

// The blocks of a survey run to many thousands: only the rows in view are made, the others stand
// in as the space they would take, and scrolling makes the rows that come into view.
class RowsView {
  constructor(box, header, rows, columns) {
    this.box = box;
    this.names = header;
    this.rows = rows; // each row one string, its cells ended by "\x1f"
    this.at = columns.map((name) => header.indexOf(name)).filter((i) => i >= 0);
    this.first = -1;
    const t = document.createElement("table");
    t.setAttribute("aria-rowcount", String(rows.length + 1));
    const colgroup = document.createElement("colgroup");
    // Widths from the header and a sample of rows, so that rows made later fit the same columns.
    const sample = rows.slice(0, 200).concat(rows.slice(-50)).map((row) => row.split("\x1f"));
    for (const i of this.at) {
      const col = document.createElement("col");
      const widest = Math.max(header[i].length, ...sample.map((cells) => (cells[i] || "").length));
      col.style.width = `${Math.min(40, widest) + 2}ch`;
      colgroup.append(col);
    }
    t.append(colgroup);
    const head = t.createTHead().insertRow();
    for (const i of this.at) {
      const th = document.createElement("th");
      th.textContent = header[i];
      head.append(th);
    }
    this.body = t.createTBody();
    box.replaceChildren(t);
    this.rowHeight = 0;
    this.draw();
    box.onscroll = () => {
      if (!this.pending) {
        this.pending = true;
        requestAnimationFrame(() => { this.pending = false; this.draw(); });
      }
    };
  }

  spacer(height) {
    const tr = document.createElement("tr");
    tr.className = "space";
    const td = tr.insertCell();
    td.colSpan = this.at.length;
    td.style.height = `${height}px`;
    return tr;
  }

  draw() {
    const shown = 60;
    const height = this.rowHeight || 24;
    const first = Math.max(0, Math.min(this.rows.length - shown, Math.floor(this.box.scrollTop / height) - 20));
    if (first === this.first) return;
    this.first = first;
    const last = Math.min(this.rows.length, first + shown);
    const made = [this.spacer(first * height)];
    for (let r = first; r < last; ++r) {
      const cells = this.rows[r].split("\x1f");
      const tr = document.createElement("tr");
      tr.setAttribute("aria-rowindex", String(r + 2));
      for (const i of this.at) {
        const td = tr.insertCell();
        const text = cells[i] || "";
        td.textContent = text;
        if (text.length > 38) td.title = text;
        if (!TEXT_COLUMNS.has(this.names[i])) td.className = "number";
      }
      made.push(tr);
    }
    made.push(this.spacer((this.rows.length - last) * height));
    this.body.replaceChildren(...made);
    if (!this.rowHeight && last > first) {
      // Measured once, from a row as drawn; the spacers are drawn again to it.
      this.rowHeight = made[1].getBoundingClientRect().height || height;
      this.first = -1;
      this.draw();
    }
  }
}

// The survey's forest plot, drawn by the core as the survey window draws it: the rows in view,
// drawn again as the box scrolls, a canvas's height at most.
const FOREST_HEIGHT = 420;

function characterWidth() {
  const g = document.createElement("canvas").getContext("2d");
  g.font = PLOT_FONT;
  const sample = "0123456789 abcdefghijklmnopqrstuvwxyz";
  return g.measureText(sample).width / sample.length;
}

function showForest(forest) {
  const box = $("forestBox");
  const canvas = $("forest");
  const size = { ...plotSize(canvas), characterWidth: characterWidth() };
  const draw = (first, height) => JSON.parse(forest.draw(JSON.stringify({ first, canvas: { ...size, height } })));
  let plot = draw(0, FOREST_HEIGHT);
  const height = Math.min(FOREST_HEIGHT, plot.fullHeight);
  if (height !== FOREST_HEIGHT) plot = draw(0, height);
  replay(canvas, plot);
  const hidden = Math.max(0, plot.rows - plot.fit);
  $("forestSpace").style.height = `${hidden * plot.rowHeight}px`;
  box.scrollTop = 0;
  let pending = false;
  box.onscroll = () => {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => {
      pending = false;
      replay(canvas, draw(Math.min(hidden, Math.round(box.scrollTop / plot.rowHeight)), height));
    });
  };
  box.hidden = plot.rows === 0;
}

function showSurvey(answer, seconds) {
  // The last survey's forest plot lives in the core until it is replaced.
  if (lastSurvey && lastSurvey.forest && lastSurvey.forest !== answer.forest) lastSurvey.forest.delete();
  lastSurvey = answer;
  $("saveResults").disabled = !answer.csv;
  $("saveTally").disabled = !answer.sheet;
  if (answer.refused) {
    const box = { coverageTarget: "boxCoverageTarget", digits: "boxDigits" }[answer.refused.box];
    $("surveyStatus").textContent = say("surveyRefused", { box: say(box), reason: answer.refused.reason });
    $(answer.refused.box).focus();
    return;
  }
  const failed = answer.summary ? answer.summary.failedRows : 0;
  $("surveyStatus").textContent = answer.stopped
    ? say("surveyStopped", { reason: answer.stopped })
    : say("surveyRows", { blocks: answer.summary.fitted + failed, failed, seconds: seconds.toFixed(2).replace(".", LOCALE.decimalPoint) });
  // A sheet may hold thousands of mistakes: the first are shown, the output notes them all.
  const shownMessages = answer.messages.slice(0, MESSAGES_SHOWN);
  if (answer.messages.length > MESSAGES_SHOWN) shownMessages.push(say("moreMessages", { count: answer.messages.length - MESSAGES_SHOWN }));
  showMessages($("surveyMessages"), shownMessages);
  const header = answer.header;
  const rows = answer.table.split("\x1e");
  rows.pop();
  const isTotal = (row) => row.startsWith("stratum\x1f") || row.startsWith("total\x1f");
  const totals = rows.filter(isTotal).map((row) => row.split("\x1f"));
  $("totalsTable").replaceChildren(...(totals.length ? [columnsTable(header, totals, TOTAL_COLUMNS)] : []));
  // Their warnings are sentences: a list under the table, not a column of it.
  const cell = (row, name) => row[header.indexOf(name)] || "";
  showMessages($("totalsWarnings"), totals.filter((row) => cell(row, "warnings") || cell(row, "error")).map((row) =>
    say("totalsWarning", {
      row: cell(row, "fit") === "total" ? say("forestCity") : cell(row, "stratum"),
      text: [cell(row, "error"), ...cell(row, "warnings").split(" | ")].filter(Boolean).join(" "),
    })));
  new RowsView($("blocksTable"), header, rows.filter((row) => !isTotal(row)), BLOCK_COLUMNS);
  if (answer.forest) showForest(answer.forest);
  document.body.dataset.surveyDone = "true";
}

function surveyAsked(surveyText, surveyFile, frame) {
  const asked = {
    survey: surveyText, surveyName: surveyFile.name,
    blocks: $("frameBlocks").value.trim(), pBy: $("pBy").value, profileOfP: $("surveyProfile").value === "P",
    coverageTarget: $("coverageTarget").value, digits: $("digits").value, locale: LOCALE,
  };
  if (frame) Object.assign(asked, frame);
  return asked;
}

// The core's answer: its JSON, with the output and the table's rows handed over as they are.
function runCore(asked) {
  const out = core.survey(JSON.stringify(asked));
  return { ...JSON.parse(out.answer), csv: out.csv, table: out.table, forest: out.forest };
}

async function runSurveyPage() {
  const surveyFile = $("surveyFile").files[0];
  if (!surveyFile) return;
  const frameFile = $("frameFile").files[0];
  const frame = frameFile ? { frame: await frameFile.text(), frameName: frameFile.name } : null;
  const asked = surveyAsked(await surveyFile.text(), surveyFile, frame);
  const started = performance.now();
  const answer = runCore(asked);
  answer.asked = asked;
  showSurvey(answer, (performance.now() - started) / 1000);
}

function startSurveyPage() {
  $("coverageTarget").value = fromLink("0.70");
  $("surveyForm").addEventListener("submit", (event) => {
    event.preventDefault();
    runSurveyPage();
  });
  $("surveyFile").addEventListener("change", runSurveyPage);
  $("frameFile").addEventListener("change", runSurveyPage);
  $("saveResults").addEventListener("click", () => {
    if (lastSurvey) saveText(lastSurvey.csv, `${baseName($("surveyFile").files[0], "survey")}-fits.csv`);
  });
  // The sheet's tally, as kestrum-estimate --tally writes it.
  $("saveTally").addEventListener("click", () => {
    if (!lastSurvey || !lastSurvey.asked) return;
    const tally = runCore({ ...lastSurvey.asked, tally: true });
    tally.forest.delete(); // a tally draws none, but the core made one for the page to free
    lastSurvey.tally = tally.csv;
    if (tally.stopped) $("surveyStatus").textContent = say("surveyStopped", { reason: tally.stopped });
    else saveText(tally.csv, `${baseName($("surveyFile").files[0], "sheet")}-tally.csv`);
  });
  $("runSurvey").disabled = false;
  $("forestBox").hidden = true;
}

// ---------------------------------------------------------------------------------------------
// The planner page: the strata as typed, run through the planner's own code; "save plan" gives
// the bytes kestrum-plan writes with the same settings.

let lastPlan = null;

// kestrum-plan's example: three strata of a city.
const EXAMPLE_STRATA = [["centre", "40", "25", "0.4", "0.6", "0.8"], ["town", "120", "15", "0.5", "0.5", "0.85"],
  ["edge", "300", "8", "0.5", "0.45", "0.9"]];

function addStratum(cells = ["", "", "", "", "", ""]) {
  const tr = $("strata").tBodies[0].insertRow();
  cells.forEach((value, k) => {
    const input = document.createElement("input");
    input.value = value;
    if (k === 0) input.className = "stratum-name";
    else input.inputMode = k === 1 ? "numeric" : "decimal";
    input.setAttribute("aria-label", say(["planStratum", "planBlocks", "planDogs", "planCv", "P", "S"][k]));
    tr.insertCell().append(input);
  });
  const remove = document.createElement("button");
  remove.type = "button";
  remove.textContent = say("removeStratum");
  remove.addEventListener("click", () => tr.remove());
  tr.insertCell().append(remove);
}

function strataTyped() {
  return [...$("strata").tBodies[0].rows].map((tr) => [...tr.querySelectorAll("input")].map((input) => input.value));
}

function showPlanProblem(text) {
  $("planStatus").textContent = text;
  $("planStatus").hidden = !text;
}

function pressPlan() {
  const asked = {
    strata: strataTyped(), blocksPerDay: $("blocksPerDay").value, digits: $("planDigits").value, locale: LOCALE,
    canvas: plotSize($("planCurve")),
  };
  if ($("goalTarget").checked) asked.target = $("target").value;
  else asked.blocks = $("budget").value;
  const answer = JSON.parse(core.plan(JSON.stringify(asked)));
  lastPlan = answer.csv ? answer : null;
  $("savePlan").disabled = !lastPlan;
  $("saveCurve").disabled = !lastPlan;
  if (!lastPlan) {
    const refusal = answer.refused;
    const boxes = { target: "boxTarget", blocks: "boxBudget", blocksPerDay: "boxBlocksPerDay", digits: "boxPlanDigits" };
    showPlanProblem(answer.failed ? say("planFailed", { reason: answer.failed })
      : refusal.row ? say("planRefusedRow", refusal)
      : boxes[refusal.box] ? say("planRefusedBox", { box: say(boxes[refusal.box]), reason: refusal.reason })
      : say("planRefused", refusal));
    showMessages($("planNotes"), []);
    $("planTable").replaceChildren();
    $("planCurve").hidden = true;
    document.body.dataset.planned = "false";
    return answer;
  }
  showPlanProblem("");
  showMessages($("planNotes"), answer.notes.map((note) => say("planNote", { note })));
  // Columns that hold nothing in any row (the simulation's) are left out of the table.
  const columns = answer.header.filter((name, i) => answer.rows.some((row) => row[i] !== ""));
  $("planTable").replaceChildren(columnsTable(answer.header, answer.rows, columns));
  $("planCurve").hidden = false;
  replay($("planCurve"), answer.plot);
  document.body.dataset.planned = "true";
  return answer;
}

async function openPlanFile() {
  const file = $("planFile").files[0];
  if (!file) return;
  const answer = JSON.parse(core.plan(JSON.stringify({ planFile: await file.text(), planName: file.name, locale: LOCALE })));
  if (answer.refused) {
    showPlanProblem(say("planRefused", answer.refused));
    document.body.dataset.planned = "false";
    return;
  }
  $("strata").tBodies[0].replaceChildren();
  for (const cells of answer.strata) addStratum(cells);
  pressPlan();
}

function startPlanPage() {
  for (const cells of EXAMPLE_STRATA) addStratum(cells.map((cell) => fromLink(cell)));
  $("target").value = "20";
  $("budget").value = "60";
  $("blocksPerDay").value = "1";
  $("addStratum").addEventListener("click", () => addStratum());
  $("planFile").addEventListener("change", openPlanFile);
  $("planForm").addEventListener("submit", (event) => {
    event.preventDefault();
    pressPlan();
  });
  $("savePlan").addEventListener("click", () => lastPlan && saveText(lastPlan.csv, `${baseName($("planFile").files[0], "plan")}-plan.csv`));
  $("saveCurve").addEventListener("click", () => lastPlan && saveText(lastPlan.curveCsv, `${baseName($("planFile").files[0], "plan")}-curve.csv`));
  $("runPlan").disabled = false;
}
