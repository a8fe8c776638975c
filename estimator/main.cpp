// kestrum-estimate: every block of a survey fitted by the window's inference, for scripts and for
// machines without a display.
//
// Exit status: 0 when every row was fitted, 1 when some rows were not valid blocks, a pooled,
// stratum or total row could not be given, or a plot was not saved, and the others were fitted;
// 2 when the survey could not be read or the output not written. SIGINT, SIGTERM and SIGHUP end
// it as they end any program, once the temporary file of -o is removed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "OutputFile.h"
#include "OutputWriters.h"
#include "PlotterLoader.h"
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
    "likelihood, with the same inference as the Kestrum window, and a pooled fit with one P and "
    "one S shared by all blocks.";

const char* const kFooter = R"(Input, one of three forms, told apart by the header:
  Frequencies: CSV with a header row naming the columns block, n100, n111,
  n101, n110 (the frequencies of the capture histories 1,0,0 / 1,1,1 / 1,0,1 /
  1,1,0), and optionally s_fixed (hold S at this value, above 0 and at most 1,
  instead of estimating it), count (a street count of the block, for the
  number of dogs N = count / P), stratum (with --frame, each block's stratum),
  marked (the marked dogs among those identified on the first count), and
  seen_visit1, seen_visit2, seen_visit3, new_dogs (as --tally writes them).
  Sightings, one row per dog seen: block, dog, visit (1, 2 or 3), and
  optionally stratum, marked (yes/no, y/n, 1/0, true/false in any case; blank
  says nothing; a dog is marked if any of its rows says so), count and s_fixed
  (each on any one row of the block; count defaults to the dogs seen on
  visit 1).
  Dogs, one row per dog: block, dog, visit1, visit2, visit3 (seen: 1/0,
  yes/no, y/n, true/false, x or blank), and the same optional columns.
  A sheet of sightings or dogs is tallied per block: the dogs seen on visit 1
  fall into the four histories by visits 2 and 3; dogs first seen on visit 2
  or 3 are new dogs. Dog names are the survey's own: the same name in two
  blocks is taken to be one dog, and warned of. A dog entered twice for one
  visit is counted once, marks that differ count as marked, each warned of
  with its lines ("FILE:LINE: warning: ...").
  Every other column (team, date, notes ...) travels: its cells are written
  after the tool's columns in each block row (from a sheet of sightings, each
  block's distinct values joined by " | ").
  Fields are separated by ',', ';' or tabs, whichever the header uses most (or
  --sep); with ';' a decimal comma is read too ("0,8"). A header or row longer
  than 1 MiB is refused. A quote left open to the end of the input, or over
  line ends for 1 MiB, is taken as stray: its row fails and the lines after
  its own are read as rows.

Output, one row per data row of the input in its order (of a sheet of
sightings: one row per block at the line of its first row, and one row
"sighting" per row that cannot be read), then one row "pooled", then with
--frame or --blocks the rows "stratum" and "total".
Numeric columns hold numbers only; empty (null in JSON) where not given.
  fit                "block", "sighting" (a row of sightings that cannot be
                     read), "pooled", "stratum" or "total"
  line, block        where the row starts in the input, and its block name
  status, error      "ok", or "error" with the reason (as told on standard
                     error) and every other column empty
  S_free             false when s_fixed held S
  S, P, log_likelihood   the exact maximum-likelihood estimates (where only
                     S x P is determined: the point S = P, with a warning)
  P_lower, P_upper, S_lower, S_upper   exact 95% profile-likelihood limits
  *_open             true when the limit lies beyond the range searched: the
                     limit column then holds the bound 0.01 or 0.99
  se_P, se_S         standard errors from the observed information
  G2, X2, df, p_G2, p_X2   fit check against the four frequencies
  count              the street count as given
  N, N_lower, N_upper, N_*_open   dogs in the block, count / P, with limits
                     from those of P; empty with a warning when P lies on a
                     bound. The limits leave out the street count's own
                     variation from count to count.
  blocks, LR, LR_df, LR_p, AIC_shared, AIC_separate   pooled row only: how
                     many blocks share its P and S, and the likelihood-ratio
                     test and AIC of one P and S shared against one pair per
                     block (blocks with s_fixed take no part in either)
  stratum            the block's stratum, as the survey names it
  P_in_total, N_in_total   with --frame or --blocks, the P by which the
                     block's count went into its stratum's total, and the N
                     it gave: the stratum's total is its blocks over those
                     used times the sum of these N
  blocks_sampled, blocks_used, frame_blocks, total, total_se, total_lower,
  total_upper, dogs_per_block, method, P_spread   with --frame or --blocks,
                     one row "stratum" per stratum of the frame and a last
                     row "total" for the city: the dogs in all the frame's
                     blocks with 95% limits, by --p-by's method; a stratum row
                     also gives the P it used (P, its limits, se_P), how far
                     P differs between its blocks (P_spread), and the test of
                     one P and S against one pair per block (LR to
                     AIC_separate; see README)
  warnings           what to be careful about, one sentence each, joined by
                     " | " in CSV, with a code for scripts in JSON
  seen_visit1, seen_visit2, seen_visit3, new_dogs   a tallied block's dogs
                     seen on each visit, and first seen on visit 2 or 3
  marked             the marked dogs among those identified on visit 1
  coverage, coverage_lower, coverage_upper   the share of dogs marked with 95%
                     limits inside 0..1: in a block row of its dogs seen on
                     visit 1 (Wilson); in the pooled row of the survey's dogs,
                     each block weighted by its count; in a stratum or total
                     row of all the dogs of the stratum or city, each block
                     weighted by its N_in_total (see README)
  to_vaccinate       stratum and total rows: the dogs still to mark to reach
                     --coverage-target, total x (target - coverage); a warning
                     where even coverage_upper lies below the target
  then the survey's own columns, in their order (a name the output has
  already gets ".1", as R and pandas would name it)
  Control characters in text are written as JSON escapes them ("\n"), and so
  are the characters that reorder text (U+202A to U+202E, U+2066 to U+2069).

With --tally, nothing is fitted: a sheet of sightings or dogs is written as
the frequency survey it tallies to (block, stratum, n100, n111, n101, n110,
s_fixed, count, marked, seen_visit1, seen_visit2, seen_visit3, new_dogs and
its own columns), which kestrum-estimate reads back to the same fits.

Exit status: 0 every row fitted; 1 some rows were not valid blocks or rows of
sightings that could not be read (each told on standard error with its line
number), the pooled row or a stratum or total row has status "error" (told
too), or a plot was not saved, the others were fitted; 2 the input could not
be read as a survey, the output not written, or the frame not read or not
matching the survey (a stratum it lacks, more blocks sampled than it holds:
the rows before that block are written). SIGINT, SIGTERM and SIGHUP end it as
usual, once the temporary file of -o is removed: FILE stays as it was.

Examples:
  kestrum-estimate survey.csv > fits.csv
  kestrum-estimate -o fits.csv --skip-failed survey.csv
  kestrum-estimate --json --digits 4 survey.csv | jq .P
  kestrum-estimate --plots plots --profile S --range 50 survey.csv
  cat survey.csv | kestrum-estimate - > fits.csv
  kestrum-estimate --frame frame.csv --totals-only survey.csv
  kestrum-estimate --tally -o survey.csv sightings.csv
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

void say(const std::string& text)
{
    std::fprintf(stderr, "kestrum-estimate: %s\n", text.c_str());
}

// What failed, each kind apart: "1 of 5 rows failed; 4 of 4 plots were not saved".
std::string tally(const SurveySummary& summary)
{
    std::string told;
    const auto add = [&told](std::uint64_t failed, std::uint64_t of, const char* what) {
        if (failed > 0) {
            told += (told.empty() ? "" : "; ") + std::to_string(failed) + " of " +
                    std::to_string(of) + what;
        }
    };
    add(summary.failedRows, summary.fitted + summary.failedRows, " rows failed");
    add(summary.failedPlots, summary.fitted, " plots were not saved");
    if (summary.failedSummaries > 0) {
        told += (told.empty() ? "" : "; ") + std::to_string(summary.failedSummaries) +
                (summary.failedSummaries == 1 ? " summary row failed" : " summary rows failed");
    }
    return told;
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
    std::string outputPath;
    std::string separator;
    bool skipFailed = false;
    bool search = false;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::string framePath;
    std::string frameBlocks;
    std::string pBy = "stratum";
    bool totalsOnly = false;
    bool tallyOnly = false;
    double coverageTarget = kCoverageTarget;

    app.add_option("survey", inputPath,
                   "The survey CSV file; '-' or nothing reads standard input. "
                   "Example: survey.csv");
    app.add_option("-o,--output", outputPath,
                   "Write the output to FILE instead of standard output, whole or not at all: "
                   "FILE is replaced only when every row has been written (a symbolic link is "
                   "followed to its file; a FIFO or a device is written straight into). "
                   "Example: -o fits.csv")
        ->type_name("FILE");
    app.add_option("--sep", separator,
                   "The input's field separator: ',', ';' or 'tab'; without it, the one the "
                   "header uses most. Example: --sep ';'")
        ->type_name("SEP")
        ->check(CLI::IsMember({",", ";", "tab"}));
    app.add_flag("--skip-failed", skipFailed,
                 "Leave rows that are not valid blocks out of the output (they are still told "
                 "on standard error). Example: --skip-failed");
    app.add_option("-j,--jobs", jobs,
                   "Fit blocks on this many threads; the output is the same, byte for byte, for "
                   "any number. Default: every core. Example: -j 1")
        ->check(CLI::Range(1u, 1024u));
    app.add_flag("--search", search,
                 "Also fit each block with the window's own search, and warn where it ends more "
                 "than 1e-6 from the exact maximum in S or P (always so with --plots). "
                 "Example: --search");
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
        ->type_name("FOLDER")
        ->check([](const std::string& folder) {
            return folder.empty() ? std::string("the plot folder must be a non-empty path")
                                  : std::string();
        });
    app.add_option("--profile", profile,
                   "The parameter whose profile is plotted, as the window's \"error on P\" or "
                   "\"error on S\". Example: --profile S")
        ->check(CLI::IsMember({"P", "S"}))
        ->capture_default_str();
    app.add_option("--range", rangePct,
                   "The plot's range around the estimate, in percent, as the window's \"% plotting "
                   "range\". Example: --range 50")
        ->check(CLI::Validator(
            [](const std::string& text) {
                const double value = std::strtod(text.c_str(), nullptr);
                // Written so that NaN fails too.
                return value >= 0.01 && value <= 1000.0
                           ? std::string()
                           : "the range must be a number from 0.01 to 1000, not " + text;
            },
            "0.01..1000"))
        ->capture_default_str();
    CLI::Option* const frameOption =
        app.add_option(
               "--frame", framePath,
               "A CSV file with the columns stratum and blocks: how many blocks of the city each "
               "stratum "
               "holds. Adds the dogs of each stratum and of the city. Example: --frame frame.csv")
            ->type_name("FILE");
    app.add_option("--blocks", frameBlocks,
                   "The blocks of the city, for a survey of one stratum (no stratum column): as "
                   "--frame with one stratum. Example: --blocks 400")
        ->type_name("B")
        ->excludes(frameOption);
    app.add_option("--p-by", pBy,
                   "Whose P divides each block's street count in the totals: \"stratum\" (each "
                   "stratum's P fitted to all its blocks, each block's own drawn towards it as "
                   "far as the blocks differ), \"survey\" (the same with one P for the whole "
                   "survey) or \"block\" (each block's own P; blocks whose P lies on a bound or "
                   "has no standard error are left out: for surveys of large blocks). Example: "
                   "--p-by survey")
        ->check(CLI::IsMember({"stratum", "survey", "block"}))
        ->capture_default_str();
    CLI::Option* const totalsOption =
        app.add_flag("--totals-only", totalsOnly,
                     "Write only the rows of the strata and the city. Example: --totals-only");
    app.add_option("--coverage-target", coverageTarget,
                   "The share of dogs marked that a campaign aims at: the dogs still to vaccinate "
                   "are counted towards it, and a warning says where even the upper limit of the "
                   "coverage lies below it. Example: --coverage-target 0.8")
        ->check(CLI::Validator(
            [](const std::string& text) {
                const double value = std::strtod(text.c_str(), nullptr);
                return value > 0.0 && value <= 1.0
                           ? std::string()
                           : "the target must be a share above 0 and at most 1, not " + text;
            },
            "(0,1]"))
        ->capture_default_str();
    app.add_flag("--tally", tallyOnly,
                 "Fit nothing: write the frequency survey a sheet of sightings or dogs tallies "
                 "to, as CSV, for kestrum-estimate to read. Example: --tally -o survey.csv")
        ->excludes(frameOption)
        ->excludes(totalsOption)
        ->excludes("--json")
        ->excludes("--plots")
        ->excludes("--blocks")
        ->excludes("--digits");
    app.set_version_flag("--version", "kestrum-estimate " KESTRUM_VERSION);

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
    options.profiled =
        profile == "S" ? kestrum::inference::Parameter::S : kestrum::inference::Parameter::P;
    options.rangePct = rangePct;
    options.inputName = input->name;
    options.separator = separator == "tab" ? '\t' : separator.empty() ? '\0' : separator[0];
    options.skipFailed = skipFailed;
    options.search = search;
    options.jobs = jobs;
    options.frame = std::move(frame);
    options.totalsOnly = totalsOnly;
    options.pBy = pBy == "block" ? PBy::Block : pBy == "survey" ? PBy::Survey : PBy::Stratum;
    options.coverageTarget = coverageTarget;

    std::unique_ptr<Plotter> plotter;
    if (!plots.empty()) {
        options.plots = std::filesystem::path(plots);
        try {
            plotter = loadPlotter();
        } catch (const std::exception& error) {
            say(error.what());
            return kFailed;
        }
        options.plotter = plotter.get();
    }

    std::optional<OutputFile> file;
    try {
        if (!outputPath.empty()) {
            file.emplace(outputPath);
        }
    } catch (const OutputError& error) {
        say(error.what());
        return kFailed;
    }
    const int fd = file ? file->fd() : STDOUT_FILENO;
    const bool outputOnTerminal = ::isatty(fd) == 1;
    RowSink output(fd, outputOnTerminal);
    // On a terminal that also shows the rows, the rows themselves show the progress.
    Progress progress(stderr, ::isatty(STDERR_FILENO) == 1 && !outputOnTerminal, input->size);
    FdSource source(input->fd);

    int status = kFailed;
    try {
        const SurveySummary summary = tallyOnly
                                          ? tallySurvey(source, output, progress, options)
                                          : runSurvey(source, output, progress, options, N_E04JYF);
        progress.finish();
        if (summary.anyPopulation && !totalsOnly) {
            say("note: " + std::string(kestrum::inference::populationCaveat()));
        }
        if (!summary.allWell()) {
            say(tally(summary));
        }
        if (file) {
            file->commit();
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
