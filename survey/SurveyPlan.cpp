#include "SurveyPlan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <future>
#include <numeric>
#include <random>
#include <set>
#include <unordered_set>
#include <variant>

#include "Analysis.h"
#include "CitySimulation.h"
#include "FloatChars.h"
#include "SurveyTotals.h"

namespace kestrum::survey {

namespace {

using text::shortest;

constexpr double kZ975 = inference::kNormalQuantile975;
// No multiple of the plan's blocks is worth drawing beyond this on the curve: the tail flattens.
constexpr std::uint64_t kCurveReach = 4;

std::string named(const std::string& stratum)
{
    return "stratum " + printable(stratum);
}

std::string lowerCase(std::string text)
{
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

double median(std::vector<double>& values)
{
    if (values.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1) {
        return upper;
    }
    const double lower =
        *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2.0;
}

} // namespace

std::string stratumProblem(const PlanStratum& s)
{
    if (s.frameBlocks == 0) {
        return "holds no blocks";
    }
    if (!(s.dogs > 0.0) || !std::isfinite(s.dogs)) {
        return "dogs_per_block is " + shortest(s.dogs) + ": a block must hold dogs, above 0";
    }
    if (!(s.dogsCv >= 0.0) || !std::isfinite(s.dogsCv)) {
        return "dogs_cv is " + shortest(s.dogsCv) + ": a coefficient of variation is 0 or more";
    }
    if (!(s.P > 0.0 && s.P < 1.0)) {
        return "P is " + shortest(s.P) + ": it must lie strictly between 0 and 1";
    }
    if (!(s.S > 0.0 && s.S < 1.0)) {
        return "S is " + shortest(s.S) + ": it must lie strictly between 0 and 1";
    }
    return {};
}

std::vector<PlanStratum> readPlan(ByteSource& source, const std::string& name)
{
    const auto refuse = [&name](std::size_t line, const std::string& problem) {
        return InputError(name + ":" + std::to_string(line) + ": " + problem);
    };
    RecordReader records(source);
    Record record;
    startHeader(records);
    const char separator = records.separator();
    if (!records.next(record, true)) {
        throw refuse(1, "the plan is empty: a header row naming the columns stratum, blocks, "
                        "dogs_per_block, dogs_cv, P and S is needed");
    }
    if (!record.problem.empty()) {
        throw refuse(record.line, record.problem);
    }
    constexpr std::size_t kColumns = 6;
    const std::string columns[kColumns] = {"stratum", "blocks", "dogs_per_block",
                                           "dogs_cv", "P",      "S"};
    std::optional<std::size_t> at[kColumns];
    for (std::size_t k = 0; k < record.fields.size(); ++k) {
        const std::string column = lowerCase(record.fields[k]);
        for (std::size_t c = 0; c < kColumns; ++c) {
            if (column == lowerCase(columns[c])) {
                if (at[c]) {
                    throw refuse(record.line,
                                 "the header names the column " + columns[c] + " twice");
                }
                at[c] = k;
            }
        }
    }
    std::string missing;
    for (std::size_t c = 0; c < kColumns; ++c) {
        if (!at[c]) {
            missing += (missing.empty() ? "" : ", ") + columns[c];
        }
    }
    if (!missing.empty()) {
        throw refuse(record.line, "the header lacks " + missing +
                                      " (a plan names the columns stratum, blocks, "
                                      "dogs_per_block, dogs_cv, P and S)");
    }
    const std::size_t fields = record.fields.size();

    std::vector<PlanStratum> strata;
    std::unordered_set<std::string> seen;
    while (records.next(record)) {
        if (!record.problem.empty()) {
            throw refuse(record.line, record.problem);
        }
        if (record.fields.size() != fields) {
            throw refuse(record.line, "the record has " + std::to_string(record.fields.size()) +
                                          " fields where the header has " + std::to_string(fields));
        }
        PlanStratum s;
        s.name = record.fields[*at[0]];
        if (s.name.empty()) {
            throw refuse(record.line, "a stratum without a name");
        }
        if (!seen.insert(s.name).second) {
            throw refuse(record.line, named(s.name) + " is named twice");
        }
        double values[kColumns - 1] = {};
        for (std::size_t c = 1; c < kColumns; ++c) {
            const std::string& text = record.fields[*at[c]];
            const std::optional<double> value = readNumber(text, separator == ';');
            if (!value) {
                throw refuse(
                    record.line,
                    named(s.name) + ": " + columns[c] +
                        (text.empty() ? " is empty" : " is not a number: " + printable(text)));
            }
            values[c - 1] = *value;
        }
        if (values[0] < 0.0 || values[0] != std::floor(values[0]) || values[0] > 9.0e15) {
            throw refuse(record.line, named(s.name) + ": blocks is " + shortest(values[0]) +
                                          ": the blocks of a stratum are a whole number, 0 or "
                                          "more");
        }
        s.frameBlocks = static_cast<std::uint64_t>(values[0]);
        s.dogs = values[1];
        s.dogsCv = values[2];
        s.P = values[3];
        s.S = values[4];
        if (const std::string problem = stratumProblem(s); !problem.empty()) {
            throw refuse(record.line, named(s.name) + ": " + problem);
        }
        strata.push_back(std::move(s));
    }
    if (strata.empty()) {
        throw InputError(name + ": the plan lists no strata");
    }
    return strata;
}

Pilot readPilot(ByteSource& source, const std::string& name, const SamplingFrame& frame)
{
    Pilot pilot;
    const std::size_t strata = frame.strata().size();
    SurveyTotals totals(frame, PBy::Stratum);
    std::vector<std::vector<double>> counts(strata);
    try {
        SurveyReader reader(source);
        while (std::optional<Row> row = reader.next()) {
            if (const auto* error = std::get_if<RowError>(&*row)) {
                pilot.rowsLeftOut.push_back(name + ":" + std::to_string(error->line) + ": " +
                                            error->reason);
                totals.sampleUnread(*error);
                continue;
            }
            const BlockRow& block = std::get<BlockRow>(*row);
            const std::size_t k = totals.sample(block);
            totals.add(k, block,
                       inference::analyse({block.counts, !block.sFixed, block.sFixed.value_or(0.0),
                                           inference::Parameter::P}));
            if (block.count) {
                counts[k].push_back(*block.count);
            }
        }
    } catch (const InputError& error) {
        throw InputError(name + ": " + error.what());
    }
    totals.finish();
    const std::vector<TotalsRow> rows = totals.rows();
    for (std::size_t k = 0; k < strata; ++k) {
        const FrameStratum& framed = frame.strata()[k];
        const std::string where = name + ": " + named(framed.name) + ": ";
        const TotalsRow& row = rows[k];
        if (!row.shared) {
            std::string why = "no block of it in the pilot";
            for (const Note& note : row.notes) {
                if (note.code == "no_shared_P") {
                    why = note.message;
                }
            }
            throw InputError(where + "the pilot gives no P for it (" + why + ")");
        }
        const std::vector<double>& c = counts[k];
        if (c.size() < 2) {
            throw InputError(where + "the pilot has " +
                             (c.empty() ? std::string("no block") : std::string("1 block")) +
                             " with a street count here; dogs per block and their spread need "
                             "at least 2");
        }
        const double P = row.shared->fit.P;
        const double meanCount =
            std::accumulate(c.begin(), c.end(), 0.0) / static_cast<double>(c.size());
        if (!(meanCount > 0.0)) {
            throw InputError(where + "no dog was counted in the pilot's blocks here");
        }
        double squares = 0.0;
        for (const double x : c) {
            squares += (x - meanCount) * (x - meanCount);
        }
        const double countVariance = squares / static_cast<double>(c.size() - 1);
        const double dogs = meanCount / P;
        // The spread of count / P holds the counts' own binomial variation, which the plan adds
        // again: only the rest is the spread of the dogs present, and never less than Poisson.
        const double cv2 = countVariance / (meanCount * meanCount) - (1.0 - P) / (dogs * P);
        pilot.strata.push_back({framed.name, framed.blocks, dogs,
                                std::sqrt(std::max(cv2, 1.0 / dogs)), P, row.shared->fit.S});
    }
    return pilot;
}

double pVariancePerDog(double P, double S)
{
    // The histories 1,1,1 / 1,0,1 / 1,1,0 / 1,0,0 among the dogs identified, with a = S P, and
    // their derivatives in P and S; the last is one less the others.
    const double a = S * P;
    double p[4] = {a * a, S * S * P * (1.0 - P), a * (1.0 - a), 0.0};
    double dP[4] = {2.0 * a * S, S * S * (1.0 - 2.0 * P), S * (1.0 - 2.0 * a), 0.0};
    double dS[4] = {2.0 * a * P, 2.0 * S * P * (1.0 - P), P * (1.0 - 2.0 * a), 0.0};
    p[3] = 1.0 - p[0] - p[1] - p[2];
    dP[3] = -(dP[0] + dP[1] + dP[2]);
    dS[3] = -(dS[0] + dS[1] + dS[2]);
    double iPP = 0.0;
    double iPS = 0.0;
    double iSS = 0.0;
    for (int c = 0; c < 4; ++c) {
        iPP += dP[c] * dP[c] / p[c];
        iPS += dP[c] * dS[c] / p[c];
        iSS += dS[c] * dS[c] / p[c];
    }
    return iSS / (iPP * iSS - iPS * iPS);
}

double halfWidthPct(const inference::Total& total)
{
    if (total.status != inference::TotalStatus::Given || !(total.total > 0.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return 100.0 * (total.upper - total.lower) / (2.0 * total.total);
}

StratumForecast forecastStratum(const PlanStratum& s, std::uint64_t blocks)
{
    StratumForecast f;
    f.blocks = blocks;
    const auto B = static_cast<double>(s.frameBlocks);
    const auto b = static_cast<double>(blocks);
    const double mu = s.dogs;
    const double P = s.P;
    f.identifiedPerBlock = mu * P;
    const double cvMu = s.dogsCv * mu;
    const double countVariance = P * P * cvMu * cvMu + mu * P * (1.0 - P);
    inference::Total A;
    A.status = inference::TotalStatus::Given;
    A.frameBlocks = B;
    A.total = B * mu * P;
    // As stratumTotal gives it: the choice of blocks (none in a census) and the counts' own
    // binomial variation.
    A.variance =
        (blocks < s.frameBlocks ? B * (B - b) * countVariance / b : 0.0) + B * mu * P * (1.0 - P);
    inference::logNormalLimits(A);
    f.seP = std::sqrt(pVariancePerDog(P, s.S) / (b * mu * P));
    // P's profile limits as the survey will show them, within the range the fit searches.
    const double r = kZ975 * f.seP / P;
    inference::SharedPLimits limits;
    limits.P = P;
    limits.lower = std::min(P, std::max(inference::kLowerBound, P * std::exp(-r)));
    limits.upper = std::max(P, std::min(inference::kUpperBound, P * std::exp(r)));
    limits.logVariance = (f.seP / P) * (f.seP / P);
    f.total = inference::divideByP(A, limits);
    return f;
}

double SurveyPlan::teamDays(std::uint64_t blocks) const
{
    return static_cast<double>(blocks) * kCountsPerBlock / goal.blocksPerDay;
}

std::vector<std::uint64_t> SurveyPlan::allocation(std::size_t point) const
{
    std::vector<std::uint64_t> blocks;
    for (const PlanStratum& s : strata) {
        blocks.push_back(std::min(s.frameBlocks, kLeastBlocksPerStratum));
    }
    for (std::size_t i = 1; i <= point && i < curve.size(); ++i) {
        ++blocks[curve[i].added];
    }
    return blocks;
}

PlanCurve planCurveOf(const SurveyPlan& plan)
{
    PlanCurve drawn;
    for (const CurvePoint& point : plan.curve) {
        drawn.points.emplace_back(static_cast<double>(point.blocks), point.halfWidthPct);
    }
    drawn.plan = Point(static_cast<double>(plan.blocks()), plan.halfWidthPct());
    drawn.targetPct = plan.goal.targetPct;
    return drawn;
}

SurveyPlan planSurvey(std::vector<PlanStratum> strata, const PlanGoal& goal)
{
    if (strata.empty()) {
        throw PlanError(PlanError::Kind::Figures, "the plan holds no strata");
    }
    std::set<std::string> names;
    for (const PlanStratum& s : strata) {
        if (const std::string problem = stratumProblem(s); !problem.empty()) {
            throw PlanError(PlanError::Kind::Figures, named(s.name) + ": " + problem);
        }
        if (!names.insert(s.name).second) {
            throw PlanError(PlanError::Kind::Figures, named(s.name) + " is named twice");
        }
    }
    if (goal.targetPct.has_value() == goal.blocks.has_value()) {
        throw PlanError(PlanError::Kind::Figures,
                        "give either a target half-width or the blocks the teams can count");
    }
    if (!(goal.blocksPerDay > 0.0) || !std::isfinite(goal.blocksPerDay)) {
        throw PlanError(PlanError::Kind::Figures, "blocks a team counts in a morning is " +
                                                      shortest(goal.blocksPerDay) +
                                                      ": it must be a number above 0");
    }
    if (goal.targetPct && (!(*goal.targetPct > 0.0) || !std::isfinite(*goal.targetPct))) {
        throw PlanError(PlanError::Kind::Figures, "the target is " + shortest(*goal.targetPct) +
                                                      "%: a half-width is a number above 0");
    }

    SurveyPlan plan;
    plan.strata = std::move(strata);
    plan.goal = goal;
    const std::size_t H = plan.strata.size();
    std::uint64_t least = 0;
    std::uint64_t every = 0;
    std::vector<inference::Total> census;
    for (const PlanStratum& s : plan.strata) {
        least += std::min(s.frameBlocks, kLeastBlocksPerStratum);
        every += s.frameBlocks;
        census.push_back(forecastStratum(s, s.frameBlocks).total);
    }
    const double censusHalfWidth = halfWidthPct(inference::sumOfStrata(census));
    std::uint64_t wanted = every; // with a budget: the blocks the plan counts
    if (goal.blocks) {
        if (*goal.blocks < least) {
            throw PlanError(PlanError::Kind::Goal, "a budget of " + std::to_string(*goal.blocks) +
                                                       " blocks is below the " +
                                                       std::to_string(least) +
                                                       " that counting 2 blocks in each of the " +
                                                       std::to_string(H) + " strata needs");
        }
        if (*goal.blocks > every) {
            plan.notes.push_back("The budget of " + std::to_string(*goal.blocks) +
                                 " blocks is more than the " + std::to_string(every) +
                                 " the strata hold: the plan counts every block.");
        }
        wanted = std::min(*goal.blocks, every);
    } else if (!(censusHalfWidth <= *goal.targetPct)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "a half-width of ±%s%% cannot be reached: counting every block (%llu "
                      "blocks, %s team-days) gives ±%.1f%%",
                      shortest(*goal.targetPct).c_str(), static_cast<unsigned long long>(every),
                      shortest(plan.teamDays(every)).c_str(), censusHalfWidth);
        throw PlanError(PlanError::Kind::Goal, text);
    }

    // One block at a time where it takes most off the city's variance.
    std::vector<StratumForecast> now;
    std::vector<std::optional<StratumForecast>> next(H);
    std::vector<inference::Total> totals;
    std::uint64_t blocks = 0;
    for (std::size_t h = 0; h < H; ++h) {
        const PlanStratum& s = plan.strata[h];
        now.push_back(forecastStratum(s, std::min(s.frameBlocks, kLeastBlocksPerStratum)));
        totals.push_back(now[h].total);
        blocks += now[h].blocks;
        if (now[h].blocks < s.frameBlocks) {
            next[h] = forecastStratum(s, now[h].blocks + 1);
        }
    }
    bool chosen = false;
    std::uint64_t end = every;
    std::vector<StratumForecast> atPlan;
    const auto record = [&](std::size_t added) {
        CurvePoint& point = plan.curve.emplace_back();
        point.blocks = blocks;
        point.added = added;
        point.city = inference::sumOfStrata(totals);
        point.halfWidthPct = halfWidthPct(point.city);
        const bool meets =
            goal.targetPct ? point.halfWidthPct <= *goal.targetPct : blocks == wanted;
        if (!chosen && meets) {
            chosen = true;
            plan.chosen = plan.curve.size() - 1;
            atPlan = now;
            end = std::min(every, std::max(blocks, kCurveReach * blocks));
        }
    };
    record(std::numeric_limits<std::size_t>::max());
    while (blocks < end) {
        // The stratum whose next block takes most off the city's variance; one that is counted
        // whole has no next block.
        std::size_t best = H;
        double most = 0.0;
        for (std::size_t h = 0; h < H; ++h) {
            const double gain = next[h] ? now[h].total.variance - next[h]->total.variance : 0.0;
            if (next[h] && (best == H || gain > most)) {
                best = h;
                most = gain;
            }
        }
        now[best] = *next[best];
        totals[best] = now[best].total;
        next[best].reset();
        if (now[best].blocks < plan.strata[best].frameBlocks) {
            next[best] = forecastStratum(plan.strata[best], now[best].blocks + 1);
        }
        ++blocks;
        record(best);
    }
    plan.forecast = std::move(atPlan);
    plan.city = plan.curve[plan.chosen].city;
    return plan;
}

SimulatedPlan simulatePlan(const SurveyPlan& plan, std::uint64_t surveys, std::uint64_t seed,
                           unsigned threads)
{
    SimulatedPlan result;
    result.surveys = surveys;
    CityDesign design;
    const std::vector<std::uint64_t> blocks = plan.allocation(plan.chosen);
    for (std::size_t h = 0; h < plan.strata.size(); ++h) {
        const PlanStratum& s = plan.strata[h];
        design.strata.push_back({s.name, s.frameBlocks, blocks[h], s.dogs, s.dogsCv, s.P, s.S});
        if (s.dogsCv * s.dogsCv < 1.0 / s.dogs) {
            result.notes.push_back("In " + named(s.name) + " dogs_cv " + shortest(s.dogsCv) +
                                   " is below the Poisson's " + shortest(1.0 / std::sqrt(s.dogs)) +
                                   ": the simulation draws dogs per block as Poisson numbers.");
        }
    }
    const SamplingFrame frame = frameOf(design);
    const std::size_t rows = plan.strata.size() + 1;
    // Surveys are at most a million, which any size_t holds.
    const auto count = static_cast<std::size_t>(surveys);
    std::vector<double> halfWidths(count * rows, std::numeric_limits<double>::quiet_NaN());
    std::vector<char> limited(count * rows, 0);
    std::vector<char> covered(count * rows, 0);
    const auto run = [&](std::uint64_t begin, std::uint64_t stop) {
        for (std::uint64_t k = begin; k < stop; ++k) {
            std::seed_seq seeds{static_cast<std::uint32_t>(seed),
                                static_cast<std::uint32_t>(seed >> 32),
                                static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k >> 32)};
            std::mt19937_64 random(seeds);
            const SimulatedSurvey drawn = simulateSurvey(design, random);
            const std::vector<TotalsRow> totals = totalsOf(frame, drawn, PBy::Stratum);
            for (std::size_t r = 0; r < rows; ++r) {
                const inference::Total& t = totals[r].total;
                const double truth = r + 1 < rows ? drawn.stratumTotals[r] : drawn.trueTotal;
                const std::size_t at = static_cast<std::size_t>(k) * rows + r;
                if (t.status == inference::TotalStatus::Given) {
                    limited[at] = 1;
                    halfWidths[at] = halfWidthPct(t);
                    covered[at] = t.lower <= truth && truth <= t.upper ? 1 : 0;
                }
            }
        }
    };
    const std::uint64_t parts =
        std::clamp<std::uint64_t>(threads, 1, std::max<std::uint64_t>(surveys, 1));
    std::vector<std::future<void>> running;
    for (std::uint64_t part = 1; part < parts; ++part) {
        running.push_back(std::async(std::launch::async, run, surveys * part / parts,
                                     surveys * (part + 1) / parts));
    }
    run(0, surveys / parts);
    for (std::future<void>& part : running) {
        part.get();
    }

    for (std::size_t r = 0; r < rows; ++r) {
        Achieved achieved;
        std::vector<double> widths;
        std::uint64_t held = 0;
        for (std::uint64_t k = 0; k < surveys; ++k) {
            const std::size_t at = static_cast<std::size_t>(k) * rows + r;
            if (limited[at] != 0) {
                ++achieved.withLimits;
                held += static_cast<std::uint64_t>(covered[at]);
                if (std::isfinite(halfWidths[at])) {
                    widths.push_back(halfWidths[at]);
                }
            }
        }
        achieved.medianHalfWidthPct = median(widths);
        if (achieved.withLimits > 0) {
            const auto n = static_cast<double>(achieved.withLimits);
            achieved.coverage = static_cast<double>(held) / n;
            achieved.coverageSe = std::sqrt(achieved.coverage * (1.0 - achieved.coverage) / n);
        }
        if (r + 1 < rows) {
            result.strata.push_back(achieved);
        } else {
            result.city = achieved;
        }
    }
    return result;
}

} // namespace kestrum::survey
