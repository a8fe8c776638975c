#include "OutputWriters.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <nlohmann/json.hpp>

#include "NumberText.h"
#include "SurveyTotals.h"
#include "Warnings.h"

namespace kestrum::survey {

namespace {

constexpr std::size_t kColumns = static_cast<std::size_t>(Column::kCount);

constexpr std::array<std::string_view, kColumns> kNames{
    "fit",     "line",    "block",   "S_free", "S",       "P",          "log_likelihood",
    "P_lower", "P_upper", "S_lower", "S_upper", "se_P",   "se_S",       "G2",
    "X2",      "df",      "p_G2",    "p_X2",    "count",  "N",          "N_lower",
    "N_upper", "blocks",  "LR",      "LR_df",   "LR_p",   "AIC_shared", "AIC_separate",
    "stratum", "blocks_sampled", "blocks_used", "frame_blocks", "total", "total_se",
    "total_lower", "total_upper", "dogs_per_block", "warnings"};

// Columns that hold a confidence limit, which may lie beyond the range searched.
bool isLimit(Column column)
{
    switch (column) {
    case Column::P_lower:
    case Column::P_upper:
    case Column::S_lower:
    case Column::S_upper:
    case Column::N_lower:
    case Column::N_upper:
        return true;
    default:
        return false;
    }
}

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

// Three decimals, whatever the locale, for numbers inside a sentence.
std::string threeDecimals(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    return std::string(text, result.ptr);
}

void appendCsvText(std::string_view text, std::string& out)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos &&
        (text.empty() || (text.front() != ' ' && text.back() != ' '))) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

} // namespace

struct RowWriter::Cell {
    enum class Kind { Absent, Empty, Real, Integer, Boolean, Text };
    Kind kind = Kind::Absent; // Absent: the column does not apply to this row; Empty: not given
    double real = 0.0;
    long long integer = 0;
    bool boolean = false;
    std::string_view text{};
    char open = 0; // '<' or '>' for a limit that lies beyond the range searched
    bool asGiven = false; // the user's own number, never rounded

    static Cell empty() { return of(Kind::Empty); }
    static Cell number(double value, char open = 0)
    {
        Cell cell = of(Kind::Real);
        cell.real = value;
        cell.open = open;
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
    static Cell limit(const inference::Limit& limit)
    {
        switch (limit.kind) {
        case inference::LimitKind::Found:
            return number(limit.value);
        case inference::LimitKind::BelowRange:
            return number(limit.value, '<');
        case inference::LimitKind::AboveRange:
            return number(limit.value, '>');
        case inference::LimitKind::NotGiven:
            break;
        }
        return empty();
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

// The columns every fit has, from P and S to the fit check.
void fitCells(const BlockAnalysis& block, Cell* cells)
{
    const inference::Analysis& a = block.analysis;
    cells[at(Column::S_free)] = Cell::flag(block.sFree);
    cells[at(Column::S)] = Cell::number(block.S);
    cells[at(Column::P)] = Cell::number(block.P);
    cells[at(Column::log_likelihood)] = Cell::number(block.logLikelihood);

    const auto limits = [cells](const inference::ProfileInterval& interval, Column lower,
                                Column upper) {
        cells[at(lower)] = interval.given() ? Cell::limit(interval.lower) : Cell::empty();
        cells[at(upper)] = interval.given() ? Cell::limit(interval.upper) : Cell::empty();
    };
    limits(a.limitsP, Column::P_lower, Column::P_upper);
    limits(a.limitsS, Column::S_lower, Column::S_upper);

    const inference::StandardErrors& se = a.standardErrors;
    cells[at(Column::se_P)] = se.given() ? Cell::number(se.seP) : Cell::empty();
    cells[at(Column::se_S)] = se.given() && block.sFree ? Cell::number(se.seS) : Cell::empty();

    const inference::FitCheck& check = a.fitCheck;
    const bool checked = check.given();
    cells[at(Column::G2)] = checked ? Cell::number(check.g2) : Cell::empty();
    cells[at(Column::X2)] = checked ? Cell::number(check.x2) : Cell::empty();
    cells[at(Column::df)] = checked ? Cell::whole(check.df) : Cell::empty();
    cells[at(Column::p_G2)] = checked ? Cell::number(check.pG2) : Cell::empty();
    cells[at(Column::p_X2)] = checked ? Cell::number(check.pX2) : Cell::empty();
}

} // namespace

std::string_view columnName(Column column)
{
    return kNames[at(column)];
}

std::vector<Note> blockNotes(const BlockAnalysis& block)
{
    std::vector<Note> notes;
    if (block.IFAIL != KESTRUM_IFAIL_CONVERGED) {
        notes.push_back({"search_not_converged",
                         "The search did not converge (code " + std::to_string(block.IFAIL) +
                             "); the estimates are the best point it found."});
    }
    if (block.belowExactMaximum) {
        const inference::Fit& exact = block.analysis.fit;
        notes.push_back({"below_exact_maximum",
                         "The search stopped on a lower peak of the likelihood; the highest lies "
                         "at P = " + threeDecimals(exact.P) + ", S = " + threeDecimals(exact.S) +
                             " (log likelihood " + threeDecimals(exact.logLikelihood) + ")."});
    }
    for (const inference::Warning& warning : block.warnings) {
        notes.push_back({warningCode(warning.kind), inference::describe(warning)});
    }
    return notes;
}

RowWriter::RowWriter(Format format, int digits) : format_(format), digits_(digits)
{
    if (digits_ >= 0) {
        pattern_ = digits_ == 0 ? "0" : "0." + std::string(static_cast<std::size_t>(digits_), '0');
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
    return line + "\n";
}

void RowWriter::block(const BlockResult& result, std::string& out) const
{
    std::array<Cell, kColumns> cells{};
    cells[at(Column::fit)] = Cell::words("block");
    cells[at(Column::line)] = Cell::whole(static_cast<long long>(result.row.line));
    cells[at(Column::block)] = Cell::words(result.row.block);
    cells[at(Column::stratum)] =
        result.row.stratum.empty() ? Cell::empty() : Cell::words(result.row.stratum);
    fitCells(result.block, cells.data());

    std::vector<Note> notes = blockNotes(result.block);
    for (const Column c : {Column::count, Column::N, Column::N_lower, Column::N_upper}) {
        cells[at(c)] = Cell::empty();
    }
    if (result.row.count) {
        cells[at(Column::count)] = Cell::number(*result.row.count);
        cells[at(Column::count)].asGiven = true;
    }
    if (result.population && result.population->given()) {
        const inference::PopulationEstimate& n = *result.population;
        cells[at(Column::N)] = Cell::number(n.estimate);
        cells[at(Column::N_lower)] = Cell::limit(n.lower);
        cells[at(Column::N_upper)] = Cell::limit(n.upper);
    } else if (result.population) {
        notes.push_back({"no_population",
                         "No number of dogs: " + std::string(result.population->reason) + "."});
    }
    write(cells.data(), notes, out);
}

void RowWriter::pooled(const PooledResult& result, std::string& out) const
{
    std::array<Cell, kColumns> cells{};
    cells[at(Column::fit)] = Cell::words("pooled");
    cells[at(Column::blocks)] = Cell::whole(static_cast<long long>(result.blocks));
    for (const Column c : {Column::S_free, Column::S, Column::P, Column::log_likelihood,
                           Column::P_lower, Column::P_upper, Column::S_lower, Column::S_upper,
                           Column::se_P, Column::se_S, Column::G2, Column::X2, Column::df,
                           Column::p_G2, Column::p_X2, Column::LR, Column::LR_df, Column::LR_p,
                           Column::AIC_shared, Column::AIC_separate}) {
        cells[at(c)] = Cell::empty();
    }

    std::vector<Note> notes;
    if (result.fixedSBlocks > 0) {
        notes.push_back({"fixed_S_left_out",
                         std::to_string(result.fixedSBlocks) +
                             (result.fixedSBlocks == 1 ? " block holds" : " blocks hold") +
                             " S at a value of its own and is left out of the pooled fit and the "
                             "comparison."});
    }
    if (!result.reason.empty()) {
        notes.push_back({"no_pooled_fit", "No pooled fit: " + result.reason + "."});
    }
    if (result.fit) {
        fitCells(*result.fit, cells.data());
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
        notes.push_back({"no_comparison", "No comparison of shared and separate: " + c.reason + "."});
    }
    if (result.fit) {
        for (Note& note : blockNotes(*result.fit)) {
            notes.push_back(std::move(note));
        }
    }
    write(cells.data(), notes, out);
}

void RowWriter::totals(const TotalsRow& row, std::string& out) const
{
    std::array<Cell, kColumns> cells{};
    cells[at(Column::fit)] = Cell::words(row.city ? "total" : "stratum");
    cells[at(Column::stratum)] = row.stratum.empty() ? Cell::empty() : Cell::words(row.stratum);
    cells[at(Column::blocks_sampled)] = Cell::whole(static_cast<long long>(row.sampled));
    cells[at(Column::blocks_used)] = Cell::whole(static_cast<long long>(row.used));
    cells[at(Column::frame_blocks)] =
        Cell::whole(static_cast<long long>(row.total.frameBlocks));
    const inference::Total& t = row.total;
    const bool given = t.status != inference::TotalStatus::NotGiven;
    const bool limits = t.status == inference::TotalStatus::Given;
    cells[at(Column::total)] = given ? Cell::number(t.total) : Cell::empty();
    cells[at(Column::total_se)] = limits ? Cell::number(t.se) : Cell::empty();
    cells[at(Column::total_lower)] = limits ? Cell::number(t.lower) : Cell::empty();
    cells[at(Column::total_upper)] = limits ? Cell::number(t.upper) : Cell::empty();
    const std::optional<double> perBlock = t.perBlock();
    cells[at(Column::dogs_per_block)] = perBlock ? Cell::number(*perBlock) : Cell::empty();
    write(cells.data(), row.notes, out);
}

double RowWriter::rounded(double value) const
{
    const std::string text =
        text::format(value, QString::fromStdString(pattern_), QLocale::c()).toStdString();
    double back = value;
    std::from_chars(text.data(), text.data() + text.size(), back);
    return back;
}

void RowWriter::number(double value, int digits, std::string& out) const
{
    if (digits >= 0) {
        out += text::format(value, QString::fromStdString(pattern_), QLocale::c()).toStdString();
        return;
    }
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

void RowWriter::write(const Cell* cells, const std::vector<Note>& notes, std::string& out) const
{
    if (format_ == Format::Csv) {
        for (std::size_t k = 0; k < kColumns; ++k) {
            if (k > 0) {
                out += ',';
            }
            const Cell& cell = cells[k];
            switch (cell.kind) {
            case Cell::Kind::Absent:
            case Cell::Kind::Empty:
                break;
            case Cell::Kind::Real:
                if (cell.open != 0) {
                    out += cell.open;
                }
                number(cell.real, cell.asGiven ? -1 : digits_, out);
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
        out += '\n';
        return;
    }

    nlohmann::ordered_json row;
    for (std::size_t k = 0; k < kColumns; ++k) {
        const Cell& cell = cells[k];
        const std::string name(kNames[k]);
        if (static_cast<Column>(k) == Column::warnings) {
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (const Note& note : notes) {
                list.push_back({{"code", note.code}, {"message", note.message}});
            }
            row[name] = std::move(list);
            continue;
        }
        switch (cell.kind) {
        case Cell::Kind::Absent:
            continue;
        case Cell::Kind::Empty:
            row[name] = nullptr;
            break;
        case Cell::Kind::Real:
            row[name] = digits_ >= 0 && !cell.asGiven ? rounded(cell.real) : cell.real;
            break;
        case Cell::Kind::Integer:
            row[name] = cell.integer;
            break;
        case Cell::Kind::Boolean:
            row[name] = cell.boolean;
            break;
        case Cell::Kind::Text:
            row[name] = std::string(cell.text);
            break;
        }
        if (isLimit(static_cast<Column>(k))) {
            if (cell.kind == Cell::Kind::Empty) {
                row[name + "_open"] = nullptr;
            } else {
                row[name + "_open"] = cell.open != 0;
            }
        }
    }
    // Block names are the user's bytes; text that is not UTF-8 is shown with replacement
    // characters rather than stopping the run.
    out += row.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    out += '\n';
}

void RowSink::row(std::string_view text)
{
    if (!pending_.empty() && pending_.size() + text.size() > kChunk) {
        flush();
    }
    pending_ += text;
    if (eachRow_ || pending_.size() >= kChunk) {
        flush();
    }
}

void RowSink::flush()
{
    if (!pending_.empty()) {
        writeAll(pending_);
        pending_.clear();
    }
}

void RowSink::writeAll(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t wrote = ::write(fd_, text.data(), text.size());
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw OutputError(std::string("writing the output failed: ") + std::strerror(errno));
        }
        text.remove_prefix(static_cast<std::size_t>(wrote));
    }
}

} // namespace kestrum::survey
