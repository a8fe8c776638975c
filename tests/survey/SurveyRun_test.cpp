// The run as a window drives it: every row handed to an observer in input order with the numbers
// the rows written hold, and a run stopped on request between batches.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <map>
#include <string>
#include <vector>

#include "SurveyResults.h"
#include "kestrum.h"

namespace kestrum::survey {
namespace {

// Two strata of 300 blocks each, so that rows go through several batches: blocks of a few to a few
// dozen dogs, every seventh holding S, every fifth without a street count, every 97th unreadable.
std::string survey(int blocks)
{
    std::string csv = "block,stratum,n100,n111,n101,n110,s_fixed,count,marked\n";
    for (int b = 0; b < blocks; ++b) {
        const std::string name = "b" + std::to_string(b);
        const std::string stratum = b % 2 == 0 ? "north" : "south";
        if (b % 97 == 13) {
            csv += name + "," + stratum + ",x,1,2,3,,,\n";
            continue;
        }
        csv += name + "," + stratum + "," + std::to_string(3 + b % 11) + "," +
               std::to_string(2 + b % 17) + "," + std::to_string(b % 5) + "," +
               std::to_string(1 + b % 7) + "," + (b % 7 == 0 ? "0.8" : "") + "," +
               (b % 5 == 0 ? "" : std::to_string(10 + b % 23)) + "," +
               (b % 3 == 0 ? "" : std::to_string(b % 4)) + "\n";
    }
    return csv;
}

// What the run wrote, read back from memory.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("kestrum-run", 0)) {}
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    int fd() const { return fd_; }
    std::string text() const
    {
        std::string all;
        char buffer[65536];
        for (off_t at = 0;;) {
            const ssize_t got = ::pread(fd_, buffer, sizeof buffer, at);
            if (got <= 0)
                return all;
            all.append(buffer, static_cast<std::size_t>(got));
            at += got;
        }
    }

private:
    int fd_;
};

// The rows written, by fit and line, each as its cells by column name.
std::map<std::string, std::map<std::string, std::string>> rowsByLine(const std::string& csv)
{
    StringSource source(csv);
    RecordReader reader(source);
    Record header;
    reader.next(header);
    std::map<std::string, std::map<std::string, std::string>> rows;
    for (Record record; reader.next(record);) {
        std::map<std::string, std::string> cells;
        for (std::size_t k = 0; k < header.fields.size(); ++k)
            cells[header.fields[k]] = record.fields[k];
        rows[cells["fit"] + cells["line"] + (cells["fit"] == "stratum" ? cells["stratum"] : "")] =
            cells;
    }
    return rows;
}

std::string shortest(double value)
{
    if (std::isnan(value))
        return "";
    char text[64];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

SamplingFrame frame()
{
    StringSource source("stratum,blocks\nnorth,400\nsouth,350\n");
    return SamplingFrame::read(source, "frame.csv");
}

// Rows that fail are told through the progress, here to nobody.
class Quiet final : public Progress {
public:
    Quiet() : Progress(stderr, false, {}) {}
    void message(const std::string&) override {}
};

struct Case {
    const char* name;
    unsigned jobs;
    PBy pBy;
};

class ObservedRun : public ::testing::TestWithParam<Case> {};

TEST_P(ObservedRun, HandsOnEveryRowInOrderAsWritten)
{
    const std::string csv = survey(600);
    SurveyResults results;
    SurveyOptions options;
    options.jobs = GetParam().jobs;
    options.pBy = GetParam().pBy;
    options.frame = frame();
    options.observer = &results;
    MemoryFile file;
    {
        StringSource source(csv);
        RowSink sink(file.fd());
        Quiet quiet;
        runSurvey(source, sink, quiet, options, N_E04JYF);
    }
    const auto written = rowsByLine(file.text());
    ASSERT_EQ(results.rows().size(), 600u);
    std::size_t previous = 0;
    std::size_t withTotals = 0;
    for (const RowSummary& row : results.rows()) {
        SCOPED_TRACE(row.line);
        EXPECT_GT(row.line, previous) << "in input order";
        previous = row.line;
        const auto& cells = written.at("block" + std::to_string(row.line));
        EXPECT_EQ(cells.at("block"), row.block);
        EXPECT_EQ(cells.at("status"), row.failed ? "error" : "ok");
        EXPECT_EQ(cells.at("error"), row.error);
        EXPECT_EQ(cells.at("P"), shortest(row.P));
        EXPECT_EQ(cells.at("N"), shortest(row.N));
        EXPECT_EQ(cells.at("N_lower"), row.nLower.kind == inference::LimitKind::NotGiven
                                           ? ""
                                           : shortest(row.nLower.value));
        EXPECT_EQ(cells.at("P_in_total"), shortest(row.pInTotal));
        EXPECT_EQ(cells.at("N_in_total"), shortest(row.nInTotal));
        EXPECT_EQ(cells.at("marked"), shortest(row.marked));
        EXPECT_EQ(cells.at("coverage_lower"), shortest(row.coverage.lower));
        std::string warnings;
        for (const std::string& warning : row.warnings)
            warnings += (warnings.empty() ? "" : " | ") + warning;
        EXPECT_EQ(cells.at("warnings"), warnings);
        withTotals += std::isnan(row.nInTotal) ? 0 : 1;
    }
    EXPECT_EQ(withTotals > 0, GetParam().pBy != PBy::Block);
    ASSERT_TRUE(results.pooledFit());
    EXPECT_EQ(shortest(results.pooledFit()->fit->analysis.fit.P), written.at("pooled").at("P"));
    ASSERT_EQ(results.totalsRows().size(), 3u);
    EXPECT_EQ(shortest(results.totalsRows()[1].total.total), written
                                                                 .at("stratum"
                                                                     "south")
                                                                 .at("total"));
    EXPECT_EQ(shortest(results.totalsRows()[2].total.upper), written.at("total").at("total_upper"));
}

INSTANTIATE_TEST_SUITE_P(
    JobsAndMethods, ObservedRun,
    ::testing::Values(Case{"oneJob", 1, PBy::Stratum}, Case{"twoJobs", 2, PBy::Stratum},
                      Case{"survey", 2, PBy::Survey}, Case{"block", 1, PBy::Block}),
    [](const ::testing::TestParamInfo<Case>& run) { return std::string(run.param.name); });

// Stops the run at its first report of progress, as a Cancel button would.
class StopAtFirstUpdate final : public Progress {
public:
    explicit StopAtFirstUpdate(std::atomic<bool>& stop) : Progress(stderr, false, {}), stop_(stop)
    {}
    void update(std::uint64_t, std::uint64_t) override { stop_ = true; }
    void message(const std::string&) override {}

private:
    std::atomic<bool>& stop_;
};

TEST(StoppedRun, EndsBetweenBatchesWithWholeRowsWritten)
{
    for (const unsigned jobs : {1u, 2u}) {
        SCOPED_TRACE(jobs);
        std::atomic<bool> stop = false;
        SurveyResults results;
        SurveyOptions options;
        options.jobs = jobs;
        options.observer = &results;
        options.stop = &stop;
        MemoryFile file;
        StringSource source(survey(5000));
        RowSink sink(file.fd());
        StopAtFirstUpdate progress(stop);
        EXPECT_THROW(runSurvey(source, sink, progress, options, N_E04JYF), Cancelled);
        EXPECT_GT(results.rows().size(), 0u);
        EXPECT_LT(results.rows().size(), 5000u / 2) << "stopped well before the end";
        EXPECT_FALSE(results.pooledFit());
        const std::string text = file.text();
        EXPECT_EQ(text.back(), '\n');
        EXPECT_EQ(rowsByLine(text).size(), results.rows().size()) << "the rows observed, written";
    }
}

} // namespace
} // namespace kestrum::survey
