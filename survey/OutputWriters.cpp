#include "OutputWriters.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include <nlohmann/json.hpp>

#include "Coverage.h"
#include "FloatChars.h"
#include "Sightings.h"
#include "SurveyTotals.h"
#include "Warnings.h"

namespace kestrum::survey {

namespace {

constexpr std::size_t kColumns = static_cast<std::size_t>(Column::kCount);

constexpr std::array<std::string_view, kColumns> kNames{"fit",
                                                        "line",
                                                        "block",
                                                        "status",
                                                        "S_free",
                                                        "S",
                                                        "P",
                                                        "log_likelihood",
                                                        "P_lower",
                                                        "P_lower_open",
                                                        "P_upper",
                                                        "P_upper_open",
                                                        "S_lower",
                                                        "S_lower_open",
                                                        "S_upper",
                                                        "S_upper_open",
                                                        "se_P",
                                                        "se_S",
                                                        "G2",
                                                        "X2",
                                                        "df",
                                                        "p_G2",
                                                        "p_X2",
                                                        "count",
                                                        "N",
                                                        "N_lower",
                                                        "N_lower_open",
                                                        "N_upper",
                                                        "N_upper_open",
                                                        "P_in_total",
                                                        "N_in_total",
                                                        "blocks",
                                                        "LR",
                                                        "LR_df",
                                                        "LR_p",
                                                        "AIC_shared",
                                                        "AIC_separate",
                                                        "stratum",
                                                        "blocks_sampled",
                                                        "blocks_used",
                                                        "frame_blocks",
                                                        "total",
                                                        "total_se",
                                                        "total_lower",
                                                        "total_upper",
                                                        "dogs_per_block",
                                                        "method",
                                                        "P_spread",
                                                        "warnings",
                                                        "error",
                                                        "seen_visit1",
                                                        "seen_visit2",
                                                        "seen_visit3",
                                                        "new_dogs",
                                                        "marked",
                                                        "coverage",
                                                        "coverage_lower",
                                                        "coverage_upper",
                                                        "to_vaccinate"};

std::size_t at(Column column)
{
    return static_cast<std::size_t>(column);
}

const char* warningCode(inference::WarningKind kind)
{
    using inference::WarningKind;
    switch (kind) {
    case WarningKind::InvalidInput:
        return "invalid_input";
    case WarningKind::NoData:
        return "no_data";
    case WarningKind::NotIdentifiable:
        return "not_identifiable";
    case WarningKind::EstimateOnBound:
        return "estimate_on_bound";
    case WarningKind::OpenLimit:
        return "open_limit";
    case WarningKind::LimitsSpanGap:
        return "limits_span_gap";
    case WarningKind::StandardErrorsNotGiven:
        return "standard_errors_not_given";
    case WarningKind::LowExpectedCounts:
        return "low_expected_counts";
    case WarningKind::FlatProfile:
        return "flat_profile";
    case WarningKind::FixedSHasNoProfile:
        return "fixed_S_has_no_profile";
    }
    return "warning";
}

// Control characters as JSON writes them, and the characters that reorder the text around them
// likewise ("\u202e"), so that no text reaches a terminal or an editor raw.
void appendEscaped(std::string_view text, std::string& out)
{
    // Runs of ordinary bytes go in whole: the sentences of the warnings are long.
    std::size_t from = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        const auto byte = static_cast<unsigned char>(c);
        const char32_t reorders = byte == 0xE2 ? reordering(text.substr(k)) : 0;
        if (byte >= 0x20 && byte != 0x7F && reorders == 0) {
            continue;
        }
        out.append(text.substr(from, k - from));
        from = k + 1;
        if (reorders != 0) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(reorders));
            out += escaped;
            from = k + 3;
            k += 2;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        }
    }
    out.append(text.substr(from));
}

// A count written as a whole number: in CSV in plain digits, in JSON as an integer. Beyond 10^15
// in the shortest form that reads back the same, as any other number.
bool wholeCount(double value)
{
    return value == std::floor(value) && std::abs(value) < 1e15;
}

void appendCsvText(std::string_view text, std::string& out)
{
    if (text.find_first_of(",\"") == std::string_view::npos &&
        (text.empty() || (text.front() != ' ' && text.back() != ' '))) {
        appendEscaped(text, out);
        return;
    }
    out += '"';
    const std::size_t from = out.size();
    appendEscaped(text, out);
    for (std::size_t k = out.find('"', from); k != std::string::npos; k = out.find('"', k + 2)) {
        out.insert(k, 1, '"');
    }
    out += '"';
}

// The characters that reorder text, escaped in JSON text already written from `from` on: the
// serializer leaves them raw, as valid UTF-8.
void escapeReordering(std::string& out, std::size_t from)
{
    for (std::size_t k = out.find('\xE2', from); k != std::string::npos;
         k = out.find('\xE2', k + 1)) {
        if (const char32_t reorders = reordering(std::string_view(out).substr(k)); reorders != 0) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(reorders));
            out.replace(k, 3, escaped);
        }
    }
}

// The user's number as typed: a whole one in plain digits (up to where its digits would be mostly
// zeros the user never typed: 1.7e308 would have 309), anything else in its shortest form.
void appendCount(double value, std::string& out)
{
    char text[400];
    const auto written =
        wholeCount(value) ? text::toChars(text, text + sizeof text, value, std::chars_format::fixed)
                          : text::toChars(text, text + sizeof text, value);
    out.append(text, written.ptr);
}

// Whether text is a JSON number as written (no '+', no leading zeros, digits on both sides of a
// point) of a finite value: such a cell of the survey's own goes into JSON as a number.
bool jsonNumber(std::string_view text)
{
    std::size_t k = 0;
    const auto digits = [&] {
        const std::size_t from = k;
        while (k < text.size() && text[k] >= '0' && text[k] <= '9') {
            ++k;
        }
        return k - from;
    };
    k += !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t whole = k;
    if (digits() == 0 || (text[whole] == '0' && k - whole > 1)) {
        return false;
    }
    if (k < text.size() && text[k] == '.') {
        ++k;
        if (digits() == 0) {
            return false;
        }
    }
    if (k < text.size() && (text[k] == 'e' || text[k] == 'E')) {
        ++k;
        k += k < text.size() && (text[k] == '+' || text[k] == '-') ? 1 : 0;
        if (digits() == 0) {
            return false;
        }
    }
    return k == text.size() && readNumber(text, false).has_value();
}

} // namespace

std::vector<std::string> ownColumnNames(const std::vector<std::string>& names,
                                        const std::vector<std::string_view>& taken)
{
    std::vector<std::string> unique;
    const auto used = [&](const std::string& name) {
        return std::find(taken.begin(), taken.end(), name) != taken.end() ||
               std::find(unique.begin(), unique.end(), name) != unique.end() ||
               std::find(names.begin(), names.end(), name) != names.end();
    };
    for (std::size_t k = 0; k < names.size(); ++k) {
        const std::string& name = names[k];
        const bool earlier = std::find(taken.begin(), taken.end(), name) != taken.end() ||
                             std::find(unique.begin(), unique.end(), name) != unique.end();
        std::string candidate = name;
        for (int suffix = 1; earlier && (candidate == name || used(candidate)); ++suffix) {
            candidate = name + "." + std::to_string(suffix);
        }
        unique.push_back(candidate);
    }
    return unique;
}

struct RowWriter::Cell {
    enum class Kind { Absent, Empty, Real, Count, Integer, Boolean, Text, Deferred };
    // Absent: the column does not apply to this kind of row. Deferred: left out of the text, to
    // go in later where write() says.
    Kind kind = Kind::Absent;
    double real = 0.0;
    long long integer = 0;
    bool boolean = false;
    std::string_view text{};

    static Cell empty() { return of(Kind::Empty); }
    static Cell deferred() { return of(Kind::Deferred); }
    static Cell number(double value, Kind kind = Kind::Real)
    {
        Cell cell = of(std::isfinite(value) ? kind : Kind::Empty);
        // No column shows -0: a count typed as "-0" is no dogs, and so is its N.
        cell.real = value == 0.0 ? 0.0 : value;
        return cell;
    }
    static Cell whole(long long value)
    {
        Cell cell = of(Kind::Integer);
        cell.integer = value;
        return cell;
    }
    static Cell flag(bool value)
    {
        Cell cell = of(Kind::Boolean);
        cell.boolean = value;
        return cell;
    }
    static Cell words(std::string_view value)
    {
        Cell cell = of(Kind::Text);
        cell.text = value;
        return cell;
    }

private:
    static Cell of(Kind kind)
    {
        Cell cell;
        cell.kind = kind;
        return cell;
    }
};

namespace {

using Cell = RowWriter::Cell;
using Cells = std::array<Cell, kColumns>;

// A limit in its column and whether it is open in the next; both empty when it is not given.
void setLimit(Cells& cells, Column column, const inference::Limit& limit)
{
    const bool given = limit.kind != inference::LimitKind::NotGiven && std::isfinite(limit.value);
    cells[at(column)] = given ? Cell::number(limit.value) : Cell::empty();
    cells[at(column) + 1] = given ? Cell::flag(limit.open()) : Cell::empty();
}

// The columns every fit has, from P and S to the fit check: all of the exact maximum.
void fitCells(const inference::Analysis& a, bool sFree, Cells& cells)
{
    cells[at(Column::S_free)] = Cell::flag(sFree);
    cells[at(Column::S)] = Cell::number(a.fit.S);
    cells[at(Column::P)] = Cell::number(a.fit.P);
    cells[at(Column::log_likelihood)] = Cell::number(a.fit.logLikelihood);

    for (const inference::ProfileInterval* interval : {&a.limitsP, &a.limitsS}) {
        const bool ofP = interval == &a.limitsP;
        const inference::Limit none;
        setLimit(cells, ofP ? Column::P_lower : Column::S_lower,
                 interval->given() ? interval->lower : none);
        setLimit(cells, ofP ? Column::P_upper : Column::S_upper,
                 interval->given() ? interval->upper : none);
    }

    const inference::StandardErrors& se = a.standardErrors;
    cells[at(Column::se_P)] = se.given() ? Cell::number(se.seP) : Cell::empty();
    cells[at(Column::se_S)] = se.given() && sFree ? Cell::number(se.seS) : Cell::empty();

    const inference::FitCheck& check = a.fitCheck;
    const bool checked = check.given();
    cells[at(Column::G2)] = checked ? Cell::number(check.g2) : Cell::empty();
    cells[at(Column::X2)] = checked ? Cell::number(check.x2) : Cell::empty();
    cells[at(Column::df)] = checked ? Cell::whole(check.df) : Cell::empty();
    cells[at(Column::p_G2)] = checked ? Cell::number(check.pG2) : Cell::empty();
    cells[at(Column::p_X2)] = checked ? Cell::number(check.pX2) : Cell::empty();
}

// Where the window's search ended, told only when that is not the exact maximum the row gives.
void addSearchNote(const BlockAnalysis& block, std::vector<Note>& notes)
{
    const inference::Fit& exact = block.analysis.fit;
    const bool apart = std::abs(block.P - exact.P) > kSearchAgreement ||
                       (block.sFree && std::abs(block.S - exact.S) > kSearchAgreement);
    if (!exact.hasEstimates() || !(apart || block.belowExactMaximum)) {
        return;
    }
    char text[320];
    std::snprintf(text, sizeof text,
                  "The window's search ended elsewhere, at S = %.6f, P = %.6f (log likelihood "
                  "%.6f%s%s); the values given are the exact maximum.",
                  block.S, block.P, block.logLikelihood,
                  block.belowExactMaximum ? ", on a lower peak" : "",
                  block.IFAIL != KESTRUM_IFAIL_CONVERGED ? ", not converged" : "");
    notes.push_back({"search_elsewhere", text});
}

} // namespace

std::string_view columnName(Column column)
{
    return kNames[at(column)];
}

std::vector<Note> blockNotes(const BlockAnalysis& block)
{
    std::vector<Note> notes;
    addSearchNote(block, notes);
    for (const inference::Warning& warning : block.warnings) {
        notes.push_back({warningCode(warning.kind), inference::describe(warning)});
    }
    return notes;
}

RowWriter::RowWriter(Format format, int digits, const std::vector<std::string>& ownColumns)
    : format_(format), digits_(digits),
      ownNames_(
          ownColumnNames(ownColumns, std::vector<std::string_view>(kNames.begin(), kNames.end())))
{
    for (const std::string& name : ownNames_) {
        std::string key = nlohmann::ordered_json(name).dump(
            -1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        escapeReordering(key, 0);
        ownKeys_.push_back(std::move(key));
    }
}

std::string RowWriter::header() const
{
    if (format_ == Format::Json) {
        return {};
    }
    std::string line;
    for (std::size_t k = 0; k < kColumns; ++k) {
        line += k == 0 ? "" : ",";
        line += kNames[k];
    }
    for (const std::string& name : ownNames_) {
        line += ',';
        appendCsvText(name, line);
    }
    return line + "\n";
}

// Every row kind is a set of cells, written by write() alone; a column a kind leaves unset is
// absent from its JSON object.
void RowWriter::block(const BlockResult& result, std::string& out, std::size_t* cellsAt) const
{
    Cells cells{};
    cells[at(Column::fit)] = Cell::words("block");
    cells[at(Column::line)] = Cell::whole(static_cast<long long>(result.row.line));
    cells[at(Column::block)] = Cell::words(result.row.block);
    cells[at(Column::status)] = Cell::words("ok");
    cells[at(Column::error)] = Cell::empty();
    cells[at(Column::stratum)] =
        result.row.stratum.empty() ? Cell::empty() : Cell::words(result.row.stratum);
    fitCells(result.block.analysis, result.block.sFree, cells);
    const BlockRow& row = result.row;
    const auto dogs = [](const std::optional<std::int64_t>& value) {
        return value ? Cell::whole(*value) : Cell::empty();
    };
    for (std::size_t k = 0; k < 3; ++k) {
        cells[at(Column::seen_visit1) + k] = dogs(row.seen[k]);
    }
    cells[at(Column::new_dogs)] = dogs(row.newDogs);
    cells[at(Column::marked)] = dogs(row.marked);
    const inference::Share share =
        row.marked ? inference::wilson(static_cast<double>(*row.marked), row.counts.total())
                   : inference::Share{};
    cells[at(Column::coverage)] = Cell::number(share.estimate);
    cells[at(Column::coverage_lower)] = Cell::number(share.lower);
    cells[at(Column::coverage_upper)] = Cell::number(share.upper);
    cells[at(Column::to_vaccinate)] = Cell::empty();

    cells[at(Column::count)] =
        result.row.count ? Cell::number(*result.row.count, Cell::Kind::Count) : Cell::empty();
    cells[at(Column::P_in_total)] = cellsAt != nullptr ? Cell::deferred() : Cell::empty();
    cells[at(Column::N_in_total)] = cells[at(Column::P_in_total)];
    cells[at(Column::N)] = Cell::empty();
    setLimit(cells, Column::N_lower, {});
    setLimit(cells, Column::N_upper, {});
    if (result.population && populationProblem(result).empty()) {
        const inference::PopulationEstimate& n = *result.population;
        cells[at(Column::N)] = Cell::number(n.estimate);
        setLimit(cells, Column::N_lower, n.lower);
        setLimit(cells, Column::N_upper, n.upper);
    }
    write(cells.data(), rowNotes(result), out, cellsAt, &row.own);
}

std::string populationProblem(const BlockResult& result)
{
    if (!result.population) {
        return {};
    }
    const inference::PopulationEstimate& n = *result.population;
    if (!n.given()) {
        return std::string(n.reason);
    }
    if (result.block.analysis.fit.pBound != inference::Bound::None) {
        return "P lies on its bound, so count / P is not an estimate";
    }
    if (!(std::isfinite(n.estimate) && std::isfinite(n.lower.value) &&
          std::isfinite(n.upper.value))) {
        return "count / P or one of its limits is too large for a number";
    }
    return {};
}

std::vector<Note> rowNotes(const BlockResult& result)
{
    std::vector<Note> notes = blockNotes(result.block);
    if (result.sameNameLine != 0) {
        notes.push_back({"duplicate_block", "The block name is also on line " +
                                                std::to_string(result.sameNameLine) +
                                                ": the two rows are fitted apart."});
    }
    if (const std::string reason = populationProblem(result); !reason.empty()) {
        notes.push_back({"no_population", "No number of dogs: " + reason + "."});
    }
    for (Note& note : checkNotes(result.row.checks)) {
        notes.push_back(std::move(note));
    }
    return notes;
}

void RowWriter::inTotalCells(double P, double N, std::string& out) const
{
    for (const Column column : {Column::P_in_total, Column::N_in_total}) {
        const double value = column == Column::P_in_total ? P : N;
        if (format_ == Format::Csv) {
            out += ',';
            if (std::isfinite(value)) {
                number(value, digits_, out);
            }
            continue;
        }
        out += ",\"";
        out += kNames[at(column)];
        out += "\":";
        out += std::isfinite(value)
                   ? nlohmann::ordered_json(digits_ >= 0 ? rounded(value) : value).dump()
                   : "null";
    }
}

void RowWriter::failed(const RowError& error, std::string& out) const
{
    Cells cells{};
    for (std::size_t k = at(Column::S_free); k < at(Column::blocks); ++k) {
        cells[k] = Cell::empty();
    }
    for (std::size_t k = at(Column::seen_visit1); k < kColumns; ++k) {
        cells[k] = Cell::empty();
    }
    cells[at(Column::fit)] = Cell::words(error.sighting ? "sighting" : "block");
    cells[at(Column::line)] = Cell::whole(static_cast<long long>(error.line));
    cells[at(Column::block)] = Cell::words(error.block);
    cells[at(Column::status)] = Cell::words("error");
    cells[at(Column::error)] = Cell::words(error.reason);
    write(cells.data(), {}, out, nullptr, &error.own);
}

namespace {

void coverageCells(const std::optional<inference::Coverage>& coverage,
                   std::optional<double> toVaccinate, Cells& cells)
{
    for (std::size_t k = at(Column::coverage); k <= at(Column::to_vaccinate); ++k) {
        cells[k] = Cell::empty();
    }
    if (!coverage || coverage->status == inference::CoverageStatus::NotGiven) {
        return;
    }
    cells[at(Column::coverage)] = Cell::number(coverage->share);
    if (coverage->status == inference::CoverageStatus::Given) {
        cells[at(Column::coverage_lower)] = Cell::number(coverage->lower);
        cells[at(Column::coverage_upper)] = Cell::number(coverage->upper);
    }
    if (toVaccinate) {
        cells[at(Column::to_vaccinate)] = Cell::number(*toVaccinate);
    }
}

} // namespace

bool RowWriter::pooled(const PooledResult& result, std::string& out) const
{
    Cells cells{};
    for (std::size_t k = at(Column::S_free); k < at(Column::count); ++k) {
        cells[k] = Cell::empty();
    }
    for (std::size_t k = at(Column::blocks); k < at(Column::warnings); ++k) {
        cells[k] = Cell::empty();
    }
    cells[at(Column::fit)] = Cell::words("pooled");
    cells[at(Column::blocks)] = Cell::whole(static_cast<long long>(result.blocks));
    cells[at(Column::status)] = Cell::words(result.fit ? "ok" : "error");
    const std::string noFit = "no pooled fit: " + result.reason;
    cells[at(Column::error)] = result.fit ? Cell::empty() : Cell::words(noFit);

    std::vector<Note> notes;
    if (result.fixedSBlocks > 0) {
        notes.push_back(
            {"fixed_S_left_out",
             std::to_string(result.fixedSBlocks) +
                 (result.fixedSBlocks == 1 ? " block holds S at a value of its own and is"
                                           : " blocks hold S at values of their own and are") +
                 " left out of the pooled fit and the comparison."});
    }
    if (result.fit) {
        fitCells(result.fit->analysis, result.fit->sFree, cells);
    }
    const PooledComparison& c = result.comparison;
    if (c.given()) {
        cells[at(Column::LR)] = Cell::number(c.lr);
        cells[at(Column::LR_df)] = Cell::whole(c.df);
        cells[at(Column::LR_p)] = Cell::number(c.p);
        cells[at(Column::AIC_shared)] = Cell::number(c.aicShared);
        cells[at(Column::AIC_separate)] = Cell::number(c.aicSeparate);
        if (c.roughBlocks > 0) {
            notes.push_back(
                {"comparison_rough",
                 "In " + std::to_string(c.roughBlocks) +
                     (c.roughBlocks == 1 ? " block" : " blocks") +
                     " an estimate lies on a bound or S and P cannot be told apart, so the "
                     "comparison counts parameters that are not all free there: take its p-value "
                     "and AIC as rough."});
        }
    } else if (result.reason.empty()) {
        notes.push_back(
            {"no_comparison", "No comparison of shared and separate: " + c.reason + "."});
    }
    if (result.fit) {
        for (Note& note : blockNotes(*result.fit)) {
            notes.push_back(std::move(note));
        }
    }
    coverageCells(result.coverage, std::nullopt, cells);
    notes.insert(notes.end(), result.coverageNotes.begin(), result.coverageNotes.end());
    write(cells.data(), notes, out);
    return result.fit.has_value();
}

bool RowWriter::totals(const TotalsRow& row, std::string& out) const
{
    Cells cells{};
    cells[at(Column::fit)] = Cell::words(row.city ? "total" : "stratum");
    cells[at(Column::stratum)] = row.stratum.empty() ? Cell::empty() : Cell::words(row.stratum);
    cells[at(Column::blocks_sampled)] = Cell::whole(static_cast<long long>(row.sampled));
    cells[at(Column::blocks_used)] = Cell::whole(static_cast<long long>(row.used));
    cells[at(Column::frame_blocks)] = Cell::whole(static_cast<long long>(row.total.frameBlocks));
    const inference::Total& t = row.total;
    const bool given = t.status != inference::TotalStatus::NotGiven;
    cells[at(Column::status)] = Cell::words(given ? "ok" : "error");
    cells[at(Column::error)] =
        given ? Cell::empty() : Cell::words("no total can be given: the warnings say why");
    const bool limits = t.status == inference::TotalStatus::Given;
    cells[at(Column::total)] = given ? Cell::number(t.total) : Cell::empty();
    cells[at(Column::total_se)] = limits ? Cell::number(t.se) : Cell::empty();
    cells[at(Column::total_lower)] = limits ? Cell::number(t.lower) : Cell::empty();
    cells[at(Column::total_upper)] = limits ? Cell::number(t.upper) : Cell::empty();
    const std::optional<double> perBlock = t.perBlock();
    cells[at(Column::dogs_per_block)] = perBlock ? Cell::number(*perBlock) : Cell::empty();
    cells[at(Column::method)] = Cell::words(methodName(row.method));
    if (row.shared) {
        fitCells(*row.shared, row.shared->problem.sFree, cells);
        cells[at(Column::P_spread)] = Cell::number(row.spreadOfP);
    }
    if (row.comparison) {
        const PooledComparison& c = *row.comparison;
        cells[at(Column::LR)] = Cell::number(c.lr);
        cells[at(Column::LR_df)] = Cell::whole(c.df);
        cells[at(Column::LR_p)] = Cell::number(c.p);
        cells[at(Column::AIC_shared)] = Cell::number(c.aicShared);
        cells[at(Column::AIC_separate)] = Cell::number(c.aicSeparate);
    }
    coverageCells(row.coverage, row.toVaccinate, cells);
    write(cells.data(), row.notes, out);
    return given;
}

double RowWriter::rounded(double value) const
{
    std::string text;
    number(value, digits_, text);
    double back = value;
    text::fromChars(text.data(), text.data() + text.size(), back);
    return back;
}

void RowWriter::number(double value, int digits, std::string& out) const
{
    char text[400];
    if (digits < 0) {
        out.append(text, text::toChars(text, text + sizeof text, value).ptr);
        return;
    }
    // The window's rounding: half away from zero on the value's 15-significant-digit form, so
    // that 2.675 gives 2.68 as the window shows it, not the 2.67 of its binary value.
    constexpr int kPrecision = 15;
    const auto written = text::toChars(text, text + sizeof text, std::abs(value),
                                       std::chars_format::scientific, kPrecision - 1);
    std::string scaled; // the magnitude x 10^digits, rounded, without leading zeros
    if (value != 0.0) {
        std::string significant;
        const char* p = text;
        for (; *p != 'e'; ++p) {
            if (*p != '.') {
                significant += *p;
            }
        }
        int exponent = 0;
        std::from_chars(p + (p[1] == '+' ? 2 : 1), written.ptr, exponent);
        const int shift = exponent - (kPrecision - 1) + digits;
        const int keep = kPrecision + shift;
        if (shift >= 0) {
            scaled = significant + std::string(static_cast<std::size_t>(shift), '0');
        } else if (keep >= 0) {
            scaled = significant.substr(0, static_cast<std::size_t>(keep));
            if (significant[static_cast<std::size_t>(keep)] >= '5') {
                std::size_t i = scaled.size();
                while (i > 0 && scaled[i - 1] == '9') {
                    scaled[--i] = '0';
                }
                if (i == 0) {
                    scaled.insert(scaled.begin(), '1');
                } else {
                    ++scaled[i - 1];
                }
            }
            scaled.erase(0, scaled.find_first_not_of('0'));
        }
    }
    const auto fraction = static_cast<std::size_t>(digits);
    if (scaled.size() <= fraction) {
        scaled.insert(0, fraction + 1 - scaled.size(), '0');
    }
    if (value < 0 && scaled.find_first_not_of('0') != std::string::npos) {
        out += '-';
    }
    out.append(scaled, 0, scaled.size() - fraction);
    if (fraction > 0) {
        out += '.';
        out.append(scaled, scaled.size() - fraction, fraction);
    }
}

void RowWriter::write(const Cell* cells, const std::vector<Note>& notes, std::string& out,
                      std::size_t* cellsAt, const std::vector<std::string>* own) const
{
    // A row whose record does not line up with the header has no cells of its own columns.
    const auto ownCell = [own](std::size_t k) {
        return own != nullptr && k < own->size() ? std::string_view((*own)[k]) : std::string_view();
    };
    if (format_ == Format::Csv) {
        for (std::size_t k = 0; k < kColumns; ++k) {
            const Cell& cell = cells[k];
            if (cell.kind == Cell::Kind::Deferred) {
                if (cellsAt != nullptr && (k == 0 || cells[k - 1].kind != Cell::Kind::Deferred)) {
                    *cellsAt = out.size();
                }
                continue;
            }
            if (k > 0) {
                out += ',';
            }
            switch (cell.kind) {
            case Cell::Kind::Absent:
            case Cell::Kind::Empty:
            case Cell::Kind::Deferred:
                break;
            case Cell::Kind::Real:
                number(cell.real, digits_, out);
                break;
            case Cell::Kind::Count:
                // The user's own number, never rounded.
                appendCount(cell.real, out);
                break;
            case Cell::Kind::Integer:
                out += std::to_string(cell.integer);
                break;
            case Cell::Kind::Boolean:
                out += cell.boolean ? "true" : "false";
                break;
            case Cell::Kind::Text:
                appendCsvText(cell.text, out);
                break;
            }
            if (static_cast<Column>(k) == Column::warnings) {
                std::string joined;
                for (const Note& note : notes) {
                    joined += joined.empty() ? "" : " | ";
                    joined += note.message;
                }
                appendCsvText(joined, out);
            }
        }
        for (std::size_t k = 0; k < ownNames_.size(); ++k) {
            out += ',';
            appendCsvText(ownCell(k), out);
        }
        out += '\n';
        return;
    }

    // One object per line, written member by member: each value goes through nlohmann's own
    // serializer, so the line is what dumping a whole object would give, without building one (and
    // its keys) for every row. Block names are the user's bytes; text that is not UTF-8 is shown
    // with replacement characters rather than stopping the run.
    nlohmann::detail::serializer<nlohmann::ordered_json> serializer(
        nlohmann::detail::output_adapter<char, std::string>(out), ' ',
        nlohmann::ordered_json::error_handler_t::replace);
    auto key = [&out, first = true](std::string_view name) mutable {
        out += first ? "{\"" : ",\"";
        first = false;
        out += name; // the column names need no escaping
        out += "\":";
    };
    auto member = [&key, &serializer](std::string_view name, const nlohmann::ordered_json& value) {
        key(name);
        serializer.dump(value, false, false, 0);
    };
    // Printable ASCII without quotes or backslashes is its own JSON text, as the serializer would
    // write it; anything else goes through the serializer.
    auto text = [&out, &serializer](std::string_view value) {
        if (std::all_of(value.begin(), value.end(),
                        [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; })) {
            out += '"';
            out += value;
            out += '"';
        } else {
            const std::size_t from = out.size();
            serializer.dump(nlohmann::ordered_json(std::string(value)), false, false, 0);
            escapeReordering(out, from);
        }
    };
    for (std::size_t k = 0; k < kColumns; ++k) {
        const Cell& cell = cells[k];
        const std::string_view name = kNames[k];
        if (static_cast<Column>(k) == Column::warnings) {
            key(name);
            out += '[';
            for (const Note& note : notes) {
                out += &note == notes.data() ? "{\"code\":" : ",{\"code\":";
                text(note.code);
                out += ",\"message\":";
                text(note.message);
                out += '}';
            }
            out += ']';
            continue;
        }
        switch (cell.kind) {
        case Cell::Kind::Absent:
            continue;
        case Cell::Kind::Deferred:
            if (cellsAt != nullptr && (k == 0 || cells[k - 1].kind != Cell::Kind::Deferred)) {
                *cellsAt = out.size();
            }
            continue;
        case Cell::Kind::Empty:
            member(name, nullptr);
            break;
        case Cell::Kind::Real:
            member(name, digits_ >= 0 ? rounded(cell.real) : cell.real);
            break;
        case Cell::Kind::Count:
            if (wholeCount(cell.real)) {
                member(name, static_cast<long long>(cell.real));
            } else {
                member(name, cell.real);
            }
            break;
        case Cell::Kind::Integer:
            member(name, cell.integer);
            break;
        case Cell::Kind::Boolean:
            member(name, cell.boolean);
            break;
        case Cell::Kind::Text:
            key(name);
            text(cell.text);
            break;
        }
    }
    // The survey's own cells: a number as written where it is a JSON number, text otherwise,
    // null when empty; none in the summary rows.
    for (std::size_t k = 0; own != nullptr && k < ownNames_.size(); ++k) {
        out += ',';
        out += ownKeys_[k];
        out += ':';
        const std::string_view cell = ownCell(k);
        if (cell.empty()) {
            out += "null";
        } else if (jsonNumber(cell)) {
            out += cell;
        } else {
            text(cell);
        }
    }
    out += "}\n";
}

namespace {

// The tally's columns before the sheet's own, each of the optional ones where the sheet has it.
std::vector<std::string_view> tallyColumns(bool stratum, bool sFixed, bool marked)
{
    std::vector<std::string_view> columns{kBlockColumn};
    if (stratum) {
        columns.push_back(kStratumColumn);
    }
    columns.insert(columns.end(), std::begin(kFrequencyColumns), std::end(kFrequencyColumns));
    if (sFixed) {
        columns.push_back(kSFixedColumn);
    }
    columns.push_back(kCountColumn);
    if (marked) {
        columns.push_back(kMarkedColumn);
    }
    columns.insert(columns.end(), std::begin(kSeenColumns), std::end(kSeenColumns));
    columns.push_back(kNewDogsColumn);
    return columns;
}

} // namespace

TallyWriter::TallyWriter(const SheetLayout& layout)
    : stratum_(layout.stratum.has_value()), sFixed_(layout.sFixed.has_value()),
      marked_(layout.marked.has_value()),
      ownNames_(ownColumnNames(layout.ownNames, tallyColumns(stratum_, sFixed_, marked_)))
{}

std::string TallyWriter::header() const
{
    std::string line;
    for (const std::string_view name : tallyColumns(stratum_, sFixed_, marked_)) {
        line += line.empty() ? "" : ",";
        line += name;
    }
    for (const std::string& name : ownNames_) {
        line += ',';
        appendCsvText(name, line);
    }
    return line + "\n";
}

void TallyWriter::block(const BlockRow& row, std::string& out) const
{
    const auto dogs = [&out](std::int64_t value) {
        out += ',';
        out += std::to_string(value);
    };
    appendCsvText(row.block, out);
    if (stratum_) {
        out += ',';
        appendCsvText(row.stratum, out);
    }
    for (const std::int32_t n :
         {row.counts.n100, row.counts.n111, row.counts.n101, row.counts.n110}) {
        dogs(n);
    }
    if (sFixed_) {
        out += ',';
        if (row.sFixed) {
            char text[32];
            out.append(text, kestrum::text::toChars(text, text + sizeof text, *row.sFixed).ptr);
        }
    }
    out += ',';
    if (row.count) {
        appendCount(*row.count == 0.0 ? 0.0 : *row.count, out);
    }
    if (marked_) {
        dogs(row.marked.value_or(0));
    }
    for (const std::optional<std::int64_t>& seen : row.seen) {
        dogs(seen.value_or(0));
    }
    dogs(row.newDogs.value_or(0));
    for (std::size_t k = 0; k < ownNames_.size(); ++k) {
        out += ',';
        appendCsvText(k < row.own.size() ? row.own[k] : std::string(), out);
    }
    out += '\n';
}

void RowSink::row(std::string_view text)
{
    row(text, {}, {});
}

void RowSink::row(std::string_view head, std::string_view middle, std::string_view tail)
{
    if (!failure_.empty()) {
        throw OutputError(failure_);
    }
    const std::size_t size = head.size() + middle.size() + tail.size();
    if (!pending_.empty() && pending_.size() + size > kChunk) {
        flush();
    }
    pending_ += head;
    pending_ += middle;
    pending_ += tail;
    if (eachRow_ || pending_.size() >= kChunk) {
        flush();
    }
}

void RowSink::flush()
{
    if (!failure_.empty()) {
        throw OutputError(failure_);
    }
    if (!pending_.empty()) {
        try {
            writeAll(pending_);
        } catch (const OutputError& error) {
            // Never tried again: the output was cut back to the rows before these, and another
            // write would land past its end.
            pending_.clear();
            failure_ = error.what();
            throw;
        }
        pending_.clear();
    }
}

void RowSink::writeAll(std::string_view text)
{
    const off_t before = ::lseek(fd_, 0, SEEK_CUR);
    while (!text.empty()) {
        const ssize_t wrote = ::write(fd_, text.data(), text.size());
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            struct stat status {};
            if (before >= 0 && ::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode)) {
                // Part of a row must not stay behind: the file ends on the last whole one, and
                // so does the offset, or a later write would leave a hole of zeros before it.
                if (::ftruncate(fd_, before) == 0) {
                    ::lseek(fd_, before, SEEK_SET);
                }
            }
            throw OutputError(std::string("writing the output failed: ") + std::strerror(error));
        }
        text.remove_prefix(static_cast<std::size_t>(wrote));
    }
}

} // namespace kestrum::survey
