#include "SurveyTotals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <utility>

namespace kestrum::survey {

namespace {

// Names listed in a warning before the rest are only counted, so that a survey of thousands of
// blocks left out still gives a warning one can read. Lines that could not be read are all named:
// each is a fault in the file to mend.
constexpr std::uint64_t kNamesShown = 5;

// Below this the blocks are said to differ more than one P and S allows.
constexpr double kDifferLevel = 0.05;

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

void addNamed(std::string& list, std::uint64_t& count, const std::string& name,
              std::uint64_t shown = kNamesShown)
{
    if (++count <= shown) {
        list += list.empty() ? "" : ", ";
        list += name;
    }
}

std::string andMore(const std::string& list, std::uint64_t count)
{
    return count > kNamesShown ? list + " and " + std::to_string(count - kNamesShown) + " more"
                               : list;
}

std::string blockName(const std::string& block, std::size_t line)
{
    return printable(block) + " (line " + std::to_string(line) + ")";
}

// A block into a list of names: its name made only while the list still shows names, since most
// surveys would otherwise make one for every block.
void addBlock(std::string& list, std::uint64_t& count, const BlockRow& row)
{
    if (count < kNamesShown) {
        addNamed(list, count, blockName(row.block, row.line));
    } else {
        ++count;
    }
}

std::string pValue(double p)
{
    char text[32];
    std::snprintf(text, sizeof text, p < 0.001 ? "%.1e" : "%.3f", p);
    return text;
}

std::string percent(double share)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * share);
    return text;
}

} // namespace

const char* methodName(PBy by)
{
    switch (by) {
    case PBy::Stratum:
        return "stratum";
    case PBy::Survey:
        return "survey";
    case PBy::Block:
        return "block";
    }
    return "";
}

void coverageNotes(const inference::Coverage& coverage, double target, const std::string& where,
                   std::vector<Note>& notes)
{
    switch (coverage.status) {
    case inference::CoverageStatus::Given:
        if (coverage.upper < target) {
            notes.push_back({"coverage_below_target",
                             "The coverage of " + where + " lies below the target of " +
                                 percent(target) + " even at its upper 95% limit (" +
                                 percent(coverage.upper) + ")."});
        }
        break;
    case inference::CoverageStatus::WithoutLimits:
        notes.push_back({"coverage_without_limits",
                         "Only 1 block of a stratum sampled gives a coverage, so the spread "
                         "between blocks is unknown: the coverage of " +
                             where + " is given without limits."});
        break;
    case inference::CoverageStatus::NotGiven:
        notes.push_back({"no_coverage", "No coverage for " + where +
                                            ": no block of a stratum that holds blocks gives a "
                                            "marked count of dogs identified."});
        break;
    }
}

SurveyTotals::SurveyTotals(SamplingFrame frame, PBy by, double coverageTarget)
    : frame_(std::move(frame)), by_(by), target_(coverageTarget), strata_(frame_.strata().size())
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

void SurveyTotals::sampleUnread(const RowError& row)
{
    // Without a stratum of the frame the row belongs nowhere; it is told as a failed row anyway.
    const std::optional<std::size_t> at =
        frame_.byName() ? (row.stratum.empty() ? std::nullopt : frame_.find(row.stratum))
                        : (row.stratum.empty() ? std::optional<std::size_t>(0) : std::nullopt);
    if (!at || strata_[*at].sampled >= frame_.strata()[*at].blocks) {
        return;
    }
    Stratum& s = strata_[*at];
    ++s.sampled;
    addNamed(s.unread.named, s.unread.count, "line " + std::to_string(row.line),
             std::numeric_limits<std::uint64_t>::max());
}

void SurveyTotals::add(std::size_t stratum, const BlockRow& row,
                       const inference::Analysis& analysis)
{
    Stratum& s = strata_[stratum];
    s.comparison.add(row.counts, !row.sFixed, analysis.fit);
    anyMarked_ = anyMarked_ || row.marked;
    if (!row.marked) {
        addBlock(s.noMarks.named, s.noMarks.count, row);
    }
    if (by_ == PBy::Block) {
        const inference::LeftOut reason =
            inference::leftOut(row.count, analysis.fit, analysis.standardErrors);
        if (reason == inference::LeftOut::None) {
            const inference::BlockDogs dogs =
                inference::blockDogs(*row.count, analysis.fit.P, analysis.standardErrors.seP);
            s.sample.add(dogs);
            if (row.marked && row.counts.total() > 0.0) {
                s.coverage.add(dogs.N, dogs.variance, static_cast<double>(*row.marked),
                               row.counts.total());
            }
            return;
        }
        Named& out = s.leftOut[static_cast<std::size_t>(reason) - 1];
        addBlock(out.named, out.count, row);
        return;
    }
    s.blocks.push_back({row.counts, row.sFixed.value_or(0.0)});
    s.counts.push_back(row.count.value_or(std::numeric_limits<double>::quiet_NaN()));
    s.marked.push_back(row.marked ? static_cast<double>(*row.marked)
                                  : std::numeric_limits<double>::quiet_NaN());
    if (row.counts.total() == 0.0) {
        addBlock(s.noDogs.named, s.noDogs.count, row);
    }
    if (!row.count) {
        addBlock(s.noCount.named, s.noCount.count, row);
    }
}

void SurveyTotals::finish()
{
    shared_.clear();
    if (by_ == PBy::Stratum) {
        for (const Stratum& s : strata_) {
            const std::span<const inference::GroupBlock> group(s.blocks);
            shared_.push_back(inference::sharedP(std::span(&group, 1)));
        }
    } else if (by_ == PBy::Survey) {
        std::vector<std::span<const inference::GroupBlock>> groups;
        for (const Stratum& s : strata_) {
            groups.emplace_back(s.blocks);
        }
        shared_.push_back(inference::sharedP(groups));
    }
}

const inference::SharedP& SurveyTotals::sharedOf(std::size_t stratum) const
{
    return shared_[by_ == PBy::Survey ? 0 : stratum];
}

InTotal SurveyTotals::inTotal(std::size_t stratum, const inference::Counts& counts, double sHeld,
                              std::optional<double> count) const
{
    InTotal in;
    if (by_ == PBy::Block || !count) {
        return in;
    }
    const inference::SharedP& shared = sharedOf(stratum);
    if (!shared.given()) {
        return in;
    }
    in.P = inference::blockP(shared, {counts, sHeld}).P;
    in.N = *count / in.P;
    return in;
}

inference::Total SurveyTotals::stratumTotal(std::size_t k, TotalsRow& row,
                                            inference::Total& expandedCounts) const
{
    const Stratum& s = strata_[k];
    const auto frameBlocks = static_cast<double>(frame_.strata()[k].blocks);
    if (by_ == PBy::Block) {
        row.used = s.sample.used();
        return inference::stratumTotal(frameBlocks, s.sample);
    }
    const inference::SharedP& shared = sharedOf(k);
    inference::Total none;
    none.frameBlocks = frameBlocks;
    if (!shared.given()) {
        if (!s.blocks.empty()) {
            row.notes.push_back(
                {"no_shared_P", "No P for the total: " + std::string(shared.reason) + "."});
        }
        return none;
    }
    // Each block's count scaled by the shared P over its own, so that the common factor 1 / P
    // stays apart: its uncertainty is the same for every block.
    inference::StratumSample expanded;
    const double P = shared.P();
    for (std::size_t i = 0; i < s.blocks.size(); ++i) {
        const double count = s.counts[i];
        if (std::isnan(count)) {
            continue;
        }
        const inference::BlockP own = inference::blockP(shared, s.blocks[i]);
        const double ratio = P / own.P;
        const double A = count * ratio;
        expanded.add({A, count * (1.0 - own.P) * ratio * ratio + A * A * own.relativeVariance});
    }
    row.used = expanded.used();
    inference::SharedPLimits limits;
    if (!inference::sharedPLimits(shared.analysis, limits)) {
        row.notes.push_back({"no_shared_P", "No total: P has neither a standard error nor "
                                            "profile limits."});
        return none;
    }
    // Kept for the city of one P: the strata's expanded counts add before it divides them.
    expandedCounts = inference::stratumTotal(frameBlocks, expanded);
    return inference::divideByP(expandedCounts, limits);
}

inference::CoverageSample SurveyTotals::coverageSample(std::size_t k) const
{
    const Stratum& s = strata_[k];
    if (by_ == PBy::Block) {
        return s.coverage;
    }
    inference::CoverageSample sample;
    const inference::SharedP& shared = sharedOf(k);
    if (!shared.given()) {
        return sample;
    }
    for (std::size_t i = 0; i < s.blocks.size(); ++i) {
        const double identified = s.blocks[i].counts.total();
        if (std::isnan(s.counts[i]) || std::isnan(s.marked[i]) || identified == 0.0) {
            continue;
        }
        // The block's N as it went into the total, and its variance: the count's own binomial
        // variation and the noise of the block's own P.
        const inference::BlockP own = inference::blockP(shared, s.blocks[i]);
        const double N = s.counts[i] / own.P;
        sample.add(N, s.counts[i] * (1.0 - own.P) / (own.P * own.P) + N * N * own.relativeVariance,
                   s.marked[i], identified);
    }
    return sample;
}

void SurveyTotals::setCoverage(TotalsRow& row, const inference::Coverage& coverage,
                               const std::string& where) const
{
    row.coverage = coverage;
    if (coverage.status != inference::CoverageStatus::NotGiven &&
        row.total.status != inference::TotalStatus::NotGiven) {
        row.toVaccinate = row.total.total * std::max(0.0, target_ - coverage.share);
    }
    coverageNotes(coverage, target_, where, row.notes);
}

std::vector<TotalsRow> SurveyTotals::rows() const
{
    std::vector<TotalsRow> rows;
    std::vector<inference::Total> totals;
    std::vector<inference::Total> expanded;
    std::string withoutTotal;
    std::string withoutLimits;
    std::uint64_t withoutTotalCount = 0;
    std::uint64_t withoutLimitsCount = 0;
    TotalsRow city;
    city.city = true;
    city.method = by_;
    // One per stratum, kept in place: the city's coverage refers to them all.
    std::vector<inference::CoverageSample> coverageSamples;
    coverageSamples.reserve(strata_.size());
    for (std::size_t k = 0; k < strata_.size(); ++k) {
        const Stratum& s = strata_[k];
        const FrameStratum& framed = frame_.strata()[k];
        TotalsRow& row = rows.emplace_back();
        row.stratum = framed.name;
        row.method = by_;
        row.sampled = s.sampled;
        row.total = stratumTotal(k, row, expanded.emplace_back());
        if (by_ != PBy::Block && sharedOf(k).given()) {
            row.shared = sharedOf(k).analysis;
            row.spreadOfP = sharedOf(k).spreadOfP();
        }
        const PooledComparison comparison = s.comparison.compare();
        if (comparison.given()) {
            row.comparison = comparison;
            if (comparison.p < kDifferLevel) {
                row.notes.push_back(
                    {"blocks_differ",
                     "The blocks of this stratum differ more than one P and S allows "
                     "(likelihood-ratio test p = " +
                         pValue(comparison.p) +
                         (by_ == PBy::Block
                              ? "): each block's own P is used."
                              : "): each block's P is drawn towards the shared one only as far "
                                "as the blocks are seen to differ, so read the total with care.")});
            }
        }
        for (std::size_t r = 0; r < std::size(s.leftOut); ++r) {
            if (s.leftOut[r].count > 0) {
                const auto reason = static_cast<inference::LeftOut>(r + 1);
                row.notes.push_back({"left_out_of_total",
                                     "Left out of the total, with " +
                                         std::string(inference::describe(reason)) + ": " +
                                         andMore(s.leftOut[r].named, s.leftOut[r].count) + "."});
            }
        }
        if (s.noCount.count > 0) {
            row.notes.push_back(
                {"left_out_of_total", "Left out of the total, with no street "
                                      "count: " +
                                          andMore(s.noCount.named, s.noCount.count) + "."});
        }
        if (s.noDogs.count > 0) {
            row.notes.push_back(
                {"no_dogs_identified", "No dog was identified in " +
                                           andMore(s.noDogs.named, s.noDogs.count) +
                                           ": counted in the total with the shared P."});
        }
        if (s.unread.count > 0) {
            row.notes.push_back({"rows_unread", "Sampled here but not read, so left out of the "
                                                "total, which the other blocks give: " +
                                                    s.unread.named + "."});
        }
        if (row.shared && !row.shared->standardErrors.given() &&
            row.total.status == inference::TotalStatus::Given) {
            row.notes.push_back({"P_uncertainty_from_limits",
                                 "P has no standard error here (" +
                                     std::string(row.shared->standardErrors.reason) +
                                     "): its uncertainty in the total comes from its profile "
                                     "limits."});
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
        if (anyMarked_) {
            const inference::CoverageSample& sample =
                coverageSamples.emplace_back(coverageSample(k));
            const inference::CoverageStratum stratum{row.total.frameBlocks, &sample};
            setCoverage(row, inference::coverage(std::span(&stratum, 1)), "this stratum");
            if (s.noMarks.count > 0) {
                row.notes.push_back(
                    {"left_out_of_coverage", "Left out of the coverage, with no marked count: " +
                                                 andMore(s.noMarks.named, s.noMarks.count) + "."});
            }
        }
        city.sampled += row.sampled;
        city.used += row.used;
        totals.push_back(row.total);
    }
    switch (by_) {
    case PBy::Block:
        city.total = inference::cityTotal(totals);
        break;
    case PBy::Stratum:
        city.total = inference::sumOfStrata(totals);
        break;
    case PBy::Survey: {
        inference::SharedPLimits limits;
        city.total = inference::cityTotal(expanded);
        if (shared_[0].given() && inference::sharedPLimits(shared_[0].analysis, limits)) {
            city.total = inference::divideByP(city.total, limits);
            city.shared = shared_[0].analysis;
            city.spreadOfP = shared_[0].spreadOfP();
        } else {
            city.total = inference::Total{};
            city.total.frameBlocks = inference::cityTotal(expanded).frameBlocks;
        }
        break;
    }
    }
    if (anyMarked_) {
        std::vector<inference::CoverageStratum> strata;
        for (std::size_t k = 0; k < coverageSamples.size(); ++k) {
            strata.push_back({totals[k].frameBlocks, &coverageSamples[k]});
        }
        setCoverage(city, inference::coverage(strata), "the city");
    }
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
