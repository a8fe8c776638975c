#include "Survey.h"

#include "BlockPlots.h"
#include "Population.h"
#include "SurveyTotals.h"

namespace kestrum::survey {

namespace {

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

class Run {
public:
    Run(ByteSource& input, RowSink& output, Progress& progress, const SurveyOptions& options,
        KestrumN_E04JYF N_E04JYF)
        : reader_(input), output_(output), progress_(progress), options_(options),
          N_E04JYF_(N_E04JYF), writer_(options.format, options.digits)
    {
    }

    SurveySummary operator()()
    {
        std::optional<Row> row = reader_.next();
        if (!row) {
            throw InputError("the input has a header but no blocks");
        }
        // The folder is made before anything is written, so a bad one stops the run cleanly.
        if (options_.plots) {
            plots_.emplace(*options_.plots);
        }
        if (options_.frame) {
            totals_.emplace(*options_.frame);
        }
        output_.row(writer_.header());
        for (; row; row = reader_.next()) {
            if (const auto* error = std::get_if<RowError>(&*row)) {
                ++summary_.failedRows;
                report(error->line, error->reason);
            } else {
                fit(std::get<BlockRow>(*row));
            }
            progress_.update(reader_.bytesRead(), summary_.fitted);
        }
        if (!options_.totalsOnly) {
            text_.clear();
            writer_.pooled(pooled_.finish(options_.profiled, N_E04JYF_), text_);
            output_.row(text_);
        }
        if (totals_) {
            for (const TotalsRow& totalsRow : totals_->rows()) {
                text_.clear();
                writer_.totals(totalsRow, text_);
                output_.row(text_);
            }
        }
        output_.flush();
        return summary_;
    }

private:
    void fit(BlockRow& row)
    {
        const std::size_t stratum = totals_ ? totals_->sample(row) : 0;
        const EstimateInputs inputs = inputsFor(row, options_.rangePct);
        const bool sFree = !row.sFixed;
        BlockResult result;
        if (plots_) {
            PlottedBlock plotted =
                estimateAndPlot(inputs, sFree, options_.profiled, N_E04JYF_,
                                plots_->fileFor(row.block, row.line));
            result.block = std::move(plotted.block);
            if (!plotted.problem.empty()) {
                ++summary_.failedPlots;
                report(row.line, plotted.problem);
            }
        } else {
            result.block = estimateBlock(inputs, sFree, options_.profiled, N_E04JYF_);
        }
        if (row.count) {
            summary_.anyPopulation = true;
            result.population = inference::population(*row.count, result.block.analysis.fit,
                                                      result.block.analysis.limitsP);
        }
        pooled_.add(row.counts, sFree, result.block);
        if (totals_) {
            totals_->add(stratum, row, result.block.analysis);
        }
        if (!options_.totalsOnly) {
            result.row = std::move(row);
            text_.clear();
            writer_.block(result, text_);
            output_.row(text_);
        }
        ++summary_.fitted;
    }

    void report(std::size_t line, const std::string& reason)
    {
        progress_.message(options_.inputName + ":" + std::to_string(line) + ": " + reason);
    }

    SurveyReader reader_;
    RowSink& output_;
    Progress& progress_;
    const SurveyOptions& options_;
    KestrumN_E04JYF N_E04JYF_;
    RowWriter writer_;
    PooledFit pooled_;
    std::optional<PlotFolder> plots_;
    std::optional<SurveyTotals> totals_;
    SurveySummary summary_;
    std::string text_;
};

} // namespace

SurveySummary runSurvey(ByteSource& input, RowSink& output, Progress& progress,
                        const SurveyOptions& options, KestrumN_E04JYF N_E04JYF)
{
    try {
        return Run(input, output, progress, options, N_E04JYF)();
    } catch (...) {
        // Whatever stopped the run, the whole rows already made go out.
        try {
            output.flush();
        } catch (const OutputError&) {
        }
        throw;
    }
}

} // namespace kestrum::survey
