#include "PlanOutput.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <variant>

#include <nlohmann/json.hpp>

#include "FloatChars.h"
#include "NumberCore.h"

namespace kestrum::survey {

namespace {

struct Empty {};
using Cell = std::variant<Empty, std::string, std::uint64_t, double>;

Cell real(double value)
{
    return std::isfinite(value) ? Cell(value) : Cell(Empty{});
}

class Rows {
public:
    Rows(const std::vector<std::string_view>& columns, Format format, int digits)
        : columns_(columns), format_(format), digits_(digits)
    {
        if (format_ == Format::Csv) {
            for (std::size_t k = 0; k < columns_.size(); ++k) {
                text_ += (k > 0 ? "," : "") + std::string(columns_[k]);
            }
            text_ += '\n';
        }
    }

    void row(const std::vector<Cell>& cells)
    {
        if (format_ == Format::Json) {
            nlohmann::ordered_json object;
            for (std::size_t k = 0; k < columns_.size(); ++k) {
                const std::string name(columns_[k]);
                const Cell& cell = cells[k];
                if (const auto* text = std::get_if<std::string>(&cell)) {
                    object[name] = *text;
                } else if (const auto* whole = std::get_if<std::uint64_t>(&cell)) {
                    object[name] = *whole;
                } else if (const auto* value = std::get_if<double>(&cell)) {
                    object[name] = rounded(*value);
                } else {
                    object[name] = nullptr;
                }
            }
            text_ += object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            text_ += '\n';
            return;
        }
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            text_ += k > 0 ? "," : "";
            const Cell& cell = cells[k];
            if (const auto* text = std::get_if<std::string>(&cell)) {
                csvText(*text);
            } else if (const auto* whole = std::get_if<std::uint64_t>(&cell)) {
                text_ += std::to_string(*whole);
            } else if (const auto* value = std::get_if<double>(&cell)) {
                text_ += number(*value);
            }
        }
        text_ += '\n';
    }

    std::string take() { return std::move(text_); }

private:
    // Rounded as kestrum-estimate's --digits rounds, the window's way.
    std::string number(double value) const
    {
        if (digits_ < 0) {
            return kestrum::text::shortest(value);
        }
        return kestrum::text::formatNumber(
            value, digits_ == 0 ? "0" : "0." + std::string(static_cast<std::size_t>(digits_), '0'));
    }

    double rounded(double value) const
    {
        if (digits_ < 0) {
            return value;
        }
        const std::string text = number(value);
        double back = value;
        kestrum::text::fromChars(text.data(), text.data() + text.size(), back);
        return back;
    }

    // RFC 4180 quoting where a field needs it; control characters written as JSON escapes them,
    // so that no name can steer a terminal.
    void csvText(const std::string& text)
    {
        const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                           (!text.empty() && (text.front() == ' ' || text.back() == ' '));
        text_ += quote ? "\"" : "";
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '"') {
                text_ += "\"\"";
            } else if (byte < 0x20 || byte == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                text_ += escaped;
            } else {
                text_ += c;
            }
        }
        text_ += quote ? "\"" : "";
    }

    const std::vector<std::string_view>& columns_;
    Format format_;
    int digits_;
    std::string text_;
};

void totalCells(const inference::Total& total, std::vector<Cell>& cells)
{
    const bool limits = total.status == inference::TotalStatus::Given;
    cells.push_back(real(total.total));
    cells.push_back(limits ? real(total.se) : Cell(Empty{}));
    cells.push_back(limits ? real(total.lower) : Cell(Empty{}));
    cells.push_back(limits ? real(total.upper) : Cell(Empty{}));
    cells.push_back(real(halfWidthPct(total)));
}

void achievedCells(const SimulatedPlan* simulated, const Achieved* achieved,
                   std::vector<Cell>& cells)
{
    if (simulated == nullptr) {
        cells.insert(cells.end(), 5, Cell(Empty{}));
        return;
    }
    cells.push_back(simulated->surveys);
    cells.push_back(achieved->withLimits);
    cells.push_back(real(achieved->medianHalfWidthPct));
    cells.push_back(real(achieved->coverage));
    cells.push_back(real(achieved->coverageSe));
}

} // namespace

const std::vector<std::string_view>& planColumns()
{
    static const std::vector<std::string_view> columns = {"stratum",
                                                          "frame_blocks",
                                                          "blocks_to_count",
                                                          "dogs_per_block",
                                                          "dogs_cv",
                                                          "P",
                                                          "S",
                                                          "dogs_identified_per_block",
                                                          "se_P",
                                                          "total",
                                                          "total_se",
                                                          "total_lower",
                                                          "total_upper",
                                                          "half_width_pct",
                                                          "team_days",
                                                          "simulated_surveys",
                                                          "simulated_with_limits",
                                                          "simulated_half_width_pct",
                                                          "simulated_coverage",
                                                          "simulated_coverage_se"};
    return columns;
}

const std::vector<std::string_view>& curveColumns()
{
    static const std::vector<std::string_view> columns = {
        "blocks",      "team_days",   "total",          "total_se",
        "total_lower", "total_upper", "half_width_pct", "added_to"};
    return columns;
}

std::string planRows(const SurveyPlan& plan, const SimulatedPlan* simulated, Format format,
                     int digits)
{
    Rows rows(planColumns(), format, digits);
    std::uint64_t frameBlocks = 0;
    double identified = 0.0;
    for (std::size_t h = 0; h < plan.strata.size(); ++h) {
        const PlanStratum& s = plan.strata[h];
        const StratumForecast& f = plan.forecast[h];
        frameBlocks += s.frameBlocks;
        identified += static_cast<double>(f.blocks) * f.identifiedPerBlock;
        std::vector<Cell> cells = {
            s.name,         s.frameBlocks, f.blocks,  real(s.dogs),
            real(s.dogsCv), real(s.P),     real(s.S), real(f.identifiedPerBlock),
            real(f.seP)};
        totalCells(f.total, cells);
        cells.push_back(real(plan.teamDays(f.blocks)));
        achievedCells(simulated, simulated != nullptr ? &simulated->strata[h] : nullptr, cells);
        rows.row(cells);
    }
    const std::uint64_t blocks = plan.blocks();
    std::vector<Cell> cells = {
        Empty{}, frameBlocks, blocks,  real(plan.city.total / static_cast<double>(frameBlocks)),
        Empty{}, Empty{},     Empty{}, real(identified / static_cast<double>(blocks)),
        Empty{}};
    totalCells(plan.city, cells);
    cells.push_back(real(plan.teamDays(blocks)));
    achievedCells(simulated, simulated != nullptr ? &simulated->city : nullptr, cells);
    rows.row(cells);
    return rows.take();
}

std::string curveRows(const SurveyPlan& plan, Format format, int digits)
{
    Rows rows(curveColumns(), format, digits);
    for (const CurvePoint& point : plan.curve) {
        std::vector<Cell> cells = {point.blocks, real(plan.teamDays(point.blocks))};
        totalCells(point.city, cells);
        cells.push_back(point.added < plan.strata.size() ? Cell(plan.strata[point.added].name)
                                                         : Cell(Empty{}));
        rows.row(cells);
    }
    return rows.take();
}

} // namespace kestrum::survey
