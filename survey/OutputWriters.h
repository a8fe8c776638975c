// What the estimator writes: one row per data row of the input (fitted, or failed with its reason),
// a row for the pooled fit, and with a sampling frame a row per stratum and one for the city, as
// CSV (one header line, then one line per row) or as JSON Lines (one object per line). Both carry
// the same columns; each row is formatted whole before any of it is written. Numeric columns hold
// numbers only: a value that cannot be given is empty (null in JSON), and an open limit is its
// bound with `true` in the companion *_open column.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "BlockAnalysis.h"
#include "PooledFit.h"
#include "Population.h"
#include "SurveyReader.h"

namespace kestrum::survey {

// Writing the output failed (a full disk, a closed pipe).
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct BlockResult {
    BlockRow row;
    BlockAnalysis block;
    std::optional<inference::PopulationEstimate> population; // when the row gives a count
    std::size_t sameNameLine = 0; // an earlier row with the same block name, 0 when none
};

enum class Format { Csv, Json };

struct TotalsRow;

// The columns in output order. Each limit is followed by its *_open column.
enum class Column {
    // clang-format off
    fit, line, block, status, S_free, S, P, log_likelihood,
    P_lower, P_lower_open, P_upper, P_upper_open, S_lower, S_lower_open, S_upper, S_upper_open,
    se_P, se_S, G2, X2, df, p_G2, p_X2,
    count, N, N_lower, N_lower_open, N_upper, N_upper_open, P_in_total, N_in_total,
    blocks, LR, LR_df, LR_p, AIC_shared, AIC_separate,
    stratum, blocks_sampled, blocks_used, frame_blocks,
    total, total_se, total_lower, total_upper, dogs_per_block, method, P_spread,
    warnings, error,
    seen_visit1, seen_visit2, seen_visit3, new_dogs,
    marked, coverage, coverage_lower, coverage_upper, to_vaccinate,
    // clang-format on
    kCount
};
std::string_view columnName(Column column);

// The survey's own columns as the output names them: as the input does, except where a name is
// taken already (by a column before it, or one of taken), which gets ".1", ".2" ... as R's
// read.csv and pandas would give it, so that every column of a JSON object has a name of its own.
std::vector<std::string> ownColumnNames(const std::vector<std::string>& names,
                                        const std::vector<std::string_view>& taken);

// The warnings' codes and sentences, and the library's search when it ended away from the exact
// maximum that the row reports.
std::vector<Note> blockNotes(const BlockAnalysis& block);

// Why a block row with a street count gives no N (P on a bound, no unique P, a number too large
// for N or its limits), or nothing.
std::string populationProblem(const BlockResult& result);
// Everything a block row's warnings say: blockNotes, a name used on an earlier line, no N.
std::vector<Note> rowNotes(const BlockResult& result);

// How far, in S or P, the search may end from the exact maximum before it is told.
inline constexpr double kSearchAgreement = 1e-6;

class RowWriter {
public:
    // digits < 0: every real as the shortest text that reads back as the same double; otherwise
    // rounded to that many decimals as the window rounds ("0.000" for 3). ownColumns: the names
    // of the survey's own columns, which follow the tool's in every block row.
    RowWriter(Format format, int digits, const std::vector<std::string>& ownColumns = {});

    // The CSV header line; nothing for JSON.
    std::string header() const;
    // With cellsAt, the cells P_in_total and N_in_total are left out and where they go is told,
    // for inTotalCells() to fill in once the totals are known; without, they are empty.
    void block(const BlockResult& result, std::string& out, std::size_t* cellsAt = nullptr) const;
    // The cells P_in_total and N_in_total with their separator, to go in at cellsAt.
    void inTotalCells(double P, double N, std::string& out) const;
    // A data row that is not a block (or a sighting that cannot be read): its line, block and
    // reason.
    void failed(const RowError& error, std::string& out) const;
    // The summary rows; each returns whether its status is "ok".
    bool pooled(const PooledResult& result, std::string& out) const;
    // A stratum's dogs or the city's.
    bool totals(const TotalsRow& row, std::string& out) const;

    struct Cell;

private:
    // own: the cells of the survey's own columns; null for the summary rows, which have none.
    void write(const Cell* cells, const std::vector<Note>& notes, std::string& out,
               std::size_t* cellsAt = nullptr, const std::vector<std::string>* own = nullptr) const;
    void number(double value, int digits, std::string& out) const;
    double rounded(double value) const;

    Format format_;
    int digits_;
    std::vector<std::string> ownNames_;
    std::vector<std::string> ownKeys_; // as JSON text, quoted and escaped
};

// A sheet of sightings tallied: the frequency survey that kestrum-estimate reads back to the same
// fits, as CSV. The columns block, stratum, n100, n111, n101, n110, s_fixed, count, marked (each
// of stratum, s_fixed and marked where the sheet has it), seen_visit1, seen_visit2, seen_visit3,
// new_dogs, then the sheet's own columns.
class TallyWriter {
public:
    explicit TallyWriter(const SheetLayout& layout);

    std::string header() const;
    void block(const BlockRow& row, std::string& out) const;

private:
    bool stratum_;
    bool sFixed_;
    bool marked_;
    std::vector<std::string> ownNames_;
};

// Complete rows to a file descriptor. Rows are gathered and written together, but a write never
// ends inside a row; when a write to a file fails part-way (a full disk), the file is cut back to
// the rows before it, so the output holds whole rows only.
class RowSink {
public:
    // eachRow: write every row at once (for a person watching a terminal).
    explicit RowSink(int fd, bool eachRow = false) : fd_(fd), eachRow_(eachRow) {}
    RowSink(const RowSink&) = delete;
    RowSink& operator=(const RowSink&) = delete;

    // Throws OutputError when writing fails, and from then on: a failed write is not tried
    // again. Rows still pending when the sink goes are dropped: flush() says whether they could
    // be written.
    void row(std::string_view text);
    // One row given in three pieces, joined as it goes in.
    void row(std::string_view head, std::string_view middle, std::string_view tail);
    void flush();

private:
    // Up to a pipe's atomic write size, so that a reader never sees part of a write.
    static constexpr std::size_t kChunk = 4096;

    void writeAll(std::string_view text);

    int fd_;
    bool eachRow_;
    std::string pending_;
    std::string failure_; // why writing failed; empty while it has not
};

} // namespace kestrum::survey
