// Reading a survey: one CSV record per block, with the columns block, n100, n111, n101, n110 and
// optionally s_fixed, count, stratum and marked, under a header row that names them in any order;
// or a sheet of sightings, one record per dog seen (Sightings.h), tallied into the same blocks.
// Which of them a file is, the header says. Columns the tool does not read travel with each block.
//
// Records are read one at a time, so memory stays flat however many blocks a file holds. Each is
// checked completely before it is handed on: a record is either a block ready to fit or the line
// number and the reason it cannot be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
    // Whether rewind() can go back to the first byte: a sheet of sightings is read twice.
    virtual bool rewindable() const { return false; }
    // Back to the first byte. Throws InputError when that fails.
    virtual void rewind() {}
};

// A file descriptor the program opened, closed however its reading ends.
struct ClosedAtEnd {
    int fd;
    explicit ClosedAtEnd(int file) : fd(file) {}
    ClosedAtEnd(const ClosedAtEnd&) = delete;
    ClosedAtEnd& operator=(const ClosedAtEnd&) = delete;
    ~ClosedAtEnd();
};

class FdSource final : public ByteSource {
public:
    // A regular file can be read again from where it stood when it was handed over.
    explicit FdSource(int fd);
    std::size_t read(char* buffer, std::size_t size) override;
    bool rewindable() const override { return start_ >= 0; }
    void rewind() override;

private:
    int fd_;
    long long start_ = -1; // the offset to rewind to; -1 when the file is not a regular one
};

class StringSource final : public ByteSource {
public:
    explicit StringSource(std::string text) : text_(std::move(text)) {}
    std::size_t read(char* buffer, std::size_t size) override;
    bool rewindable() const override { return true; }
    void rewind() override { at_ = 0; }

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
    // The next byte, or -1 at the end of the input; the buffer refilled only when it is empty.
    int peek() { return begin_ != end_ ? static_cast<unsigned char>(buffer_[begin_]) : refill(); }
    int get()
    {
        const int c = peek();
        if (c >= 0) {
            ++begin_;
            ++consumed_;
        }
        return c;
    }
    int refill();
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

// A warning, with a stable code for scripts and one sentence for people.
struct Note {
    std::string code;    // "estimate_on_bound"
    std::string message; // one sentence
};

// What the tally of a sheet of sightings found in a block's rows, told with its line.
struct SheetCheck {
    enum class Kind {
        DogTwiceOnVisit,  // counted once
        DogOnTwoRows,     // a sheet of one row per dog: the rows joined
        DogSeenOnNoVisit, // left out
        MarkedDiffers,    // counted as marked
        DogInTwoBlocks,   // counted in each block where it was seen
        RowUnread,        // a row of the block that is an error row of its own
        CellCut,          // a column's values in the block ran past the limit of a cell
    };
    Kind kind = Kind::DogTwiceOnVisit;
    std::size_t line = 0;
    std::string item; // what and where, short: "\"d7\" on visit 2 (lines 5 and 9)"
};

// A block ready to fit.
struct BlockRow {
    std::size_t line = 0;
    std::string block;
    inference::Counts counts;
    std::optional<double> sFixed; // S is estimated when empty
    std::optional<double> count;  // street count, for the number of dogs N
    std::string stratum;          // empty when the survey names none
    // The marked dogs among those identified on the first count (the four histories).
    std::optional<std::int64_t> marked;
    // The dogs seen on each count, and those first seen on the second or third: from a tally.
    std::optional<std::int64_t> seen[3];
    std::optional<std::int64_t> newDogs;
    // The cells of the survey's own columns (SheetLayout::own), as they travel to the output.
    std::vector<std::string> own;
    std::vector<SheetCheck> checks; // from a tally
};

struct RowError {
    RowError() = default;
    RowError(std::size_t atLine, std::string name, std::string why, std::string inStratum = {},
             bool ofSighting = false, std::vector<std::string> cells = {})
        : line(atLine), block(std::move(name)), reason(std::move(why)),
          stratum(std::move(inStratum)), sighting(ofSighting), own(std::move(cells))
    {}

    std::size_t line = 0;
    std::string block; // as far as the record gives one
    std::string reason;
    std::string stratum;          // when the record names one in the right place
    bool sighting = false;        // a row of a sheet of sightings: not a block of its own
    std::vector<std::string> own; // when the record's fields line up with the header
};

using Row = std::variant<BlockRow, RowError>;

// What the header says a file is.
enum class SheetForm {
    Frequencies, // one row per block with its four frequencies
    Sightings,   // one row per sighting: block, dog, visit
    DogRows,     // one row per dog: block, dog, visit1, visit2, visit3
};

// Where each column the tool reads stands in the header, and the columns it does not read.
struct SheetLayout {
    SheetForm form = SheetForm::Frequencies;
    char separator = ',';
    bool decimalComma = false; // with ';': "0,8" is 0.8
    std::size_t fields = 0;    // in the header
    std::size_t block = 0;
    std::size_t frequencies[4] = {}; // Frequencies
    std::size_t dog = 0;             // Sightings and DogRows
    std::size_t visit = 0;           // Sightings
    std::size_t visits[3] = {};      // DogRows
    std::optional<std::size_t> sFixed;
    std::optional<std::size_t> count;
    std::optional<std::size_t> stratum;
    std::optional<std::size_t> marked;
    std::optional<std::size_t> seen[3]; // Frequencies: a tally read back
    std::optional<std::size_t> newDogs; // likewise
    // The survey's own columns (team, date, notes ...), in their order, and their names.
    std::vector<std::size_t> own;
    std::vector<std::string> ownNames;
};

class SightingsTally;
class ReplaySource;

class SurveyReader {
public:
    // Reads the header at once, and from it which form the file has. Throws InputError for empty
    // input, a header without the required columns, a column named twice, or a header longer
    // than RecordReader::kMaxRecordBytes. separator 0: ',', ';' or tab, whichever the header holds
    // most of outside quotes (',' on a tie). With ';' a decimal comma is read as a decimal point,
    // as spreadsheets in such locales write it.
    explicit SurveyReader(ByteSource& source, char separator = 0);
    ~SurveyReader();
    SurveyReader(const SurveyReader&) = delete;
    SurveyReader& operator=(const SurveyReader&) = delete;

    // The next block or the reason a record is not one; empty at the end of the input. In a
    // sheet of sightings each block comes once its last row is read, at the line of its first:
    // rows come in the order of their lines. The first call reads such a sheet once through to
    // find where each block ends (Sightings.h). Throws InputError when the input stops being
    // readable.
    std::optional<Row> next();

    const SheetLayout& layout() const { return layout_; }
    // Bytes read of the input; of a sheet of sightings, on its second reading.
    std::uint64_t bytesRead() const;

private:
    Row parse(const Record& record) const;

    std::unique_ptr<ReplaySource> replay_;
    RecordReader records_;
    Record record_;
    SheetLayout layout_;
    std::unique_ptr<SightingsTally> sightings_;
};

// The required and optional column names, as the header must spell them (case aside).
inline constexpr std::string_view kFrequencyColumns[4] = {"n100", "n111", "n101", "n110"};
inline constexpr std::string_view kBlockColumn = "block";
inline constexpr std::string_view kSFixedColumn = "s_fixed";
inline constexpr std::string_view kCountColumn = "count";
inline constexpr std::string_view kStratumColumn = "stratum";
inline constexpr std::string_view kMarkedColumn = "marked";
inline constexpr std::string_view kSeenColumns[3] = {"seen_visit1", "seen_visit2", "seen_visit3"};
inline constexpr std::string_view kNewDogsColumn = "new_dogs";
inline constexpr std::string_view kDogColumn = "dog";
inline constexpr std::string_view kVisitColumn = "visit";
inline constexpr std::string_view kVisitColumns[3] = {"visit1", "visit2", "visit3"};

// The header as read, before its columns are known: what both a survey and its second reading
// start with. Passes over a byte-order mark and blank lines, finds the separator when it is 0.
// Throws InputError for empty input or a header that cannot be read.
struct HeaderRecord {
    Record record;
    char separator = ',';
    bool partialMark = false; // the input begins with part of a UTF-8 byte-order mark
};
HeaderRecord readHeader(RecordReader& records, char separator);

// The cell of one of the survey's own columns as it travels: with a decimal comma, a number
// written with a point, so that it reads back as the number it was.
std::string ownCell(const std::string& field, bool decimalComma);

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
