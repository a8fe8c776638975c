#include "SurveyForest.h"

#include <cmath>
#include <map>
#include <optional>
#include <string>

namespace kestrum::survey {

namespace {

bool given(double value)
{
    return std::isfinite(value);
}

} // namespace

ForestPlot surveyForest(const SurveyResults& results, const std::vector<FrameStratum>& strata)
{
    const bool framed = !strata.empty();
    ForestPlot plot;
    if (!framed) {
        plot.axisTitle = "dogs in the block";
    }
    // The blocks of each group, in input order; groups by the frame's strata, else by name.
    std::vector<std::vector<const RowSummary*>> groups(framed ? strata.size() : 0);
    std::vector<std::string> names;
    std::map<std::string, std::size_t> byName;
    for (const FrameStratum& stratum : strata) {
        names.push_back(stratum.name);
    }
    for (const RowSummary& row : results.rows()) {
        if (row.failed) {
            continue;
        }
        std::size_t group = row.stratumIndex;
        if (!framed) {
            const auto [at, added] = byName.try_emplace(row.stratum, groups.size());
            if (added) {
                groups.emplace_back();
                names.push_back(row.stratum);
            }
            group = at->second;
        }
        groups[group].push_back(&row);
    }
    const auto& totals = results.totalsRows();
    const auto perBlock = [](const TotalsRow& row, std::string label, ForestRow::Kind kind) {
        ForestRow shown;
        shown.kind = kind;
        shown.label = std::move(label);
        const inference::Total& t = row.total;
        if (const std::optional<double> dogs = t.perBlock()) {
            shown.estimate = *dogs;
            if (t.status == inference::TotalStatus::Given) {
                shown.lower = t.lower / t.frameBlocks;
                shown.upper = t.upper / t.frameBlocks;
            }
        } else {
            shown.note = "no total";
        }
        return shown;
    };
    for (std::size_t k = 0; k < groups.size(); ++k) {
        const bool named = !names[k].empty();
        if (named || groups.size() > 1) {
            ForestRow heading;
            heading.kind = ForestRow::Kind::Heading;
            heading.label = named ? names[k] : "(no stratum)";
            plot.rows.push_back(heading);
        }
        for (const RowSummary* block : groups[k]) {
            ForestRow row;
            row.label = block->block.empty() ? "line " + std::to_string(block->line) : block->block;
            if (given(block->N)) {
                row.estimate = block->N;
                row.lower = block->nLower.value;
                row.upper = block->nUpper.value;
                row.lowerOpen = block->nLower.open();
                row.upperOpen = block->nUpper.open();
            } else {
                row.note =
                    given(block->count) ? "no number of dogs: see the warnings" : "no street count";
            }
            plot.rows.push_back(row);
        }
        if (framed && k < totals.size()) {
            plot.rows.push_back(perBlock(
                totals[k], (named ? names[k] : std::string("stratum")) + ": dogs per block",
                ForestRow::Kind::Stratum));
        }
    }
    if (!totals.empty() && totals.back().city) {
        plot.rows.push_back(perBlock(totals.back(), "city: dogs per block", ForestRow::Kind::City));
    }
    return plot;
}

} // namespace kestrum::survey
