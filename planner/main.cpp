// kestrum-plan: how many blocks to count in each stratum of a survey of free-roaming dogs for the
// city total's 95% limits wanted, or what the blocks the teams can count will give, before the
// fieldwork; and, with --simulate, what surveys drawn under the plan achieve.
//
// Exit status: 0 the plan was written; 1 the goal cannot be met with these strata (a target beyond
// reach, a budget below 2 blocks a stratum); 2 the input could not be read or cannot be planned
// with, or an output was not written.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <QFont>
#include <QGuiApplication>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PlanCurveFiles.h"
#include "PlanOutput.h"
#include "SamplingFrame.h"
#include "SurveyPlan.h"

namespace {

using namespace kestrum::survey;

constexpr int kPlanned = 0;
constexpr int kGoalNotMet = 1;
constexpr int kFailed = 2;

// The window's plot area and font, so that the curve looks as the window's plots do.
constexpr int kPlotWidth = 949;
constexpr int kPlotHeight = 381;
constexpr double kFontPoints = 8.25;

const char* const kDescription =
    "Plans a survey of free-roaming dogs before the fieldwork: how many blocks to count in each "
    "stratum for the city total's 95% limits to be as narrow as wanted (--target), or what the "
    "blocks the teams can count will give (--blocks), with the expected standard errors, limits "
    "and team-days, as kestrum-estimate's totals will report them.";

const char* const kFooter = R"(Input:
  A plan: CSV with a header row naming the columns stratum, blocks (the blocks
  the stratum holds), dogs_per_block (the dogs expected present in a block),
  dogs_cv (their coefficient of variation between blocks), P and S (expected,
  strictly between 0 and 1). Fields are separated by ',', ';' or tabs,
  whichever the header uses most; with ';' a decimal comma is read too.
  Or a pilot survey as kestrum-estimate reads one, with --pilot and --frame:
  P and S from each stratum's shared fit, dogs per block the mean of
  count / P, and their spread, from its blocks with a street count.

Output, one row per stratum of the plan and a last row for the city (its
stratum empty), as CSV, or JSON Lines with --json. Numeric columns hold
numbers only; empty (null in JSON) where not given.
  stratum, frame_blocks, blocks_to_count
                     the stratum, the blocks it holds and the blocks to count
                     there (at least 2, at most all it holds)
  dogs_per_block, dogs_cv, P, S
                     the figures planned with
  dogs_identified_per_block
                     expected dogs identified on a block's first count (mu P;
                     on the city's row the mean over the blocks counted)
  se_P               expected standard error of the stratum's P
  total, total_se, total_lower, total_upper
                     expected dogs, standard error and 95% limits as
                     kestrum-estimate's totals will give them
  half_width_pct     half the width of the limits, in % of the total
  team_days          blocks x 3 mornings / --blocks-per-day
  simulated_*        with --simulate: simulated_surveys (the surveys drawn),
                     simulated_with_limits (those whose total has limits),
                     simulated_half_width_pct (their median half-width),
                     simulated_coverage and simulated_coverage_se (the share
                     whose limits hold the true number of dogs, and its
                     standard error)
The curve (--curve): blocks, team_days, total, total_se, total_lower,
total_upper, half_width_pct and added_to (the stratum the last block went
to), from 2 blocks a stratum to four times the plan's blocks or every block.

Exit status: 0 the plan was written; 1 the goal cannot be met with these
strata (a target beyond reach even counting every block, a budget below 2
blocks a stratum); 2 the input could not be read or cannot be planned with
(P or S not strictly between 0 and 1, a stratum of no blocks, dogs per block
not above 0), or an output was not written.

Examples:
  kestrum-plan --target 20 plan.csv
  kestrum-plan --blocks 60 --blocks-per-day 2 --curve curve.csv plan.csv
  kestrum-plan --target 20 --plot curve.pdf --digits 2 plan.csv
  kestrum-plan --target 15 --pilot pilot.csv --frame frame.csv
  kestrum-plan --target 20 --simulate 1000 --json plan.csv
)";

void say(const std::string& text)
{
    std::fprintf(stderr, "kestrum-plan: %s\n", text.c_str());
}

int openInput(const std::string& path)
{
    return path == "-" ? ::dup(STDIN_FILENO) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

// Whole or not at all: the old file stays until every byte is written. Unbuffered, so that a
// failed write (a full disk) fails here: QSaveFile::commit() puts a file in place after a failed
// buffered write of under 16 KiB and says nothing of it.
std::optional<std::string> saveWhole(const std::string& path, const QByteArray& bytes)
{
    QSaveFile file(QString::fromStdString(path));
    const std::string cannot = "cannot write " + path + ": ";
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return cannot + file.errorString().toStdString();
    }
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush() ||
        file.error() != QFileDevice::NoError) {
        // Qt's own text for a failed write is "Unknown error"; the system's says what it was.
        const std::string why =
            errno != 0 ? std::strerror(errno) : file.errorString().toStdString();
        file.cancelWriting();
        return cannot + why;
    }
    if (!file.commit()) {
        return cannot + file.errorString().toStdString();
    }
    return std::nullopt;
}

bool endsWith(const std::string& text, const char* ending)
{
    return QString::fromStdString(text).endsWith(QLatin1String(ending), Qt::CaseInsensitive);
}

// Qt's own notes on a machine without a desktop (no XDG_RUNTIME_DIR, say) would read as problems
// with the plan; a picture that cannot be saved is told all the same.
void onlyQtErrors(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        say(message.toStdString());
    }
}

// The curve as an image or a PDF page, drawn as the window draws it. Qt's fonts need an
// application; offscreen, as no display is needed.
std::optional<std::string> savePlot(const std::string& path, const SurveyPlan& plan)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(onlyQtErrors);
    char name[] = "kestrum-plan";
    int argc = 1;
    char* argv[] = {name, nullptr};
    const QGuiApplication app(argc, argv);
    // Qt takes the user's locale for the C library; the rows keep '.' as the decimal point.
    std::setlocale(LC_NUMERIC, "C");
    QFont font(QStringLiteral("Liberation Sans"));
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kFontPoints);
    const kestrum::PlanCurve curve = planCurveOf(plan);
    const QSize size(kPlotWidth, kPlotHeight);
    const QByteArray bytes = endsWith(path, ".pdf") ? kestrum::planCurvePdf(curve, size, font)
                                                    : kestrum::planCurvePng(curve, size, font);
    if (bytes.isEmpty()) {
        return "the curve could not be drawn for " + path;
    }
    return saveWhole(path, bytes);
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app(kDescription, "kestrum-plan");
    app.footer(kFooter);
    app.get_formatter()->column_width(26);

    std::string planPath;
    std::string pilotPath;
    std::string framePath;
    double target = 0.0;
    std::uint64_t budget = 0;
    double blocksPerDay = 1.0;
    std::uint64_t simulate = 0;
    std::uint64_t seed = 1;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    bool json = false;
    int digits = -1;
    std::string curvePath;
    std::string plotPath;

    CLI::Option* const planOption = app.add_option(
        "plan", planPath, "The plan CSV file; '-' reads standard input. Example: plan.csv");
    CLI::Option* const pilotOption =
        app.add_option("--pilot", pilotPath,
                       "Take the figures from a pilot survey (as kestrum-estimate reads one) "
                       "instead of a plan file; needs --frame. Example: --pilot pilot.csv")
            ->type_name("SURVEY")
            ->excludes(planOption);
    CLI::Option* const frameOption =
        app.add_option("--frame", framePath,
                       "With --pilot: a CSV file with the columns stratum and blocks, the blocks "
                       "each stratum holds. Example: --frame frame.csv")
            ->type_name("FILE")
            ->needs(pilotOption);
    pilotOption->needs(frameOption);
    CLI::Option* const targetOption =
        app.add_option("--target", target,
                       "The half-width of the city total's 95% limits wanted, in % of the total: "
                       "plan the fewest blocks that give it. Example: --target 20")
            ->type_name("PCT");
    CLI::Option* const budgetOption =
        app.add_option("--blocks", budget,
                       "The blocks the teams can count: plan where they go, and what they give. "
                       "Example: --blocks 60")
            ->type_name("N")
            ->excludes(targetOption);
    app.add_option("--blocks-per-day", blocksPerDay,
                   "The blocks one team counts in a morning; each block is counted on three "
                   "mornings, so a block takes 3 / D team-days. Example: --blocks-per-day 2")
        ->type_name("D")
        ->capture_default_str();
    app.add_option("--simulate", simulate,
                   "Also draw K surveys under the plan, run each through kestrum-estimate's own "
                   "totals, and give the median half-width achieved and how often the limits "
                   "held the true number of dogs. Example: --simulate 1000")
        ->type_name("K")
        ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1000000}));
    app.add_option("--seed", seed,
                   "The seed of the simulation; the same seed gives the same output for any "
                   "--jobs. Example: --seed 7")
        ->capture_default_str();
    app.add_option("-j,--jobs", jobs,
                   "Simulate on this many threads. Default: every core. Example: -j 1")
        ->check(CLI::Range(1u, 1024u));
    app.add_flag("--json", json, "Write JSON Lines (one object per row) instead of CSV.");
    app.add_option("--digits", digits,
                   "Round every real to this many decimals; without it each is written in full. "
                   "Example: --digits 2")
        ->check(CLI::Range(0, 15));
    app.add_option("--curve", curvePath,
                   "Write the table of expected half-width against blocks counted to FILE (CSV, "
                   "or JSON Lines with --json), whole or not at all. Example: --curve curve.csv")
        ->type_name("FILE");
    app.add_option("--plot", plotPath,
                   "Draw that curve, the plan marked and the target dashed, to FILE: a PNG image, "
                   "or a PDF page when FILE ends in .pdf. Example: --plot curve.png")
        ->type_name("FILE")
        ->check([](const std::string& path) {
            return endsWith(path, ".png") || endsWith(path, ".pdf")
                       ? std::string()
                       : "the picture's name must end in .png or .pdf, not " + path;
        });
    app.set_version_flag("--version", "kestrum-plan " KESTRUM_VERSION);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kPlanned : kFailed;
    }
    if (planPath.empty() && pilotPath.empty()) {
        say("give a plan file, or a pilot survey with --pilot and --frame");
        return kFailed;
    }
    if (targetOption->count() == 0 && budgetOption->count() == 0) {
        say("give --target PCT (the half-width wanted) or --blocks N (the blocks the teams can "
            "count)");
        return kFailed;
    }

    std::vector<PlanStratum> strata;
    try {
        if (!pilotPath.empty()) {
            const ClosedAtEnd frameFile(::open(framePath.c_str(), O_RDONLY | O_CLOEXEC));
            if (frameFile.fd < 0) {
                say("cannot open the frame " + framePath + ": " + std::strerror(errno));
                return kFailed;
            }
            FdSource frameSource(frameFile.fd);
            const SamplingFrame frame = SamplingFrame::read(frameSource, framePath);
            const ClosedAtEnd pilotFile(openInput(pilotPath));
            if (pilotFile.fd < 0) {
                say("cannot open the pilot " + pilotPath + ": " + std::strerror(errno));
                return kFailed;
            }
            FdSource source(pilotFile.fd);
            Pilot pilot = readPilot(source, pilotPath == "-" ? "<stdin>" : pilotPath, frame);
            for (const std::string& row : pilot.rowsLeftOut) {
                std::fprintf(stderr, "%s\n", row.c_str());
            }
            strata = std::move(pilot.strata);
        } else {
            const ClosedAtEnd file(openInput(planPath));
            if (file.fd < 0) {
                say("cannot open " + planPath + ": " + std::strerror(errno));
                return kFailed;
            }
            FdSource source(file.fd);
            strata = readPlan(source, planPath == "-" ? "<stdin>" : planPath);
        }
    } catch (const InputError& error) {
        say(error.what());
        return kFailed;
    }

    PlanGoal goal;
    if (targetOption->count() > 0) {
        goal.targetPct = target;
    } else {
        goal.blocks = budget;
    }
    goal.blocksPerDay = blocksPerDay;
    std::optional<SurveyPlan> plan;
    try {
        plan = planSurvey(std::move(strata), goal);
    } catch (const PlanError& error) {
        say(error.what());
        return error.kind() == PlanError::Kind::Goal ? kGoalNotMet : kFailed;
    }
    for (const std::string& note : plan->notes) {
        say("note: " + note);
    }
    std::optional<SimulatedPlan> simulated;
    if (simulate > 0) {
        simulated = simulatePlan(*plan, simulate, seed, jobs);
        for (const std::string& note : simulated->notes) {
            say("note: " + note);
        }
    }

    const Format format = json ? Format::Json : Format::Csv;
    const std::string rows = planRows(*plan, simulated ? &*simulated : nullptr, format, digits);
    int status = kPlanned;
    if (std::fwrite(rows.data(), 1, rows.size(), stdout) != rows.size() ||
        std::fflush(stdout) != 0) {
        say(std::string("cannot write the plan: ") + std::strerror(errno));
        status = kFailed;
    }
    if (!curvePath.empty()) {
        const std::string curve = curveRows(*plan, format, digits);
        if (const auto problem = saveWhole(
                curvePath, QByteArray(curve.data(), static_cast<qsizetype>(curve.size())))) {
            say(*problem);
            status = kFailed;
        }
    }
    if (!plotPath.empty()) {
        if (const auto problem = savePlot(plotPath, *plan)) {
            say(*problem);
            status = kFailed;
        }
    }
    return status;
}
