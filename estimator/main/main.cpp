// kestrum-estimate: every block of a survey fitted as the window fits it, for scripts and for
// machines without a display.
//
// Exit status: 0 when every row was fitted, 1 when some rows were not valid blocks (or a plot was
// not saved) and the others were fitted, 2 when the survey could not be read or the output not
// written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>

#include <CLI/CLI.hpp>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "Population.h"
#include "Survey.h"
#include "kestrum.h"

namespace {

using namespace kestrum::survey;

constexpr int kAllFitted = 0;
constexpr int kSomeRowsFailed = 1;
constexpr int kFailed = 2;

const char* const kDescription =
    "Fits P (the proportion of the dogs present that is seen on a count) and S (the proportion "
    "that stays in the block from one count to the next) to every block of a survey, by maximum "
    "likelihood, with the same library and the same inference as the Kestrum window, and a "
    "pooled fit with one P and one S shared by all blocks.";

const char* const kFooter = R"(Input:
  CSV with a header row naming the columns block, n100, n111, n101, n110 (the
  frequencies of the capture histories 1,0,0 / 1,1,1 / 1,0,1 / 1,1,0), and
  optionally s_fixed (hold S at this value, above 0 and at most 1, instead of
  estimating it) and count (a street count of the block, for the number of dogs
  N = count / P). Other columns are ignored. Every block starts from the
  window's S = P = 0.9. With --frame, a column stratum names each block's
  stratum.

Output, one row per block, then one row "pooled":
  fit, line, block, S_free, S, P, log_likelihood   the window's fit
  P_lower, P_upper, S_lower, S_upper   exact 95% profile-likelihood limits; a
                     limit beyond the range searched is marked: "<0.01",
                     ">0.99" in CSV, P_lower_open etc. true in JSON
  se_P, se_S         standard errors from the observed information
  G2, X2, df, p_G2, p_X2   fit check against the four frequencies
  count, N, N_lower, N_upper   dogs in the block, when a count is given
                     (the limits allow only for the uncertainty in P)
  blocks, LR, LR_df, LR_p, AIC_shared, AIC_separate   pooled row only: how
                     many blocks share its P and S, and the likelihood-ratio
                     test and AIC of one P and S shared against one pair per
                     block (blocks with s_fixed take no part in either)
  stratum            the block's stratum, as the survey names it
  blocks_sampled, blocks_used, frame_blocks, total, total_se, total_lower,
  total_upper, dogs_per_block   with --frame or --blocks, one row "stratum"
                     per stratum of the frame and a last row "total" for the
                     city: the dogs in all the frame's blocks, from the blocks
                     with a count and a standard error of P, with 95%
                     log-normal limits (see README)
  warnings           what to be careful about, one sentence each, joined by
                     " | " in CSV, with a code for scripts in JSON
  Empty (null in JSON) where a value is not given. JSON Lines carry the same
  columns, one complete object per line.

Exit status: 0 every row fitted; 1 some rows were not valid blocks (each told
on standard error with its line number) or a plot was not saved, the others
were fitted; 2 the input could not be read as a survey, the output not
written, or the frame not read or not matching the survey (a stratum it
lacks, more blocks sampled than it holds).

Examples:
  kestrum-estimate survey.csv > fits.csv
  kestrum-estimate --json --digits 4 survey.csv | jq .P
  kestrum-estimate --plots plots --profile S --range 50 survey.csv
  cat survey.csv | kestrum-estimate - > fits.csv
  kestrum-estimate --frame frame.csv --totals-only survey.csv
)";

struct Input {
    int fd = STDIN_FILENO;
    std::string name = "<stdin>";
    std::optional<std::uint64_t> size;
};

// Opens the survey; the reason when it cannot be read.
std::optional<Input> openInput(const std::string& path, std::string& problem)
{
    Input input;
    if (path != "-") {
        input.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        input.name = path;
        if (input.fd < 0) {
            problem = "cannot open " + path + ": " + std::strerror(errno);
            return std::nullopt;
        }
    }
    struct stat status {};
    if (::fstat(input.fd, &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            problem = input.name + " is a folder, not a survey file";
            return std::nullopt;
        }
        if (S_ISREG(status.st_mode)) {
            input.size = static_cast<std::uint64_t>(status.st_size);
        }
    }
    return input;
}

// A file the program opened, closed however its reading ends.
struct ClosedAtEnd {
    int fd;
    explicit ClosedAtEnd(int file) : fd(file) {}
    ClosedAtEnd(const ClosedAtEnd&) = delete;
    ClosedAtEnd& operator=(const ClosedAtEnd&) = delete;
    ~ClosedAtEnd()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

void say(const std::string& text)
{
    std::fprintf(stderr, "kestrum-estimate: %s\n", text.c_str());
}

// Qt's own notes on a machine without a desktop (no XDG_RUNTIME_DIR, say) would read as problems
// with the survey; a plot that cannot be saved is told with its line all the same.
void onlyQtErrors(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        say(message.toStdString());
    }
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app(kDescription, "kestrum-estimate");
    app.footer(kFooter);
    app.get_formatter()->column_width(24);

    std::string inputPath = "-";
    bool json = false;
    int digits = -1;
    std::string plots;
    std::string profile = "P";
    double rangePct = 30.0;
    std::string framePath;
    std::string frameBlocks;
    bool totalsOnly = false;

    app.add_option("survey", inputPath,
                   "The survey CSV file; '-' or nothing reads standard input. "
                   "Example: survey.csv");
    app.add_flag("--json", json,
                 "Write JSON Lines (one object per row) instead of CSV. "
                 "Example: --json");
    app.add_option("--digits", digits,
                   "Round every real to this many decimals, as the window rounds; without it each "
                   "is written in full, exactly. Example: --digits 4")
        ->check(CLI::Range(0, 15));
    app.add_option("--plots", plots,
                   "Save each block's profile plot, as the window draws it, as FOLDER/BLOCK.png "
                   "(made if missing; a name taken twice gets -lineN); the warnings then also say "
                   "when a plot's range hides the 95% line. Example: --plots plots")
        ->type_name("FOLDER");
    app.add_option("--profile", profile,
                   "The parameter whose profile is plotted, as the window's \"error on P\" or "
                   "\"error on S\". Example: --profile S")
        ->check(CLI::IsMember({"P", "S"}))
        ->capture_default_str();
    app.add_option("--range", rangePct,
                   "The plot's range around the estimate, in percent, as the window's \"% plotting "
                   "range\". Example: --range 50")
        ->check(CLI::Range(0.01, 1000.0))
        ->capture_default_str();
    CLI::Option* const frameOption = app.add_option(
        "--frame", framePath,
        "A CSV file with the columns stratum and blocks: how many blocks of the city each stratum "
        "holds. Adds the dogs of each stratum and of the city. Example: --frame frame.csv")
        ->type_name("FILE");
    app.add_option("--blocks", frameBlocks,
                   "The blocks of the city, for a survey of one stratum (no stratum column): as "
                   "--frame with one stratum. Example: --blocks 400")
        ->type_name("B")
        ->excludes(frameOption);
    app.add_flag("--totals-only", totalsOnly,
                 "Write only the rows of the strata and the city. Example: --totals-only");
    app.set_version_flag("--version", "kestrum-estimate 1.0");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kAllFitted : kFailed;
    }

    std::string problem;
    // The frame is read whole before the survey, so that a bad one stops the run before anything
    // is written.
    std::optional<SamplingFrame> frame;
    if (totalsOnly && framePath.empty() && frameBlocks.empty()) {
        say("--totals-only needs the sampling frame: give --frame or --blocks");
        return kFailed;
    }
    try {
        if (!frameBlocks.empty()) {
            frame = SamplingFrame::oneStratum(frameBlocks);
        } else if (!framePath.empty()) {
            const ClosedAtEnd file(::open(framePath.c_str(), O_RDONLY | O_CLOEXEC));
            if (file.fd < 0) {
                say("cannot open the frame " + framePath + ": " + std::strerror(errno));
                return kFailed;
            }
            FdSource source(file.fd);
            frame = SamplingFrame::read(source, framePath);
        }
    } catch (const InputError& error) {
        say(error.what());
        return kFailed;
    }

    std::optional<Input> input = openInput(inputPath, problem);
    if (!input) {
        say(problem);
        return kFailed;
    }

    SurveyOptions options;
    options.format = json ? Format::Json : Format::Csv;
    options.digits = digits;
    options.profiled = profile == "S" ? kestrum::inference::Parameter::S
                                      : kestrum::inference::Parameter::P;
    options.rangePct = rangePct;
    options.inputName = input->name;
    options.frame = std::move(frame);
    options.totalsOnly = totalsOnly;

    // The plots need Qt's fonts, and so an application; offscreen, as no display is needed.
    std::unique_ptr<QGuiApplication> gui;
    if (!plots.empty()) {
        options.plots = std::filesystem::path(plots);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(onlyQtErrors);
        gui = std::make_unique<QGuiApplication>(argc, argv);
        // Qt takes the user's locale for the C library too; the output's numbers and sentences
        // must keep '.' as the decimal point whatever it is.
        std::setlocale(LC_NUMERIC, "C");
    }

    const bool outputOnTerminal = ::isatty(STDOUT_FILENO) == 1;
    RowSink output(STDOUT_FILENO, outputOnTerminal);
    // On a terminal that also shows the rows, the rows themselves show the progress.
    Progress progress(stderr, ::isatty(STDERR_FILENO) == 1 && !outputOnTerminal, input->size);
    FdSource source(input->fd);

    int status = kFailed;
    try {
        const SurveySummary summary = runSurvey(source, output, progress, options, N_E04JYF);
        progress.finish();
        if (summary.anyPopulation && !totalsOnly) {
            say("note: " + std::string(kestrum::inference::populationCaveat()));
        }
        if (!summary.allWell()) {
            say(std::to_string(summary.failedRows + summary.failedPlots) + " of " +
                std::to_string(summary.fitted + summary.failedRows) + " rows failed");
        }
        status = summary.allWell() ? kAllFitted : kSomeRowsFailed;
    } catch (const InputError& error) {
        progress.finish();
        say(input->name + ": " + error.what());
    } catch (const OutputError& error) {
        progress.finish();
        say(error.what());
    } catch (const std::filesystem::filesystem_error& error) {
        progress.finish();
        say("cannot make the plot folder " + plots + ": " + error.code().message());
    } catch (const std::exception& error) {
        progress.finish();
        say(std::string("stopped: ") + error.what());
    }
    if (input->fd != STDIN_FILENO) {
        ::close(input->fd);
    }
    return status;
}
