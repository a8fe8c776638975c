// Reading a survey: one CSV record per block, with the columns block, n100, n111, n101, n110 and
// optionally s_fixed, count and stratum, under a header row that names them in any order.
//
// Records are read one at a time, so memory stays flat however many blocks a file holds. Each is
// checked completely before it is handed on: a record is either a block ready to fit or the line
// number and the reason it cannot be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Model.h"

namespace kestrum::survey {

// The input cannot be read as a survey at all (no header, columns missing, a read error).
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where the bytes come from: a file descriptor in the program, a string in tests.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to size bytes into buffer; 0 at the end. Throws InputError when reading fails.
    virtual std::size_t read(char* buffer, std::size_t size) = 0;
};

class FdSource final : public ByteSource {
public:
    explicit FdSource(int fd) : fd_(fd) {}
    std::size_t read(char* buffer, std::size_t size) override;

private:
    int fd_;
};

class StringSource final : public ByteSource {
public:
    explicit StringSource(std::string text) : text_(std::move(text)) {}
    std::size_t read(char* buffer, std::size_t size) override;

private:
    std::string text_;
    std::size_t at_ = 0;
};

// One CSV record as written: RFC 4180 quoting (a quoted field may hold separators, doubled quotes
// and line breaks), blanks around unquoted fields trimmed, CRLF, LF or CR line ends.
struct Record {
    std::size_t line = 0; // where the record starts, 1 for the first line
    std::vector<std::string> fields;
    std::string problem; // what is wrong with the record's form; empty when nothing is
};

class RecordReader {
public:
    // A record longer than this is refused, not held: a file without line breaks must not be
    // able to take all the memory.
    static constexpr std::size_t kMaxRecordBytes = std::size_t{1} << 20;

    // separator: ',', ';' or '\t'. firstLine: the line number of the first byte read.
    explicit RecordReader(ByteSource& source, char separator = ',', std::size_t firstLine = 1)
        : source_(source), separator_(separator), line_(firstLine)
    {}

    // The next record that is not blank; false at the end of the input. A quote left open to the
    // end of the input, or over line ends for more than kMaxRecordBytes, ends its record (with a
    // problem) at the end of the line it opened on, so that the lines after it are read as records
    // of their own: a stray quote costs one record, however much follows it. stopAtLimit: give up
    // on a record longer than kMaxRecordBytes at once instead of skipping to the end of its line
    // (for a header: an input with no line break may never end).
    bool next(Record& record, bool stopAtLimit = false);
    std::uint64_t bytesRead() const { return consumed_; }

    void setSeparator(char separator) { separator_ = separator; }
    char separator() const { return separator_; }
    // Before the first record: passes over a UTF-8 byte-order mark, whole. Part of one (EF, or
    // EF BB, without the rest) is left as data, and told, so that the caller can say why the
    // first name is not what it seems.
    enum class ByteOrderMark { None, Skipped, Partial };
    ByteOrderMark skipByteOrderMark();
    // The bytes up to the next line end (at most kMaxRecordBytes + 1 of them), left unread: what
    // the separator is found from, before the header is read with it.
    std::string_view peekLine();
    // Passes over lines of nothing but blanks, counting them.
    void skipBlankLines();

private:
    int get();
    int peek();
    void readRecord(Record& record, bool stopAtLimit);
    void giveBack(std::string_view text);
    bool blank(int c) const { return c == ' ' || (c == '\t' && separator_ != '\t'); }

    ByteSource& source_;
    char separator_;
    std::vector<char> buffer_ = std::vector<char>(std::size_t{1} << 16);
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool exhausted_ = false;
    std::uint64_t consumed_ = 0;
    std::size_t line_;
    // What a quoted field has read, up to the limit: given back to be read again as lines when the
    // quote turns out never to close.
    std::string quoted_;
};

// A block ready to fit.
struct BlockRow {
    std::size_t line = 0;
    std::string block;
    inference::Counts counts;
    std::optional<double> sFixed; // S is estimated when empty
    std::optional<double> count;  // street count, for the number of dogs N
    std::string stratum;          // empty when the survey names none
};

struct RowError {
    std::size_t line = 0;
    std::string block; // as far as the record gives one
    std::string reason;
    std::string stratum; // when the record names one in the right place
};

using Row = std::variant<BlockRow, RowError>;

class SurveyReader {
public:
    // Reads the header at once. Throws InputError for empty input, a header without the required
    // columns, a column named twice, or a header longer than RecordReader::kMaxRecordBytes.
    // separator 0: ',', ';' or tab, whichever the header holds most of outside quotes (',' on a
    // tie). With ';' a decimal comma is read as a decimal point, as spreadsheets in such locales
    // write it.
    explicit SurveyReader(ByteSource& source, char separator = 0);

    // The next block or the reason a record is not one; empty at the end of the input.
    std::optional<Row> next();

    std::uint64_t bytesRead() const { return records_.bytesRead(); }

private:
    Row parse(const Record& record) const;

    RecordReader records_;
    Record record_;
    bool decimalComma_ = false;
    std::size_t headerFields_ = 0;
    std::size_t block_ = 0;
    std::size_t frequencies_[4] = {};
    std::optional<std::size_t> sFixed_;
    std::optional<std::size_t> count_;
    std::optional<std::size_t> stratum_;
};

// The required and optional column names, as the header must spell them (case aside).
inline constexpr std::string_view kFrequencyColumns[4] = {"n100", "n111", "n101", "n110"};
inline constexpr std::string_view kBlockColumn = "block";
inline constexpr std::string_view kSFixedColumn = "s_fixed";
inline constexpr std::string_view kCountColumn = "count";
inline constexpr std::string_view kStratumColumn = "stratum";

// Of ',', ';' and tab, the one a header line uses most outside quotes; ',' on a tie.
char mostUsedSeparator(std::string_view line);

// Before a header is read: the byte-order mark some spreadsheets write passed over (true when only
// part of one was there), blank lines skipped, and the separator set (0: the one the header's first
// line uses most, found from the line as it stands, since read with the wrong separator a quote it
// holds would open a field that swallows the rows after it).
bool startHeader(RecordReader& records, char separator = 0);

// A finite decimal number, the whole field: "12", "+0.5", "1e2" (and "0,5" with decimalComma).
// Independent of the locale, so that a file reads the same on every machine.
std::optional<double> readNumber(std::string_view text, bool decimalComma);

// Text from the input, made safe to show on a terminal: control characters and the characters
// that reorder text (U+202A to U+202E, U+2066 to U+2069) escaped, long text cut short.
std::string printable(std::string_view text);

// The character at the start of text when it is one of those that reorder the text around them,
// U+202A to U+202E and U+2066 to U+2069 (3 bytes of UTF-8 each), as a terminal or an editor
// would obey them; 0 otherwise.
char32_t reordering(std::string_view text);

} // namespace kestrum::survey
