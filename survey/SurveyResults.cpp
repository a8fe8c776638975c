#include "SurveyResults.h"

#include <cmath>

namespace kestrum::survey {

void SurveyResults::block(const BlockResult& result, std::size_t stratum)
{
    RowSummary& row = rows_.emplace_back();
    row.line = result.row.line;
    row.block = result.row.block;
    row.stratum = result.row.stratum;
    row.stratumIndex = stratum;
    const inference::Counts& counts = result.row.counts;
    row.counts = {counts.n100, counts.n111, counts.n101, counts.n110};
    row.sFixed = result.row.sFixed.value_or(kNone);
    row.S = result.block.analysis.fit.S;
    row.P = result.block.analysis.fit.P;
    row.count = result.row.count.value_or(kNone);
    if (result.population && populationProblem(result).empty()) {
        row.N = result.population->estimate;
        row.nLower = result.population->lower;
        row.nUpper = result.population->upper;
    }
    if (result.row.marked) {
        marked_ = true;
        row.marked = static_cast<double>(*result.row.marked);
        row.coverage = inference::wilson(row.marked, counts.total());
    }
    for (Note& note : rowNotes(result)) {
        row.warnings.push_back(std::move(note.message));
    }
}

void SurveyResults::failed(const RowError& error)
{
    RowSummary& row = rows_.emplace_back();
    row.line = error.line;
    row.block = error.block;
    row.stratum = error.stratum;
    row.failed = true;
    row.sighting = error.sighting;
    row.error = error.reason;
}

void SurveyResults::pooled(const PooledResult& result)
{
    pooled_ = result;
}

void SurveyResults::totals(const SurveyTotals& totals, const std::vector<TotalsRow>& rows)
{
    totals_ = rows;
    if (!totals.deferred()) {
        return;
    }
    // As the rows written show it: the same call the survey makes for each block row.
    for (RowSummary& row : rows_) {
        if (row.failed) {
            continue;
        }
        const InTotal in = totals.inTotal(
            row.stratumIndex, {row.counts[0], row.counts[1], row.counts[2], row.counts[3]},
            row.sHeld() ? row.sFixed : 0.0,
            std::isnan(row.count) ? std::nullopt : std::optional<double>(row.count));
        row.pInTotal = in.P;
        row.nInTotal = in.N;
    }
}

} // namespace kestrum::survey
