#include "SurveyTotals.h"

#include <utility>

namespace kestrum::survey {

namespace {

// Names listed in a warning before the rest are only counted, so that a survey of thousands of
// blocks left out still gives a warning one can read.
constexpr std::uint64_t kNamesShown = 5;

std::string ordinal(std::uint64_t n)
{
    const std::uint64_t tens = n % 100;
    const char* suffix = tens >= 11 && tens <= 13 ? "th"
                         : n % 10 == 1            ? "st"
                         : n % 10 == 2            ? "nd"
                         : n % 10 == 3            ? "rd"
                                                  : "th";
    return std::to_string(n) + suffix;
}

void addNamed(std::string& list, std::uint64_t& count, const std::string& name)
{
    if (++count <= kNamesShown) {
        list += list.empty() ? "" : ", ";
        list += name;
    }
}

std::string andMore(const std::string& list, std::uint64_t count)
{
    return count > kNamesShown ? list + " and " + std::to_string(count - kNamesShown) + " more"
                               : list;
}

} // namespace

SurveyTotals::SurveyTotals(SamplingFrame frame)
    : frame_(std::move(frame)), strata_(frame_.strata().size())
{}

std::size_t SurveyTotals::sample(const BlockRow& row)
{
    const std::string where = "line " + std::to_string(row.line) + ": ";
    if (!frame_.byName() && !row.stratum.empty()) {
        throw InputError(where + "the block names the stratum " + printable(row.stratum) +
                         ", but " + frame_.described() +
                         " gives the size of a survey of one stratum: give each stratum's size "
                         "with --frame");
    }
    if (row.stratum.empty() && frame_.byName()) {
        throw InputError(where + "the block names no stratum, and " + frame_.described() +
                         " gives sizes by stratum");
    }
    const std::optional<std::size_t> at = frame_.find(row.stratum);
    if (!at) {
        throw InputError(where + "stratum " + printable(row.stratum) + " is not in " +
                         frame_.described());
    }
    Stratum& stratum = strata_[*at];
    const FrameStratum& framed = frame_.strata()[*at];
    if (++stratum.sampled > framed.blocks) {
        const std::string which = " (this block is the " + ordinal(stratum.sampled) + ")";
        throw InputError(where +
                         (frame_.byName()
                              ? "stratum " + printable(framed.name) + " holds " +
                                    std::to_string(framed.blocks) + " blocks in " +
                                    frame_.described() + ", fewer than are sampled from it" + which
                              : frame_.described() + " is fewer than the blocks sampled" + which));
    }
    return *at;
}

void SurveyTotals::add(std::size_t stratum, const BlockRow& row,
                       const inference::Analysis& analysis)
{
    Stratum& s = strata_[stratum];
    const inference::LeftOut reason =
        inference::leftOut(row.count, analysis.fit, analysis.standardErrors);
    if (reason == inference::LeftOut::None) {
        s.sample.add(inference::blockDogs(*row.count, analysis.fit.P, analysis.standardErrors.seP));
        return;
    }
    LeftOutBlocks& out = s.leftOut[static_cast<std::size_t>(reason) - 1];
    addNamed(out.named, out.count,
             printable(row.block) + " (line " + std::to_string(row.line) + ")");
}

std::vector<TotalsRow> SurveyTotals::rows() const
{
    std::vector<TotalsRow> rows;
    std::vector<inference::Total> totals;
    std::string withoutTotal;
    std::string withoutLimits;
    std::uint64_t withoutTotalCount = 0;
    std::uint64_t withoutLimitsCount = 0;
    TotalsRow city;
    city.city = true;
    for (std::size_t k = 0; k < strata_.size(); ++k) {
        const Stratum& s = strata_[k];
        const FrameStratum& framed = frame_.strata()[k];
        TotalsRow& row = rows.emplace_back();
        row.stratum = framed.name;
        row.sampled = s.sampled;
        row.used = s.sample.used();
        row.total = inference::stratumTotal(static_cast<double>(framed.blocks), s.sample);
        for (std::size_t r = 0; r < std::size(s.leftOut); ++r) {
            if (s.leftOut[r].count > 0) {
                const auto reason = static_cast<inference::LeftOut>(r + 1);
                row.notes.push_back({"left_out_of_total",
                                     "Left out of the total, with " +
                                         std::string(inference::describe(reason)) + ": " +
                                         andMore(s.leftOut[r].named, s.leftOut[r].count) + "."});
            }
        }
        const std::string name = frame_.byName() ? printable(framed.name) : "the one stratum";
        switch (row.total.status) {
        case inference::TotalStatus::Given:
            break;
        case inference::TotalStatus::WithoutLimits:
            row.notes.push_back({"total_without_limits",
                                 "Only 1 block of this stratum could be used, so the variation "
                                 "between blocks is unknown: the total is given without limits."});
            addNamed(withoutLimits, withoutLimitsCount, name);
            break;
        case inference::TotalStatus::NotGiven:
            row.notes.push_back({"no_total", s.sampled == 0
                                                 ? "No block of this stratum was sampled, so it "
                                                   "has no total."
                                                 : "No block of this stratum could be used, so it "
                                                   "has no total."});
            addNamed(withoutTotal, withoutTotalCount, name);
            break;
        }
        city.sampled += row.sampled;
        city.used += row.used;
        totals.push_back(row.total);
    }
    city.total = inference::cityTotal(totals);
    if (withoutTotalCount > 0) {
        city.notes.push_back({"no_total", "No total for the city, as these strata have none: " +
                                              andMore(withoutTotal, withoutTotalCount) + "."});
    } else if (withoutLimitsCount > 0) {
        city.notes.push_back({"total_without_limits",
                              "The city's total is given without limits, as these strata have "
                              "none: " +
                                  andMore(withoutLimits, withoutLimitsCount) + "."});
    }
    rows.push_back(std::move(city));
    return rows;
}

} // namespace kestrum::survey
