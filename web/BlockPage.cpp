#include "BlockPage.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "BlockAnalysis.h"
#include "ExpectedFrequencies.h"
#include "NumberCore.h"
#include "PlotLimitMarks.h"
#include "Population.h"
#include "ProfilePlot.h"
#include "ProfileScan.h"
#include "RecordingCanvas.h"

namespace kestrum::web {

using nlohmann::json;

namespace {

using inference::LimitKind;
using inference::Parameter;

constexpr Colour kCurveBlue = 0xC00000;
constexpr std::array<std::string_view, 4> kHistories{"1,0,0", "1,1,1", "1,0,1", "1,1,0"};
constexpr std::array<std::string_view, 4> kFrequencyBoxes{"n100", "n111", "n101", "n110"};

text::NumberLocale localeOf(const json& request)
{
    text::NumberLocale locale;
    if (const auto found = request.find("locale"); found != request.end() && found->is_object()) {
        locale.decimalPoint = found->value("decimalPoint", locale.decimalPoint);
        locale.negativeSign = found->value("negativeSign", locale.negativeSign);
        locale.positiveSign = found->value("positiveSign", locale.positiveSign);
    }
    return locale;
}

std::string box(const json& request, std::string_view name)
{
    const json& boxes = request.at("boxes");
    const auto found = boxes.find(name);
    return found != boxes.end() && found->is_string() ? found->get<std::string>() : std::string();
}

json refused(std::string_view boxName, std::string_view reason, std::string_view history = {})
{
    json refusal{{"box", boxName}, {"reason", reason}};
    if (!history.empty()) {
        refusal["history"] = history;
    }
    return json{{"refused", refusal}};
}

// A limit as the window words it: the kind, and the value in the pattern (found) or in
// openPattern (the bound an open one lies beyond).
json limitJson(const inference::Limit& limit, const text::NumberLocale& locale,
               std::string_view pattern = "0.000", std::string_view openPattern = "0.00")
{
    switch (limit.kind) {
    case LimitKind::Found:
        return {{"kind", "found"}, {"value", text::formatNumber(limit.value, pattern, locale)}};
    case LimitKind::BelowRange:
        return {{"kind", "below"}, {"value", text::formatNumber(limit.value, openPattern, locale)}};
    case LimitKind::AboveRange:
        return {{"kind", "above"}, {"value", text::formatNumber(limit.value, openPattern, locale)}};
    case LimitKind::NotGiven:
        break;
    }
    return {{"kind", "none"}};
}

std::string fourDecimals(double value, const text::NumberLocale& locale)
{
    return std::isfinite(value) ? text::formatNumber(value, "0.0000", locale) : std::string();
}

json waldJson(const inference::WaldInterval& interval, const text::NumberLocale& locale)
{
    // A Wald limit outside 0..1 is no proportion: the page marks it, and says why.
    return {{"lower", fourDecimals(interval.lower, locale)},
            {"lowerOutside", interval.lower < 0.0 || interval.lower > 1.0},
            {"upper", fourDecimals(interval.upper, locale)},
            {"upperOutside", interval.upper < 0.0 || interval.upper > 1.0}};
}

json profileJson(const inference::ProfileInterval& interval, const text::NumberLocale& locale)
{
    if (!interval.given()) {
        return {{"reason", interval.reason}};
    }
    return {{"lower", limitJson(interval.lower, locale, "0.0000", "0.0000")},
            {"upper", limitJson(interval.upper, locale, "0.0000", "0.0000")}};
}

json pValue(double p, const text::NumberLocale& locale)
{
    return p < 0.0001 ? json{{"below", fourDecimals(0.0001, locale)}}
                      : json{{"value", fourDecimals(p, locale)}};
}

// The details: what the window's details dialog and its report show.
json detailsJson(const BlockAnalysis& block, const text::NumberLocale& locale)
{
    const inference::Analysis& analysis = block.analysis;
    const inference::StandardErrors& se = analysis.standardErrors;
    json details;
    details["summary"] = {
        {"logLikelihood", text::formatNumber(block.logLikelihood, "0.000", locale)},
        {"sFree", block.sFree},
        {"sHeld", text::plainNumber(block.S, locale)}};
    json rows = json::array();
    const auto row = [&](std::string_view name, double estimate, double error,
                         const inference::WaldInterval& wald,
                         const inference::ProfileInterval& profile) {
        json r{{"parameter", name},
               {"estimate", fourDecimals(estimate, locale)},
               {"profile", profileJson(profile, locale)}};
        if (se.given()) {
            r["se"] = fourDecimals(error, locale);
            r["wald"] = waldJson(wald, locale);
        }
        rows.push_back(r);
    };
    row("P", block.P, se.seP, se.waldP, analysis.limitsP);
    if (block.sFree) {
        row("S", block.S, se.seS, se.waldS, analysis.limitsS);
    } else {
        rows.push_back({{"parameter", "S"}, {"held", text::plainNumber(block.S, locale)}});
    }
    details["estimates"] = rows;
    const auto outside = [](const inference::WaldInterval& w) {
        return w.lower < 0.0 || w.upper > 1.0;
    };
    details["noStandardErrors"] = se.given() ? json() : json(se.reason);
    details["waldOutside"] =
        se.given() && (outside(se.waldP) || (block.sFree && outside(se.waldS)));

    const inference::Counts& counts = analysis.problem.counts;
    const std::array<std::int32_t, 4> observed{counts.n100, counts.n111, counts.n101, counts.n110};
    const inference::FitCheck& check = analysis.fitCheck;
    json frequencies = json::array();
    for (std::size_t cell = 0; cell < 4; ++cell) {
        json r{{"history", kHistories[cell]}, {"observed", std::to_string(observed[cell])}};
        if (check.given()) {
            r["expected"] = text::formatNumber(check.expected[cell], "0.00", locale);
        }
        frequencies.push_back(r);
    }
    details["frequencies"] = frequencies;
    if (check.given()) {
        details["fitCheck"] = {{"g2", fourDecimals(check.g2, locale)},
                               {"x2", fourDecimals(check.x2, locale)},
                               {"df", check.df},
                               {"pG2", pValue(check.pG2, locale)},
                               {"pX2", pValue(check.pX2, locale)},
                               {"lowExpected", check.lowExpected}};
    } else {
        details["fitCheck"] = {{"reason", check.reason}};
    }
    return details;
}

// N = count / P from the street count typed, as the details dialog words it.
json populationJson(const BlockAnalysis& block, const std::string& typed,
                    const text::NumberLocale& locale)
{
    const auto count = text::readDouble(typed, locale);
    if (count.reason == "is empty") {
        return {{"empty", true}};
    }
    if (!count || *count.value < 0.0) {
        return {{"refused", count ? std::string_view("must not be negative") : count.reason}};
    }
    const inference::PopulationEstimate estimate =
        inference::population(*count.value, block.analysis.fit, block.analysis.limitsP);
    json out{{"count", text::plainNumber(*count.value, locale)}};
    if (!estimate.given()) {
        out["reason"] = estimate.reason;
        return out;
    }
    out["estimate"] = text::formatNumber(estimate.estimate, "0.0", locale);
    out["lower"] = limitJson(estimate.lower, locale, "0.0", "0.0");
    out["upper"] = limitJson(estimate.upper, locale, "0.0", "0.0");
    out["caveat"] = inference::populationCaveat();
    return out;
}

json drawingJson(const RecordingCanvas& canvas)
{
    // In the order drawn: clears, lines and texts interleave.
    std::vector<json> ops(canvas.clears().size() + canvas.lines().size() + canvas.texts().size());
    for (const std::size_t order : canvas.clears()) {
        ops[order] = json::array({"clear"});
    }
    for (const RecordedLine& line : canvas.lines()) {
        ops[line.order] = json::array({"line", line.from.x(), line.from.y(), line.to.x(),
                                       line.to.y(), line.colour, line.style == DrawStyle::Dash});
    }
    for (const RecordedText& text : canvas.texts()) {
        ops[text.order] =
            json::array({"text", text.topLeft.x(), text.topLeft.y(), text.text, text.colour});
    }
    return ops;
}

struct Inputs {
    EstimateInputs values;
    std::vector<json> rounded; // frequencies typed with decimals, as taken
};

// The window's checks, in its order; the first box that fails refuses the press.
std::optional<Inputs> readInputs(const json& request, const text::NumberLocale& locale,
                                 json& refusal)
{
    Inputs inputs;
    const auto proportion = [&](std::string_view name, double& value) {
        const auto number = text::readDouble(box(request, name), locale);
        if (!number) {
            refusal = refused(name, number.reason);
            return false;
        }
        if (!(*number.value > 0.0 && *number.value < 1.0)) {
            refusal = refused(name, "must lie strictly between 0 and 1");
            return false;
        }
        value = *number.value;
        return true;
    };
    if (!proportion("S", inputs.values.S) || !proportion("P", inputs.values.P)) {
        return std::nullopt;
    }
    for (std::size_t K = 1; K <= 4; ++K) {
        const std::string typed = box(request, kFrequencyBoxes[K - 1]);
        const auto number = text::readInt32(typed, locale);
        if (!number) {
            refusal = refused(kFrequencyBoxes[K - 1], number.reason, kHistories[K - 1]);
            return std::nullopt;
        }
        if (*number.value < 0) {
            refusal = refused(kFrequencyBoxes[K - 1], "must not be negative", kHistories[K - 1]);
            return std::nullopt;
        }
        inputs.values.frequencies(K) = *number.value;
        if (const auto asTyped = text::readDouble(typed, locale);
            asTyped && *asTyped.value != *number.value) {
            const auto first = typed.find_first_not_of(" \t");
            const auto last = typed.find_last_not_of(" \t");
            inputs.rounded.push_back({{"typed", typed.substr(first, last - first + 1)},
                                      {"history", kHistories[K - 1]},
                                      {"value", std::to_string(*number.value)}});
        }
    }
    if (inputs.values.frequencies(1) == 0 && inputs.values.frequencies(2) == 0 &&
        inputs.values.frequencies(3) == 0 && inputs.values.frequencies(4) == 0) {
        refusal = refused("frequencies", "are all 0: no dog seen again or not gives no estimate. "
                                         "Type how many dogs had each history.");
        return std::nullopt;
    }
    const auto range = text::readDouble(box(request, "range"), locale);
    if (!range) {
        refusal = refused("range", range.reason);
        return std::nullopt;
    }
    if (!(std::isfinite(*range.value) && *range.value > 0.0)) {
        refusal = refused("range", "must be a number greater than 0, such as 30.");
        return std::nullopt;
    }
    inputs.values.rangePct = *range.value;
    return inputs;
}

} // namespace

std::string estimate(const std::string& requestText)
{
    const json request = json::parse(requestText);
    const text::NumberLocale locale = localeOf(request);
    json refusal;
    const std::optional<Inputs> inputs = readInputs(request, locale, refusal);
    if (!inputs) {
        return refusal.dump();
    }
    const bool sFree = request.value("sFree", true);
    const bool profileOfP = request.value("profileOfP", true);
    const Parameter profiled = profileOfP ? Parameter::P : Parameter::S;

    // The exact maximum stands where the window shows its search's: the two agree to within the
    // search's tolerance, and the exact one is what every other number is drawn from.
    BlockAnalysis block;
    block.sFree = sFree;
    inference::Problem problem;
    problem.counts = {inputs->values.frequencies(1), inputs->values.frequencies(2),
                      inputs->values.frequencies(3), inputs->values.frequencies(4)};
    problem.sFree = sFree;
    problem.sFixed = inputs->values.S;
    problem.profiled = profiled;
    block.analysis = inference::analyse(problem);
    block.S = block.analysis.fit.S;
    block.P = block.analysis.fit.P;
    block.logLikelihood = block.analysis.fit.logLikelihood;

    // The profile at the window's scan positions, each height the exact maximum over the other
    // parameter; with S held, the likelihood along P at that S, or along S at the P typed (as the
    // window's library evaluates it then).
    EstimatePress press;
    press.RANGEPCT = inputs->values.rangePct;
    ScanRange(press, profileOfP ? block.P : block.S);
    std::int16_t NPTS = 0;
    ScanPoints(press, NPTS, [&](double value) {
        if (!profileOfP && !sFree) {
            return inference::logLikelihood(problem.counts, inputs->values.P, value);
        }
        return inference::profileLogLikelihood(problem, profiled, value)
            .value_or(std::numeric_limits<double>::quiet_NaN());
    });
    noteProfile(block, std::span<const float>(press.PROFLL.data(), static_cast<std::size_t>(NPTS)));

    const json& canvasSize = request.at("canvas");
    RecordingCanvas canvas(canvasSize.at("width").get<double>(),
                           canvasSize.at("height").get<double>(),
                           canvasSize.at("lineHeight").get<double>());
    canvas.setNumberLocale(locale);
    ProfilePlot plot{press.PROFLL, press.PROFPCT, NPTS,       "log likelihood",
                     10,           kCurveBlue,    profileOfP, {}};
    const inference::ProfileInterval& limits = block.analysis.limits(profiled);
    std::vector<std::string_view> markNames;
    for (const auto& [limit, name] : {std::pair{limits.lower, std::string_view("lower")},
                                      std::pair{limits.upper, std::string_view("upper")}}) {
        if (limits.given() && limit.kind == LimitKind::Found) {
            plot.limitsInPercent.push_back(limit.value * 100.0);
            markNames.push_back(name);
        }
    }
    const std::vector<LimitMark> marks = drawProfile(canvas, plot);

    json answer;
    answer["boxes"] = {{"S", text::formatNumber(block.S, "0.##", locale)},
                       {"P", text::formatNumber(block.P, "0.##", locale)}};
    answer["result"] = text::formatNumber(block.logLikelihood, "0.000", locale);
    json limitsLine{{"parameter", profileOfP ? "P" : "S"}};
    if (!limits.given()) {
        limitsLine["none"] = !profileOfP && !sFree ? "fixed" : "none";
    } else {
        limitsLine["lower"] = limitJson(limits.lower, locale);
        limitsLine["upper"] = limitJson(limits.upper, locale);
    }
    answer["limits"] = limitsLine;
    answer["plot"] = {{"width", canvas.ScaleWidth()},
                      {"height", canvas.ScaleHeight()},
                      {"ops", drawingJson(canvas)}};
    // The report's page has the window's plot, whatever the size of the screen.
    if (const auto report = request.find("reportCanvas"); report != request.end()) {
        RecordingCanvas page(report->at("width").get<double>(), report->at("height").get<double>(),
                             report->at("lineHeight").get<double>());
        page.setNumberLocale(locale);
        drawProfile(page, plot);
        answer["reportPlot"] = {{"width", page.ScaleWidth()},
                                {"height", page.ScaleHeight()},
                                {"ops", drawingJson(page)}};
    }

    // The messages below the window, in its order: rounding, the plot, then the warnings.
    json messages = json::array();
    if (!inputs->rounded.empty()) {
        messages.push_back({{"key", "rounded"}, {"items", inputs->rounded}});
    }
    const std::string_view parameter = profileOfP ? "P" : "S";
    if (NPTS < 2) {
        const auto scanText = [&](float value) {
            return text::formatNumber(value, "0.00#", locale);
        };
        messages.push_back({{"key", "plotTooFewPoints"},
                            {"parameter", parameter},
                            {"from", scanText(press.SCANLO)},
                            {"to", scanText(press.SCANHI)},
                            {"step", scanText(press.SCANSTEP)},
                            {"points", NPTS}});
    } else if (!plotScale(canvas, press.PROFLL, NPTS)) {
        messages.push_back({{"key", "plotFlat"}, {"parameter", parameter}});
    } else {
        json offCurve = json::array();
        json outside = json::array();
        for (std::size_t i = 0; i < marks.size() && i < markNames.size(); ++i) {
            if (marks[i] == LimitMark::OffCurve) {
                offCurve.push_back(markNames[i]);
            } else if (marks[i] == LimitMark::OutsidePlot) {
                outside.push_back(markNames[i]);
            }
        }
        if (!offCurve.empty()) {
            messages.push_back(
                {{"key", "markOffCurve"},
                 {"sides", offCurve},
                 {"onBound", block.warnings.contains(inference::WarningKind::EstimateOnBound)}});
        }
        if (!outside.empty()) {
            messages.push_back({{"key", "markOutside"}, {"sides", outside}});
        }
    }
    for (const inference::Warning& warning : block.warnings) {
        messages.push_back({{"text", inference::describe(warning)}});
    }
    answer["messages"] = messages;
    answer["details"] = detailsJson(block, locale);
    answer["population"] = populationJson(block, box(request, "count"), locale);
    answer["settings"] = {{"sFree", sFree},
                          {"sHeld", text::plainNumber(block.S, locale)},
                          {"parameter", parameter},
                          {"range", text::plainNumber(inputs->values.rangePct, locale)}};
    return answer.dump();
}

std::string simulate(const std::string& requestText)
{
    const json request = json::parse(requestText);
    const text::NumberLocale locale = localeOf(request);
    const auto P = text::readDouble(box(request, "P"), locale);
    if (!P) {
        return refused("P", P.reason).dump();
    }
    const auto S = text::readDouble(box(request, "S"), locale);
    if (!S) {
        return refused("S", S.reason).dump();
    }
    // The window's order: each box is written as it is computed, and the first that cannot be
    // stops the rest.
    struct Cell {
        std::string_view box;
        std::string_view history;
        double (*expected)(double, double);
    };
    static constexpr std::array<Cell, 4> cells{{{"n111", "1,1,1", expected111},
                                                {"n101", "1,0,1", expected101},
                                                {"n110", "1,1,0", expected110},
                                                {"n100", "1,0,0", expected100}}};
    json boxes = json::object();
    for (const Cell& cell : cells) {
        const double value = cell.expected(*P.value, *S.value);
        if (!std::isfinite(value)) {
            return json{{"boxes", boxes}, {"failed", cell.history}}.dump();
        }
        boxes[std::string(cell.box)] = text::plainNumber(value, locale);
    }
    return json{{"boxes", boxes}}.dump();
}

} // namespace kestrum::web
