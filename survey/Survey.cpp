#include "Survey.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "BlockPlots.h"
#include "ConditionalMaximum.h"
#include "Coverage.h"
#include "FloatChars.h"
#include "Population.h"
#include "RowSpool.h"
#include "Sightings.h"
#include "SurveyTotals.h"
#include "Warnings.h"

namespace kestrum::survey {

namespace {

// Rows per batch handed to a worker: enough to make the hand-over cheap next to the fits; a plot
// takes as long as a few hundred fits, so with plots a batch is a few rows.
constexpr std::size_t kBatchRows = 256;
constexpr std::size_t kBatchPlots = 4;

EstimateInputs inputsFor(const BlockRow& row, double rangePct)
{
    EstimateInputs inputs;
    inputs.S = row.sFixed.value_or(kStartS);
    inputs.P = kStartP;
    inputs.frequencies(1) = row.counts.n100;
    inputs.frequencies(2) = row.counts.n111;
    inputs.frequencies(3) = row.counts.n101;
    inputs.frequencies(4) = row.counts.n110;
    inputs.rangePct = rangePct;
    return inputs;
}

// The exact inference alone, without the window's search: what every column reports.
BlockAnalysis exactBlock(const BlockRow& row, inference::Parameter profiled)
{
    BlockAnalysis block;
    block.sFree = !row.sFixed;
    block.analysis =
        inference::analyse({row.counts, block.sFree, row.sFixed.value_or(0.0), profiled});
    block.warnings = inference::collectWarnings(block.analysis);
    block.S = block.analysis.fit.S;
    block.P = block.analysis.fit.P;
    block.logLikelihood = block.analysis.fit.logLikelihood;
    block.IFAIL = KESTRUM_IFAIL_CONVERGED;
    return block;
}

// One data row with what only the reading order knows.
struct Job {
    Row row;
    std::size_t sameNameLine = 0;
    std::filesystem::path plotFile; // empty without plots
    std::size_t stratum = 0;        // in the sampling frame, when there is one
};

// What one row gives: its output text, its share of the pooled fit and what to tell.
struct Done {
    std::string text;
    std::size_t line = 0;
    std::string problem; // the row is not a block, or its plot was not saved
    bool fitted = false;
    bool population = false;
    bool sFree = true;
    inference::Counts counts;
    inference::Fit fit;
    // For the totals by stratum, only with a sampling frame.
    std::size_t stratum = 0;
    std::optional<BlockRow> row;
    std::optional<inference::Analysis> analysis;
    // Where the row's cells of its part in the total go, when they wait for the totals.
    std::size_t cellsAt = SpooledRow::kNoCells;
    // Its part in the survey's coverage: the marked of the dogs identified, and the block's
    // weight, its street count.
    std::optional<std::int64_t> marked;
    double weight = 0.0;
    // What a tally's checks found, each as told: its line and the sentence.
    std::vector<std::pair<std::size_t, std::string>> checks;
    // For an observer: the block whole (its row and analysis then live here), or the row that
    // is not one.
    std::optional<BlockResult> result;
    std::optional<RowError> error;

    const BlockRow* blockRow() const { return result ? &result->row : row ? &*row : nullptr; }
    const inference::Analysis& blockAnalysis() const
    {
        return result ? result->block.analysis : *analysis;
    }
};

// A row on its own: nothing here depends on the rows before it.
Done work(Job& job, const SurveyOptions& options, const RowWriter& writer, KestrumN_E04JYF N_E04JYF,
          bool deferCells)
{
    Done done;
    if (auto* error = std::get_if<RowError>(&job.row)) {
        done.line = error->line;
        done.problem = error->reason;
        if (!options.skipFailed && !options.totalsOnly) {
            writer.failed(*error, done.text);
        }
        if (options.observer != nullptr) {
            done.error = std::move(*error);
        }
        return done;
    }
    BlockRow& row = std::get<BlockRow>(job.row);
    done.line = row.line;
    if (row.sFixed && !std::isfinite(inference::bestP(row.counts, *row.sFixed).logLikelihood)) {
        char shown[32];
        *text::toChars(shown, shown + sizeof shown - 1, *row.sFixed).ptr = '\0';
        const std::string reason = "s_fixed " + std::string(shown) +
                                   " gives these frequencies a likelihood of zero at every P: "
                                   "nothing can be estimated";
        job.row = RowError{row.line, row.block, reason, row.stratum, false, std::move(row.own)};
        return work(job, options, writer, N_E04JYF, deferCells);
    }
    const EstimateInputs inputs = inputsFor(row, options.rangePct);
    const bool sFree = !row.sFixed;
    BlockResult result;
    result.sameNameLine = job.sameNameLine;
    if (row.counts.total() == 0.0) {
        // No dog identified: nothing to search or draw, and the exact inference says so.
        result.block = exactBlock(row, options.profiled);
    } else if (!job.plotFile.empty()) {
        PlottedBlock plotted = options.plotter->estimateAndPlot(inputs, sFree, options.profiled,
                                                                N_E04JYF, job.plotFile);
        result.block = std::move(plotted.block);
        done.problem = std::move(plotted.problem);
    } else if (options.search) {
        result.block = estimateBlock(inputs, sFree, options.profiled, N_E04JYF);
    } else {
        result.block = exactBlock(row, options.profiled);
    }
    if (row.count) {
        done.population = true;
        result.population = inference::population(*row.count, result.block.analysis.fit,
                                                  result.block.analysis.limitsP);
    }
    done.fitted = true;
    done.sFree = sFree;
    done.counts = row.counts;
    done.fit = result.block.analysis.fit;
    done.marked = row.marked;
    done.weight = row.count.value_or(row.counts.total());
    for (const SheetCheck& check : row.checks) {
        if (std::string told = checkMessage(check); !told.empty()) {
            done.checks.emplace_back(check.line, std::move(told));
        }
    }
    result.row = std::move(row);
    if (!options.totalsOnly) {
        writer.block(result, done.text, deferCells ? &done.cellsAt : nullptr);
    }
    if (options.frame) {
        done.stratum = job.stratum;
    }
    if (options.observer != nullptr) {
        done.result = std::move(result);
    } else if (options.frame) {
        done.row = std::move(result.row);
        done.analysis = std::move(result.block.analysis);
    }
    return done;
}

class Run {
public:
    Run(ByteSource& input, RowSink& output, Progress& progress, const SurveyOptions& options,
        KestrumN_E04JYF N_E04JYF)
        : reader_(input, options.separator), output_(output), progress_(progress),
          options_(options), N_E04JYF_(N_E04JYF),
          writer_(options.format, options.digits, reader_.layout().ownNames)
    {}

    SurveySummary operator()()
    {
        std::optional<Row> row = reader_.next();
        if (!row) {
            throw InputError("the input has a header but no blocks");
        }
        // The folder is made before anything is written, so a bad one stops the run cleanly.
        if (options_.plots) {
            if (options_.plotter == nullptr) {
                throw std::invalid_argument("plots asked for without a plotter");
            }
            plots_.emplace(*options_.plots);
        }
        if (options_.frame) {
            totals_.emplace(*options_.frame, options_.pBy, options_.coverageTarget);
            if (totals_->deferred() && !options_.totalsOnly) {
                spool_.emplace();
            }
        }
        output_.row(writer_.header());
        // Batches of rows are fitted on the workers while this thread reads the next and writes
        // the finished ones in input order; a few batches in flight per worker keep them busy and
        // the memory flat. With one job the batches run here, one after another.
        const unsigned jobs = std::max(1u, options_.jobs);
        std::deque<std::future<std::vector<Done>>> running;
        std::vector<Job> batch;
        const auto submit = [&] {
            running.push_back(std::async(
                jobs > 1 ? std::launch::async : std::launch::deferred,
                [this](std::vector<Job> jobsOfBatch) {
                    std::vector<Done> done;
                    done.reserve(jobsOfBatch.size());
                    for (Job& job : jobsOfBatch) {
                        done.push_back(work(job, options_, writer_, N_E04JYF_, spool_.has_value()));
                    }
                    return done;
                },
                std::move(batch)));
            batch.clear();
        };
        const auto finishUpTo = [&](std::size_t inFlight) {
            while (running.size() > inFlight) {
                for (const Done& done : running.front().get()) {
                    finish(done);
                }
                running.pop_front();
                progress_.update(reader_.bytesRead(), summary_.fitted);
            }
        };
        // What stops the run part-way (a block the frame does not describe, input that stops
        // being readable) stops it once every row before it is written, whatever the number of
        // jobs: the output must not depend on how many batches were in flight.
        std::exception_ptr stopped;
        const auto nextRow = [&] {
            try {
                row = reader_.next();
            } catch (const InputError&) {
                stopped = std::current_exception();
                row.reset();
            }
        };
        for (; row; nextRow()) {
            try {
                batch.push_back(prepare(std::move(*row)));
            } catch (const InputError&) {
                stopped = std::current_exception();
                break;
            }
            if (batch.size() == (plots_ ? kBatchPlots : kBatchRows)) {
                if (options_.stop != nullptr && options_.stop->load()) {
                    throw Cancelled();
                }
                submit();
                finishUpTo(jobs > 1 ? 2 * jobs : 0);
            }
        }
        if (!batch.empty()) {
            submit();
        }
        finishUpTo(0);
        if (stopped) {
            std::rethrow_exception(stopped);
        }
        if (totals_) {
            totals_->finish();
        }
        replay(true);
        std::string text;
        if (!options_.totalsOnly) {
            // The search runs only where it was asked for, as for the blocks: every column is the
            // exact fit's, and a note about a search nobody asked for would be noise.
            PooledResult pooled = pooled_.finish(
                options_.profiled, options_.search || options_.plots ? N_E04JYF_ : nullptr);
            if (anyMarked_) {
                // The survey's blocks as drawn from a city too large to count.
                const inference::CoverageStratum blocks{std::numeric_limits<double>::infinity(),
                                                        &coverage_};
                pooled.coverage = inference::coverage(std::span(&blocks, 1));
                coverageNotes(*pooled.coverage, options_.coverageTarget, "the survey",
                              pooled.coverageNotes);
            }
            if (options_.observer != nullptr) {
                options_.observer->pooled(pooled);
            }
            if (!writer_.pooled(pooled, text)) {
                failedSummary("the pooled row: no pooled fit: " + pooled.reason);
            }
            output_.row(text);
        }
        if (totals_) {
            const std::vector<TotalsRow> rows = totals_->rows();
            if (options_.observer != nullptr) {
                options_.observer->totals(*totals_, rows);
            }
            for (const TotalsRow& totalsRow : rows) {
                text.clear();
                if (!writer_.totals(totalsRow, text)) {
                    failedSummary((totalsRow.city ? std::string("the total row")
                                   : totalsRow.stratum.empty()
                                       ? std::string("the stratum row")
                                       : "the row of stratum " + printable(totalsRow.stratum)) +
                                  ": no total can be given (its warnings say why)");
                }
                output_.row(text);
            }
        }
        output_.flush();
        return summary_;
    }

private:
    // The rows held for the totals, with their cells filled in when the totals are known; on a
    // run that stops early they go out without them, so that no row read is lost.
    void replay(bool totalsKnown)
    {
        if (!spool_) {
            return;
        }
        std::string cells;
        spool_->replay([&](const SpooledRow& held) {
            if (held.cellsAt == SpooledRow::kNoCells) {
                output_.row(held.text);
                return;
            }
            InTotal in;
            if (totalsKnown) {
                in = totals_->inTotal(held.stratum, held.counts, held.sHeld,
                                      std::isnan(held.count) ? std::nullopt
                                                             : std::optional<double>(held.count));
            }
            cells.clear();
            writer_.inTotalCells(in.P, in.N, cells);
            output_.row(held.text.substr(0, held.cellsAt), cells, held.text.substr(held.cellsAt));
        });
    }

public:
    // Whatever stopped the run, the rows held so far go out.
    void salvage()
    {
        try {
            replay(false);
        } catch (const OutputError&) {
        }
    }

private:
    // What depends on the rows before: the first line of the same name, a plot file of its own.
    Job prepare(Row&& row)
    {
        Job job{std::move(row), 0, {}, 0};
        if (const auto* failed = std::get_if<RowError>(&job.row); failed != nullptr && totals_) {
            totals_->sampleUnread(*failed);
        }
        if (const auto* block = std::get_if<BlockRow>(&job.row)) {
            // A stratum the frame lacks stops the run here, before its row is written.
            job.stratum = totals_ ? totals_->sample(*block) : 0;
            const auto [first, unique] =
                lines_.try_emplace(std::hash<std::string_view>()(block->block), block->line);
            job.sameNameLine = unique ? 0 : first->second;
            if (plots_) {
                job.plotFile = plots_->fileFor(block->block, block->line);
            }
        }
        return job;
    }

    // In input order: the row out, its share of the pooled fit, and what went wrong told.
    void finish(const Done& done)
    {
        const BlockRow* const row = done.blockRow();
        if (!done.text.empty() && spool_) {
            SpooledRow held;
            held.cellsAt = done.cellsAt;
            held.text = done.text;
            if (row != nullptr) {
                held.stratum = done.stratum;
                held.counts = row->counts;
                held.sHeld = row->sFixed.value_or(0.0);
                held.count = row->count.value_or(std::numeric_limits<double>::quiet_NaN());
            }
            spool_->put(held);
        } else if (!done.text.empty()) {
            output_.row(done.text);
        }
        if (done.result) {
            options_.observer->block(*done.result, done.stratum);
        } else if (done.error) {
            options_.observer->failed(*done.error);
        }
        if (done.fitted) {
            ++summary_.fitted;
            summary_.anyPopulation = summary_.anyPopulation || done.population;
            pooled_.add(done.counts, done.sFree, done.fit);
            anyMarked_ = anyMarked_ || done.marked;
            if (done.marked && done.counts.total() > 0.0) {
                coverage_.add(done.weight, 0.0, static_cast<double>(*done.marked),
                              done.counts.total());
            }
            if (totals_) {
                totals_->add(done.stratum, *row, done.blockAnalysis());
            }
            summary_.failedPlots += done.problem.empty() ? 0 : 1;
        } else {
            ++summary_.failedRows;
        }
        if (!done.problem.empty()) {
            progress_.message(options_.inputName + ":" + std::to_string(done.line) + ": " +
                              done.problem);
        }
        for (const auto& [line, told] : done.checks) {
            progress_.message(options_.inputName + ":" + std::to_string(line) + ": " + told);
        }
    }

    // A pooled, stratum or total row with status "error", told as rows are.
    void failedSummary(const std::string& problem)
    {
        ++summary_.failedSummaries;
        progress_.message(options_.inputName + ": " + problem);
    }

    SurveyReader reader_;
    RowSink& output_;
    Progress& progress_;
    const SurveyOptions& options_;
    KestrumN_E04JYF N_E04JYF_;
    RowWriter writer_;
    PooledFit pooled_;
    inference::CoverageSample coverage_;
    bool anyMarked_ = false;
    std::optional<PlotFolder> plots_;
    std::optional<SurveyTotals> totals_;
    std::optional<RowSpool> spool_;
    SurveySummary summary_;
    // Block names seen, by hash, with the first line of each: a duplicate check that keeps a few
    // bytes a block, not the names.
    std::unordered_map<std::size_t, std::size_t> lines_;
};

} // namespace

SurveySummary runSurvey(ByteSource& input, RowSink& output, Progress& progress,
                        const SurveyOptions& options, KestrumN_E04JYF N_E04JYF)
{
    std::optional<Run> run;
    try {
        run.emplace(input, output, progress, options, N_E04JYF);
        return (*run)();
    } catch (...) {
        if (run) {
            run->salvage();
        }
        // Whatever stopped the run, the whole rows already made go out.
        try {
            output.flush();
        } catch (const OutputError&) {
        }
        throw;
    }
}

SurveySummary tallySurvey(ByteSource& input, RowSink& output, Progress& progress,
                          const SurveyOptions& options)
{
    SurveyReader reader(input, options.separator);
    if (reader.layout().form == SheetForm::Frequencies) {
        throw InputError("the input holds frequencies already (n100, n111, n101, n110), not "
                         "sightings: there is nothing to tally");
    }
    std::optional<Row> row = reader.next();
    if (!row) {
        throw InputError("the input has a header but no sightings");
    }
    const TallyWriter writer(reader.layout());
    SurveySummary summary;
    std::string text;
    try {
        output.row(writer.header());
        for (; row; row = reader.next()) {
            const auto tell = [&](std::size_t line, const std::string& what) {
                progress.message(options.inputName + ":" + std::to_string(line) + ": " + what);
            };
            if (const auto* error = std::get_if<RowError>(&*row)) {
                ++summary.failedRows;
                tell(error->line, error->reason);
                continue;
            }
            const BlockRow& block = std::get<BlockRow>(*row);
            for (const SheetCheck& check : block.checks) {
                if (const std::string told = checkMessage(check); !told.empty()) {
                    tell(check.line, told);
                }
            }
            text.clear();
            writer.block(block, text);
            output.row(text);
            ++summary.fitted;
            progress.update(reader.bytesRead(), summary.fitted);
        }
    } catch (...) {
        // Whatever stopped the tally, the whole rows already made go out.
        try {
            output.flush();
        } catch (const OutputError&) {
        }
        throw;
    }
    output.flush();
    return summary;
}

} // namespace kestrum::survey
