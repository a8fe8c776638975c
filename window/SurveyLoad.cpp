#include "SurveyLoad.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "OutputWriters.h"

namespace kestrum {

namespace {

using namespace survey;

// The file at path, opened to read; closed however the reading ends.
int openToRead(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
}

QString fromStd(const std::string& text)
{
    return QString::fromStdString(text);
}

// Qt's code (painting a widget, starting the application, converting a file name, sending a
// signal) can leave the upper halves of the AVX registers in use, and a thread inherits them from
// the thread that starts it; from then on every instruction of the older SSE encoding waits on
// them, and the fits run some thirty times slower (std::log measured 2.5 s against 0.07 s). The run
// clears them on the thread that starts its workers (a batch's worker is a thread of its own),
// before it and after each report of progress. Nothing lives in them across a call.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx"))) void clearUpperHalves()
{
    _mm256_zeroupper();
}
#endif

void clearVectorState()
{
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx")) {
        clearUpperHalves();
    }
#endif
}

// Messages kept as the survey tool tells them; progress handed on.
class Collected final : public Progress {
public:
    Collected(std::vector<std::string>& messages, const SurveyProgress& progress)
        : Progress(stderr, false, std::nullopt), messages_(messages), progress_(progress)
    {}
    void update(std::uint64_t bytesRead, std::uint64_t blocks) override
    {
        if (progress_) {
            progress_(bytesRead, blocks);
            clearVectorState();
        }
    }
    void message(const std::string& line) override { messages_.push_back(line); }

private:
    std::vector<std::string>& messages_;
    const SurveyProgress& progress_;
};

enum class Outcome { Complete, Cancelled, Stopped };

// One run into a fresh result, with the frame or without.
Outcome runOnce(LoadedSurvey& loaded, const std::optional<SamplingFrame>& frame,
                const std::atomic<bool>& stop, const SurveyProgress& progress)
{
    const QString name = QFileInfo(loaded.settings.survey).fileName();
    const ClosedAtEnd input(openToRead(loaded.settings.survey));
    if (input.fd < 0) {
        loaded.problem =
            QStringLiteral("cannot open %1: %2")
                .arg(loaded.settings.survey, QString::fromLocal8Bit(std::strerror(errno)));
        return Outcome::Stopped;
    }
    struct stat status {};
    if (::fstat(input.fd, &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            loaded.problem = QStringLiteral("%1 is a folder, not a survey file").arg(name);
            return Outcome::Stopped;
        }
        loaded.bytes = static_cast<std::uint64_t>(std::max<off_t>(0, status.st_size));
    }
    // As kestrum-estimate runs by default: every column exact, written in full.
    SurveyOptions options;
    options.inputName = name.toStdString();
    options.jobs = std::max(1u, std::thread::hardware_concurrency());
    options.frame = frame;
    options.pBy = loaded.settings.pBy;
    options.coverageTarget = loaded.settings.coverageTarget;
    options.observer = &loaded.results;
    options.stop = &stop;
    if (frame) {
        loaded.strata = frame->strata();
    }
    loaded.rows = std::make_unique<RowsFile>();
    if (loaded.rows->fd() < 0) {
        loaded.problem = QStringLiteral("no temporary file for the rows: %1")
                             .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return Outcome::Stopped;
    }
    FdSource source(input.fd);
    RowSink sink(loaded.rows->fd());
    Collected collected(loaded.messages, progress);
    try {
        clearVectorState();
        loaded.summary = runSurvey(source, sink, collected, options, nullptr);
        loaded.complete = true;
        return Outcome::Complete;
    } catch (const Cancelled&) {
        loaded.cancelled = true;
        return Outcome::Cancelled;
    } catch (const InputError& error) {
        loaded.problem = name + QStringLiteral(": ") + fromStd(error.what());
    } catch (const OutputError& error) {
        loaded.problem = QStringLiteral("the rows could not be kept: ") + fromStd(error.what());
    } catch (const std::exception& error) {
        loaded.problem = QStringLiteral("stopped: ") + fromStd(error.what());
    }
    return Outcome::Stopped;
}

} // namespace

std::optional<QString> frameBeside(const QString& survey)
{
    const QFileInfo file(survey);
    for (const QString& name :
         {file.completeBaseName() + QStringLiteral(".frame.csv"), QStringLiteral("frame.csv")}) {
        const QFileInfo frame(file.dir(), name);
        if (frame.isFile() && frame.absoluteFilePath() != file.absoluteFilePath()) {
            return frame.filePath();
        }
    }
    return std::nullopt;
}

RowsFile::RowsFile()
{
    const QByteArray folder = QFile::encodeName(QDir::tempPath());
    fd_ = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        // A file system without unnamed files: a named one, unlinked at once.
        QByteArray name = folder + "/kestrum-survey-XXXXXX";
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ >= 0) {
            ::unlink(name.constData());
        }
    }
}

RowsFile::~RowsFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

QByteArray RowsFile::bytes(QString& problem) const
{
    QByteArray all;
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
        problem = QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    all.resize(static_cast<qsizetype>(status.st_size));
    for (qsizetype at = 0; at < all.size();) {
        const ssize_t got = ::pread(fd_, all.data() + at, static_cast<std::size_t>(all.size() - at),
                                    static_cast<off_t>(at));
        if (got <= 0) {
            problem = got < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                              : QStringLiteral("the rows ended early");
            return {};
        }
        at += got;
    }
    return all;
}

std::unique_ptr<LoadedSurvey> loadSurvey(const SurveySettings& settings,
                                         const std::atomic<bool>& stop,
                                         const SurveyProgress& progress)
{
    auto loaded = std::make_unique<LoadedSurvey>();
    loaded->settings = settings;
    std::optional<SamplingFrame> frame;
    QString frameProblem;
    if (settings.frame) {
        const QString name = QFileInfo(*settings.frame).fileName();
        const ClosedAtEnd file(openToRead(*settings.frame));
        try {
            if (file.fd < 0) {
                throw InputError("cannot open " + name.toStdString() + ": " + std::strerror(errno));
            }
            FdSource source(file.fd);
            frame = SamplingFrame::read(source, name.toStdString());
        } catch (const InputError& error) {
            frameProblem = fromStd(error.what());
        }
    }
    if (runOnce(*loaded, frame, stop, progress) == Outcome::Stopped && frame) {
        // Without the frame the survey may read to its end: then the frame was what stopped it.
        auto without = std::make_unique<LoadedSurvey>();
        without->settings = settings;
        if (runOnce(*without, std::nullopt, stop, progress) != Outcome::Stopped) {
            frameProblem = loaded->problem;
            loaded = std::move(without);
        }
    }
    loaded->frameProblem = frameProblem;
    return loaded;
}

SurveyJob::SurveyJob(quint64 run, SurveySettings settings)
    : run_(run), settings_(std::move(settings))
{}

void SurveyJob::start()
{
    thread_ = std::thread([this] {
        // At most twenty reports a second: the window has no use for more.
        auto next = std::chrono::steady_clock::now();
        const auto total =
            static_cast<std::uint64_t>(std::max<qint64>(0, QFileInfo(settings_.survey).size()));
        loaded_ = loadSurvey(
            settings_, stop_, [this, &next, total](std::uint64_t bytesRead, std::uint64_t blocks) {
                const auto now = std::chrono::steady_clock::now();
                if (now < next) {
                    return;
                }
                next = now + std::chrono::milliseconds(50);
                emit progressed(
                    run_,
                    total > 0 ? static_cast<double>(bytesRead) / static_cast<double>(total) : 0.0,
                    blocks);
            });
        emit finished(run_);
    });
}

SurveyJob::~SurveyJob()
{
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::unique_ptr<LoadedSurvey> SurveyJob::take()
{
    if (thread_.joinable()) {
        thread_.join();
    }
    return std::move(loaded_);
}

} // namespace kestrum
