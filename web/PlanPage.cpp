#include "PlanPage.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "Drawing.h"
#include "FloatChars.h"
#include "NumberCore.h"
#include "PlanCurve.h"
#include "PlanOutput.h"
#include "RecordingCanvas.h"
#include "Request.h"
#include "SurveyPlan.h"

namespace kestrum::web {

using nlohmann::json;
using namespace kestrum::survey;

namespace {

// The table's rows are read as the plan file they stand for: this name, a header on line 1.
constexpr std::string_view kTableName = "table";

json refused(std::string_view box, std::string_view reason, std::size_t row = 0)
{
    json refusal{{"box", box}, {"reason", reason}};
    if (row > 0) {
        refusal["row"] = row;
    }
    return json{{"refused", refusal}};
}

void quoted(std::string_view field, std::string& out)
{
    out += '"';
    for (const char c : field) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
}

// The cells as a plan file: numbers typed in the browser's locale written as the file's; what is
// no number goes as typed, for the plan's reader to say what is wrong with it.
std::string planFileOf(const json& strata, const text::NumberLocale& locale)
{
    std::string file = "stratum,blocks,dogs_per_block,dogs_cv,P,S\n";
    for (const json& row : strata) {
        for (std::size_t k = 0; k < 6; ++k) {
            const std::string typed =
                k < row.size() && row[k].is_string() ? row[k].get<std::string>() : std::string();
            if (k > 0) {
                file += ',';
            }
            const auto number = text::readDouble(typed, locale);
            if (k > 0 && number) {
                file += text::shortest(*number.value);
            } else {
                quoted(typed, file);
            }
        }
        file += '\n';
    }
    return file;
}

// "table:3: P is 1.2: ..." as the row of the table it names.
json tableRefusal(const std::string& message)
{
    const std::string prefix = std::string(kTableName) + ":";
    if (message.rfind(prefix, 0) == 0) {
        std::size_t line = 0;
        const char* first = message.data() + prefix.size();
        const auto [end, error] = std::from_chars(first, message.data() + message.size(), line);
        if (error == std::errc() && std::string_view(end).substr(0, 2) == ": " && line > 1) {
            return refused("strata", std::string_view(end + 2), line - 1);
        }
        return refused("strata", message.substr(prefix.size() + (message[prefix.size()] == ' ')));
    }
    return refused("strata", message);
}

json readPlanFile(const json& request, const text::NumberLocale& locale)
{
    const std::string name = request.value("planName", std::string("plan.csv"));
    StringSource source(request.at("planFile").get<std::string>());
    try {
        json strata = json::array();
        for (const PlanStratum& s : readPlan(source, name)) {
            const auto number = [&](double value) {
                return shownInLocale(text::shortest(value), locale);
            };
            strata.push_back({s.name, std::to_string(s.frameBlocks), number(s.dogs),
                              number(s.dogsCv), number(s.P), number(s.S)});
        }
        return json{{"strata", strata}};
    } catch (const InputError& error) {
        return refused("planFile", error.what());
    }
}

} // namespace

std::string plan(const std::string& requestText)
{
    const json request = json::parse(requestText);
    const text::NumberLocale locale = localeOf(request);
    if (request.contains("planFile")) {
        return readPlanFile(request, locale).dump();
    }

    std::vector<PlanStratum> strata;
    try {
        StringSource source(planFileOf(request.at("strata"), locale));
        strata = readPlan(source, std::string(kTableName));
    } catch (const InputError& error) {
        return tableRefusal(error.what()).dump();
    }

    // kestrum-plan's goal: --target PCT or --blocks N, and --blocks-per-day D.
    PlanGoal goal;
    const auto typed = [&](std::string_view box) {
        const auto found = request.find(box);
        return found != request.end() && found->is_string() ? found->get<std::string>()
                                                            : std::string();
    };
    if (request.contains("target")) {
        const auto target = text::readDouble(typed("target"), locale);
        if (!target) {
            return refused("target", target.reason).dump();
        }
        goal.targetPct = *target.value;
    } else {
        const auto blocks = text::readDouble(typed("blocks"), locale);
        if (!blocks) {
            return refused("blocks", blocks.reason).dump();
        }
        if (!(*blocks.value >= 0.0 && *blocks.value < 0x1p64 &&
              *blocks.value == std::floor(*blocks.value))) {
            return refused("blocks", "must be a whole number of blocks").dump();
        }
        goal.blocks = static_cast<std::uint64_t>(*blocks.value);
    }
    if (const std::string perDay = typed("blocksPerDay");
        perDay.find_first_not_of(" \t") != std::string::npos) {
        const auto value = text::readDouble(perDay, locale);
        if (!value) {
            return refused("blocksPerDay", value.reason).dump();
        }
        goal.blocksPerDay = *value.value;
    }
    const auto digitsAsked = digitsOf(request, locale);
    if (const auto* problem = std::get_if<std::string_view>(&digitsAsked)) {
        return refused("digits", *problem).dump();
    }
    const int digits = std::get<int>(digitsAsked);

    std::optional<SurveyPlan> made;
    try {
        made = planSurvey(std::move(strata), goal);
    } catch (const PlanError& error) {
        if (error.kind() == PlanError::Kind::Goal) {
            return json{{"failed", error.what()}}.dump();
        }
        return refused("strata", error.what()).dump();
    }
    const SurveyPlan& planned = *made;

    json answer;
    answer["csv"] = planRows(planned, nullptr, Format::Csv, digits);
    answer["curveCsv"] = curveRows(planned, Format::Csv, digits);
    answer["notes"] = planned.notes;
    // The plan's rows for the page's table, read back with the survey's own reader.
    StringSource rows(answer["csv"].get<std::string>());
    RecordReader records(rows);
    Record record;
    json table = json::array();
    for (bool first = true; records.next(record); first = false) {
        if (first) {
            answer["header"] = record.fields;
            continue;
        }
        json row = json::array();
        for (const std::string& field : record.fields) {
            row.push_back(shownInLocale(field, locale));
        }
        table.push_back(row);
    }
    answer["rows"] = table;

    // The curve as kestrum-plan --plot draws it, at the size of the page's canvas.
    PlanCurve curve;
    for (const CurvePoint& point : planned.curve) {
        curve.points.emplace_back(static_cast<double>(point.blocks), point.halfWidthPct);
    }
    curve.plan = Point(static_cast<double>(planned.blocks()), planned.halfWidthPct());
    curve.targetPct = planned.goal.targetPct;
    const json& size = request.at("canvas");
    RecordingCanvas canvas(size.at("width").get<double>(), size.at("height").get<double>(),
                           size.at("lineHeight").get<double>());
    canvas.setNumberLocale(locale);
    drawPlanCurve(canvas, curve);
    answer["plot"] = {{"width", canvas.ScaleWidth()},
                      {"height", canvas.ScaleHeight()},
                      {"ops", drawingJson(canvas)}};
    return answer.dump();
}

} // namespace kestrum::web
