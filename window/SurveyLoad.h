// A survey read and fitted for the survey window, off the window's thread: the same run
// kestrum-estimate makes with the same settings, its rows kept aside byte for byte (for Export) and
// its results kept for the table, the totals, the forest plot and the report.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SamplingFrame.h"
#include "Survey.h"
#include "SurveyResults.h"

namespace kestrum {

struct SurveySettings {
    QString survey;               // the survey's file
    std::optional<QString> frame; // its sampling frame's file
    survey::PBy pBy = survey::PBy::Stratum;
    double coverageTarget = survey::kCoverageTarget; // a share, as --coverage-target takes it
};

// The frame kept beside a survey, when there is one: NAME.frame.csv for NAME.csv, else frame.csv
// in the same folder.
std::optional<QString> frameBeside(const QString& survey);

// A file of the run's rows that nobody else can open, gone when this goes.
class RowsFile {
public:
    RowsFile();
    ~RowsFile();
    RowsFile(const RowsFile&) = delete;
    RowsFile& operator=(const RowsFile&) = delete;
    int fd() const { return fd_; }
    // The rows written; empty with the reason when they cannot be read back.
    QByteArray bytes(QString& problem) const;

private:
    int fd_ = -1;
};

struct LoadedSurvey {
    SurveySettings settings;
    QString problem;      // the survey could not be read at all, or stopped part-way: why
    QString frameProblem; // the frame could not be read or does not fit: the survey without it
    bool cancelled = false;
    bool complete = false;                    // every row read and the summary rows written
    std::vector<survey::FrameStratum> strata; // of the frame used; empty without one
    survey::SurveyResults results;
    survey::SurveySummary summary;
    std::vector<std::string> messages; // as kestrum-estimate tells them on standard error
    std::unique_ptr<RowsFile> rows;    // as kestrum-estimate writes them
    std::uint64_t bytes = 0;           // the survey file's size

    bool framed() const { return !strata.empty(); }
};

using SurveyProgress = std::function<void(std::uint64_t bytesRead, std::uint64_t blocks)>;

// Reads and fits the survey on the calling thread, every core fitting: every column from the exact
// inference, as kestrum-estimate gives it without --search, so the estimation library is not
// called. A frame that cannot be read, or that the survey does not fit (a stratum it lacks), is
// left out and said why, and the survey runs again without it. stop: checked between batches.
std::unique_ptr<LoadedSurvey> loadSurvey(const SurveySettings& settings,
                                         const std::atomic<bool>& stop,
                                         const SurveyProgress& progress);

// loadSurvey on a thread of its own, for the window: progress and the end come as signals, each
// with the run's number so that a run replaced by another is told apart.
class SurveyJob : public QObject {
    Q_OBJECT

public:
    SurveyJob(quint64 run, SurveySettings settings);
    // Stops the run and waits for it.
    ~SurveyJob() override;
    SurveyJob(const SurveyJob&) = delete;
    SurveyJob& operator=(const SurveyJob&) = delete;

    // Once its signals are connected.
    void start();
    void cancel() { stop_ = true; }
    quint64 run() const { return run_; }
    // After finished().
    std::unique_ptr<LoadedSurvey> take();

signals:
    void progressed(quint64 run, double share, quint64 blocks);
    void finished(quint64 run);

private:
    quint64 run_;
    SurveySettings settings_;
    std::atomic<bool> stop_ = false;
    std::unique_ptr<LoadedSurvey> loaded_;
    std::thread thread_;
};

} // namespace kestrum
