// Every word the page shows, by key, in one place so that translations can follow: a translation
// is another object with the same keys, chosen by the browser's language. {name} stands for a
// value the page fills in; the numbers come formatted from the C++ core in the browser's locale.
// The warnings of an estimate and the reasons the survey tool gives come from the C++ core
// itself, in its own words.
const KESTRUM_TEXTS = {
  en: {
    title: "Kestrum",
    tabBlock: "One block",
    tabSurvey: "A survey",
    tabPlan: "Plan a survey",
    loading: "Loading…",
    loadFailed: "The page could not start its calculations: {reason}",

    // The block page: the window's captions.
    captureHistory: "capture history",
    frequency: "frequency",
    parameters: "parameters",
    plottingRange: "% plotting range",
    includeFree: "include as free parameter",
    errorOnP: "error on P",
    errorOnS: "error on S",
    estimate: "estimate",
    simulate: "simulate",
    help:
      "This program can be used to estimate the proportion of free-roaming dogs seen on a count " +
      "of a city block.  A sample of individually distinct dogs are identified during the first " +
      "count and the number seen during a second and third count recorded.  The frequency of the " +
      "four possible resulting capture histories - not seen again, seen on both the second and " +
      "third counts, seen on the third but not on the second, seen on the second but not on the " +
      "third - are entered in the text boxes to the left.  Click the 'estimate' command button " +
      "to generate ML estimates of proportion visible, P, and proportion remaining in block from " +
      "one count to the next, S.  Read 95% confidence limits from intersection of dotted red line " +
      "with ML curve.  Uncheck check box to see effect of loss of dogs from block on P estimate.  " +
      "Click 'simulate' command button to generate 100 expected capture histories corresponding " +
      "to values set for P and S.",
    resultLine: "maximum log likelihood = {value}",
    limitsLine: "95% limits for {parameter}: {lower} to {upper}",
    limitsNone: "95% limits for {parameter}: none",
    limitsFixed: "95% limits for S: none, S is held fixed",
    limitBelow: "below {value}",
    limitAbove: "above {value}",
    limitNotGiven: "not given",
    plotLabel: "The profile log likelihood, with the dashed red line 1.92 below its maximum",

    // Why a press is refused: the box, then what is wrong with it.
    boxS: "S",
    boxP: "P",
    boxHistory: "The frequency of capture history {history}",
    boxFrequencies: "The frequencies of the four capture histories",
    boxRange: "The % plotting range",
    boxCount: "The street count",
    refused: "{box} {reason}",
    simulateFailed:
      "The expected frequency of capture history {history} cannot be computed for P = {P} and " +
      "S = {S}. The boxes before it were filled; it and the ones after it were left as they were.",

    // Messages below the plot.
    rounded: "Frequencies are counts of dogs and were taken to the nearest whole number: {items}.",
    roundedItem: "{typed} of {history} as {value}",
    listSeparator: ", ",
    plotTooFewPoints:
      "The plot is empty: the profile of {parameter} from {from} to {to} in steps of {step} has " +
      "{points} point{plural}, and a curve needs two. A wider % plotting range, or profiling the " +
      "other parameter, gives more.",
    plotFlat:
      "The plot is empty: the profile log likelihood of {parameter} has the same value at every " +
      "point of the range, so there is no curve to scale. A wider % plotting range may show one.",
    markOneSide: "The mark of the {side} limit is",
    markBothSides: "The marks of both limits are",
    lower: "lower",
    upper: "upper",
    markOffCurve:
      "{which} not drawn: the dashed line lies 1.92 below the highest point plotted, not below " +
      "the maximum likelihood{onBound}, so the curve meets it away from the exact limits given " +
      "under the result line.",
    markOnBound: ", which lies on a bound",
    markOutside: "{which} not drawn: outside the range plotted. A wider % plotting range shows {them}.",
    markIt: "it",
    markThem: "them",
    noMessages: "None.",

    // The details.
    details: "Details",
    estimatesHeading: "Estimates",
    summary: "Maximum log likelihood {value}, with {what}.",
    bothEstimated: "P and S estimated",
    sHeldEstimated: "S held at {value} and P estimated",
    columnParameter: "parameter",
    columnEstimate: "estimate",
    columnSE: "standard error",
    columnWald: "Wald 95% limits",
    columnProfile: "profile 95% limits",
    heldAt: "held at {value}",
    range: "{lower} to {upper}",
    dash: "–",
    waldMark: "*",
    noStandardErrors: "No standard errors or Wald limits: {reason}.",
    waldOutside:
      "* A Wald limit outside 0 to 1 is no proportion: the normal approximation fails this close " +
      "to the edge. Use the profile limits.",
    fitCheckHeading: "Fit check",
    columnHistory: "capture history",
    columnObserved: "observed",
    columnExpected: "expected",
    fitCheck:
      "Likelihood ratio G² = {g2}, Pearson X² = {x2}, on {df} degree{plural} of freedom: " +
      "p = {pG2} and {pX2}.{rough}",
    fitCheckRough: " Some expected counts are below 2, so the p-values are rough.",
    pBelow: "< {value}",
    noFitCheck: "No fit check: {reason}.",
    populationHeading: "Dogs in the block",
    streetCount: "street count",
    populationPrompt:
      "Type the number of dogs seen on a street count of the block: the block holds about that " +
      "many divided by P.",
    population: "About {estimate} dogs (95% limits {lower} to {upper}). {caveat}",
    populationRefused: "The street count {reason}.",
    pressFirst: "Press \"estimate\" first.",

    // Sharing and the report.
    shareLink: "Link to this estimate",
    linkCopied: "The link is in the address bar and on the clipboard.",
    printReport: "Print report…",
    reportTitle: "Kestrum report",
    stamp: "{when}, Kestrum {version}",
    dataHeading: "Data and settings",
    settings: "{what}; profile of {parameter}; plotting range {range}% around the estimate.",
    sHeldSettings: "S held at {value}, P estimated",
    messagesHeading: "Messages",
    plotHeading: "Profile log likelihood",
    plotCaption:
      "Profile log likelihood of {parameter} against {axis}. The dashed red line lies 1.92 below " +
      "the highest point plotted; the 95% limits lie where the curve crosses it, and the short " +
      "red marks show the exact ones.",
    axisP: "% seen",
    axisS: "% stay",

    // The survey page.
    surveyIntro:
      "Open a survey (CSV with the columns block, n100, n111, n101, n110 and optionally s_fixed, " +
      "count, stratum and marked) or a sheet of sightings (block, dog, visit, or one row per dog " +
      "with visit1 to visit3) from this device. Nothing leaves it: the file is read and fitted " +
      "here, in the page, as kestrum-estimate reads and fits it.",
    surveyFile: "survey or sheet",
    frameFile: "sampling frame (optional)",
    frameBlocks: "or blocks in the one stratum",
    digits: "decimals (empty: every digit)",
    pBy: "P by",
    pByStratum: "stratum",
    pBySurvey: "survey",
    pByBlock: "block",
    profileOf: "limits and plots of",
    coverageTarget: "coverage target",
    runSurvey: "fit",
    saveResults: "save results",
    saveTally: "save tally",
    surveyRows: "{blocks} rows read, {failed} not blocks; {seconds} s.",
    surveyStopped: "The survey could not be read: {reason}",
    moreMessages: "… and {count} more, each noted in its block's row of the results.",
    surveyRefused: "The {box} {reason}.",
    boxCoverageTarget: "coverage target",
    boxDigits: "decimals",
    blocksHeading: "Blocks",
    totalsHeading: "Dogs in the strata and the city",
    forestHeading: "Dogs in each block, and per block in each stratum and the city, with 95% limits",
    noSurvey: "Open a survey to see its blocks here.",
    forestCity: "city",
    totalsWarning: "{row}: {text}",

    // The planner page.
    planIntro:
      "Plan a survey before the fieldwork: the blocks to count in each stratum for the city " +
      "total's 95% limits to be as narrow as wanted, or what the blocks the teams can count will " +
      "give, as kestrum-plan plans it. Type the strata or open a plan file (CSV with the columns " +
      "stratum, blocks, dogs_per_block, dogs_cv, P and S).",
    planFile: "plan file (optional)",
    planStratum: "stratum",
    planBlocks: "blocks in it",
    planDogs: "dogs per block",
    planCv: "their CV",
    addStratum: "add a stratum",
    removeStratum: "remove",
    goalTarget: "half-width wanted (%)",
    goalBlocks: "or blocks the teams can count",
    blocksPerDay: "blocks a team counts in a morning",
    runPlan: "plan",
    savePlan: "save plan",
    saveCurve: "save curve",
    planRefusedRow: "Row {row} of the strata: {reason}",
    planRefused: "{reason}",
    planRefusedBox: "The {box} {reason}.",
    boxTarget: "half-width wanted",
    boxPlanDigits: "decimals",
    boxBudget: "blocks the teams can count",
    boxBlocksPerDay: "blocks a team counts in a morning",
    planFailed: "No plan: {reason}",
    planNote: "Note: {note}",
    planCurveLabel:
      "The expected half-width of the city total's 95% limits against the blocks counted, with the plan marked",
  },
};

// The browser's language where a translation exists, English otherwise.
function kestrumTexts() {
  for (const language of navigator.languages || [navigator.language || "en"]) {
    const base = String(language).toLowerCase().split("-")[0];
    if (KESTRUM_TEXTS[base]) return KESTRUM_TEXTS[base];
  }
  return KESTRUM_TEXTS.en;
}
