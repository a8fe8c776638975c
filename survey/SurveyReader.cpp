#include "SurveyReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "FloatChars.h"
#include "Sightings.h"

namespace kestrum::survey {

namespace {

constexpr int kEnd = -1;
constexpr std::size_t kShownBytes = 40;

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower;
}

void addProblem(std::string& problems, const std::string& problem)
{
    if (!problems.empty()) {
        problems += "; ";
    }
    problems += problem;
}

std::string named(std::string_view column, const char* what, std::string_view text)
{
    return std::string(column) + what + printable(text);
}

} // namespace

char mostUsedSeparator(std::string_view line)
{
    std::size_t uses[3] = {};
    bool quoted = false;
    for (const char c : line) {
        quoted = c == '"' ? !quoted : quoted;
        if (!quoted) {
            uses[0] += c == ',';
            uses[1] += c == ';';
            uses[2] += c == '\t';
        }
    }
    const std::size_t most = static_cast<std::size_t>(std::max_element(uses, uses + 3) - uses);
    return ",;\t"[most];
}

std::optional<double> readNumber(std::string_view text, bool decimalComma)
{
    char point[64];
    if (decimalComma && text.find(',') != std::string_view::npos) {
        if (text.size() > sizeof point || text.find('.') != std::string_view::npos) {
            return std::nullopt;
        }
        std::replace_copy(text.begin(), text.end(), point, ',', '.');
        text = std::string_view(point, text.size());
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
            return std::nullopt;
        }
    }
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = text::fromChars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

char32_t reordering(std::string_view text)
{
    // U+202A..U+202E are E2 80 AA..AE; U+2066..U+2069 are E2 81 A6..A9.
    if (text.size() < 3 || text[0] != '\xE2') {
        return 0;
    }
    const auto last = static_cast<unsigned char>(text[2]);
    const bool embedding = text[1] == '\x80' && last >= 0xAA && last <= 0xAE;
    const bool isolate = text[1] == '\x81' && last >= 0xA6 && last <= 0xA9;
    if (!embedding && !isolate) {
        return 0;
    }
    return static_cast<char32_t>(0x2000 | (text[1] == '\x81' ? 0x40 : 0x00) | (last & 0x3F));
}

std::string printable(std::string_view text)
{
    std::string shown = "\"";
    std::size_t kept = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // Cut only before the first byte of a character, never inside one.
        if (kept >= kShownBytes && (byte & 0xC0) != 0x80) {
            shown += "...";
            break;
        }
        if (const char32_t reorders = reordering(text.substr(i)); reorders != 0) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(reorders));
            shown += escaped;
            i += 2;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += static_cast<char>(byte);
        }
        ++kept;
    }
    return shown + "\"";
}

FdSource::FdSource(int fd) : fd_(fd)
{
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        start_ = at >= 0 ? static_cast<long long>(at) : -1;
    }
}

void FdSource::rewind()
{
    if (start_ < 0 || ::lseek(fd_, static_cast<off_t>(start_), SEEK_SET) < 0) {
        throw InputError(std::string("reading the input again failed: ") + std::strerror(errno));
    }
}

ClosedAtEnd::~ClosedAtEnd()
{
    if (fd >= 0) {
        ::close(fd);
    }
}

std::size_t FdSource::read(char* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, size);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            throw InputError(std::string("reading failed: ") + std::strerror(errno));
        }
    }
}

std::size_t StringSource::read(char* buffer, std::size_t size)
{
    const std::size_t n = std::min(size, text_.size() - at_);
    std::memcpy(buffer, text_.data() + at_, n);
    at_ += n;
    return n;
}

int RecordReader::refill()
{
    if (exhausted_) {
        return kEnd;
    }
    end_ = source_.read(buffer_.data(), buffer_.size());
    begin_ = 0;
    if (end_ == 0) {
        exhausted_ = true;
        return kEnd;
    }
    return static_cast<unsigned char>(buffer_[begin_]);
}

void RecordReader::giveBack(std::string_view text)
{
    std::vector<char> joined(text.begin(), text.end());
    joined.insert(joined.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(end_));
    end_ = joined.size();
    begin_ = 0;
    joined.resize(std::max(joined.size(), buffer_.size()));
    buffer_ = std::move(joined);
    consumed_ -= text.size();
}

std::string_view RecordReader::peekLine()
{
    for (;;) {
        const std::string_view held(buffer_.data() + begin_, end_ - begin_);
        const std::size_t stop = held.find_first_of("\r\n");
        if (stop != std::string_view::npos) {
            return held.substr(0, stop);
        }
        if (held.size() > kMaxRecordBytes || exhausted_) {
            return held.substr(0, kMaxRecordBytes + 1);
        }
        // Read more after what is held, in a larger buffer once it is full.
        std::memmove(buffer_.data(), buffer_.data() + begin_, held.size());
        end_ = held.size();
        begin_ = 0;
        if (end_ == buffer_.size()) {
            buffer_.resize(2 * buffer_.size());
        }
        const std::size_t got = source_.read(buffer_.data() + end_, buffer_.size() - end_);
        exhausted_ = got == 0;
        end_ += got;
    }
}

RecordReader::ByteOrderMark RecordReader::skipByteOrderMark()
{
    const std::string_view line = peekLine();
    if (line.starts_with("\xEF\xBB\xBF")) {
        for (int k = 0; k < 3; ++k) {
            get();
        }
        return ByteOrderMark::Skipped;
    }
    // EF BB followed by a continuation byte other than BF is a character of its own.
    const auto continuation = [&line](std::size_t k) {
        return k < line.size() && (static_cast<unsigned char>(line[k]) & 0xC0) == 0x80;
    };
    const bool partial =
        line.starts_with('\xEF') && (!continuation(1) || (line[1] == '\xBB' && !continuation(2)));
    return partial ? ByteOrderMark::Partial : ByteOrderMark::None;
}

void RecordReader::skipBlankLines()
{
    for (;;) {
        const std::string_view line = peekLine();
        if (line.size() > kMaxRecordBytes || line.find_first_not_of(" \t") != line.npos ||
            peek() == kEnd) {
            return;
        }
        for (std::size_t k = line.size(); k > 0; --k) {
            get();
        }
        if (get() == '\r' && peek() == '\n') {
            get();
        }
        ++line_;
    }
}

void RecordReader::readRecord(Record& record, bool stopAtLimit)
{
    record.line = line_;
    record.problem.clear();
    std::size_t count = 0;
    std::size_t bytes = 0;
    bool anyQuoted = false;
    bool cutAtLine = false; // a quote ran away: the record ends with the line it opened on
    const auto tooLong = [&] { return bytes > kMaxRecordBytes; };
    const auto lineEnd = [](int c) { return c == '\n' || c == '\r'; };
    for (;;) {
        if (count == record.fields.size()) {
            record.fields.emplace_back();
        }
        std::string& field = record.fields[count++];
        field.clear();
        const auto keep = [&](int c) {
            if (++bytes <= kMaxRecordBytes) {
                field.push_back(static_cast<char>(c));
            }
        };
        int c = peek();
        while (blank(c)) {
            get();
            c = peek();
        }
        if (c == '"') {
            anyQuoted = true;
            const std::size_t opened = line_;
            quoted_.clear();
            get();
            bool closed = false;
            while (!tooLong()) {
                c = get();
                if (c == kEnd) {
                    break;
                }
                quoted_.push_back(static_cast<char>(c));
                if (c == '"') {
                    if (peek() != '"') {
                        closed = true;
                        break;
                    }
                    quoted_.push_back(static_cast<char>(get()));
                } else if (c == '\n' || (c == '\r' && peek() != '\n')) {
                    ++line_;
                }
                keep(c);
            }
            const std::size_t brokenAt = closed ? std::string::npos : quoted_.find_first_of("\r\n");
            if (brokenAt != std::string::npos) {
                // A quote not closed by the end of the input, or holding line ends for more than
                // the limit, is most likely a stray one: the lines after the one it opened on are
                // rows, and are read again as such.
                std::size_t resume = brokenAt + 1;
                if (quoted_[brokenAt] == '\r' && resume < quoted_.size()) {
                    resume += quoted_[resume] == '\n' ? 1 : 0;
                } else if (quoted_[brokenAt] == '\r' && peek() == '\n') {
                    get();
                }
                giveBack(std::string_view(quoted_).substr(resume));
                line_ = opened + 1;
                field.resize(std::min(field.find_first_of("\r\n"), field.size()));
                addProblem(record.problem, "a quote opened on line " + std::to_string(opened) +
                                               (c == kEnd ? " is not closed before the end of "
                                                            "the input"
                                                          : " is not closed within 1 MiB"));
                cutAtLine = true;
                break;
            }
            if (c == kEnd && !closed) {
                addProblem(record.problem, "a quote opened on line " + std::to_string(opened) +
                                               " is not closed before the end of the input");
                break;
            }
            if (!closed) {
                // Over the limit within the line the quote opened on: that line is the record.
                if (stopAtLimit) {
                    break;
                }
                for (c = peek(); c != kEnd && !lineEnd(c); c = peek()) {
                    get();
                }
            }
            c = peek();
            while (blank(c)) {
                get();
                c = peek();
            }
            if (c != separator_ && !lineEnd(c) && c != kEnd && !tooLong()) {
                addProblem(record.problem,
                           "text after the closing quote of field " + std::to_string(count));
                while (c != separator_ && !lineEnd(c) && c != kEnd) {
                    get();
                    c = peek();
                }
            }
        } else {
            // Up to the next separator or line end, a buffer's run at a time: most of what a
            // survey holds is unquoted fields, read here.
            while (c != kEnd && !(stopAtLimit && tooLong())) {
                const char* from = buffer_.data() + begin_;
                const char* const held = buffer_.data() + end_;
                std::size_t run = 0;
                while (from + run != held && from[run] != separator_ && !lineEnd(from[run])) {
                    ++run;
                }
                const bool stopped = from + run != held;
                if (stopAtLimit) {
                    run = std::min(run, kMaxRecordBytes + 1 - bytes);
                }
                field.append(from,
                             std::min(run, kMaxRecordBytes - std::min(bytes, kMaxRecordBytes)));
                bytes += run;
                begin_ += run;
                consumed_ += run;
                if (stopped) {
                    break;
                }
                c = peek();
            }
            while (!field.empty() && blank(field.back())) {
                field.pop_back();
            }
        }
        if (stopAtLimit && tooLong()) {
            break;
        }
        c = get();
        if (c == separator_) {
            continue;
        }
        if (c == '\r' && peek() == '\n') {
            c = get();
        }
        if (lineEnd(c)) {
            ++line_;
        }
        break;
    }
    record.fields.resize(count);
    if (tooLong() && !cutAtLine) {
        record.fields.clear();
        record.problem = "the record is longer than 1 MiB";
    } else if (count == 1 && record.fields[0].empty() && !anyQuoted && record.problem.empty()) {
        record.fields.clear(); // a blank line
    }
}

bool RecordReader::next(Record& record, bool stopAtLimit)
{
    while (peek() != kEnd) {
        readRecord(record, stopAtLimit);
        if (!record.fields.empty() || !record.problem.empty()) {
            return true;
        }
    }
    return false;
}

bool startHeader(RecordReader& records, char separator)
{
    const bool partialMark = records.skipByteOrderMark() == RecordReader::ByteOrderMark::Partial;
    records.skipBlankLines();
    records.setSeparator(separator != 0 ? separator : mostUsedSeparator(records.peekLine()));
    return partialMark;
}

HeaderRecord readHeader(RecordReader& records, char separator)
{
    HeaderRecord header;
    header.partialMark = startHeader(records, separator);
    header.separator = records.separator();
    if (!records.next(header.record, true)) {
        throw InputError("the input is empty: a header row naming the columns block, n100, n111, "
                         "n101, n110 (or block, dog and visit, for a sheet of sightings) is "
                         "needed");
    }
    if (!header.record.problem.empty()) {
        throw InputError("line " + std::to_string(header.record.line) +
                         ", the header: " + header.record.problem);
    }
    return header;
}

std::string ownCell(const std::string& field, bool decimalComma)
{
    if (decimalComma && field.find(',') != std::string::npos && readNumber(field, true)) {
        std::string point = field;
        std::replace(point.begin(), point.end(), ',', '.');
        return point;
    }
    return field;
}

namespace {

// Every column name the tool reads, in one list: which of them a file's form uses, its header
// says.
enum Known : std::size_t {
    kBlock,
    kN100,
    kN111,
    kN101,
    kN110,
    kSFixed,
    kCount,
    kStratum,
    kMarked,
    kSeen1,
    kSeen2,
    kSeen3,
    kNewDogs,
    kDog,
    kVisit,
    kVisit1,
    kVisit2,
    kVisit3,
    kKnown
};

constexpr std::string_view kKnownNames[kKnown] = {
    kBlockColumn,         kFrequencyColumns[0], kFrequencyColumns[1], kFrequencyColumns[2],
    kFrequencyColumns[3], kSFixedColumn,        kCountColumn,         kStratumColumn,
    kMarkedColumn,        kSeenColumns[0],      kSeenColumns[1],      kSeenColumns[2],
    kNewDogsColumn,       kDogColumn,           kVisitColumn,         kVisitColumns[0],
    kVisitColumns[1],     kVisitColumns[2]};

std::string listed(const std::vector<Known>& columns)
{
    std::string list;
    for (const Known k : columns) {
        list += (list.empty() ? "" : ", ") + std::string(kKnownNames[k]);
    }
    return list;
}

} // namespace

SurveyReader::SurveyReader(ByteSource& source, char separator)
    : replay_(std::make_unique<ReplaySource>(source)), records_(*replay_)
{
    const HeaderRecord header = readHeader(records_, separator);
    const std::vector<std::string>& names = header.record.fields;
    layout_.separator = header.separator;
    layout_.decimalComma = header.separator == ';';
    layout_.fields = names.size();
    std::optional<std::size_t> found[kKnown];
    bool twice[kKnown] = {};
    for (std::size_t column = 0; column < names.size(); ++column) {
        const std::string name = lowerCase(names[column]);
        for (std::size_t k = 0; k < kKnown; ++k) {
            if (name == kKnownNames[k]) {
                twice[k] = twice[k] || found[k].has_value();
                found[k] = found[k].value_or(column);
            }
        }
    }
    // Four frequencies make a frequency survey, whatever else it names; a dog makes sightings.
    const bool frequencies = found[kN100] && found[kN111] && found[kN101] && found[kN110];
    std::vector<Known> used{kBlock, kSFixed, kCount, kStratum, kMarked};
    std::vector<Known> required{kBlock};
    if (frequencies || !found[kDog]) {
        layout_.form = SheetForm::Frequencies;
        used.insert(used.end(), {kN100, kN111, kN101, kN110, kSeen1, kSeen2, kSeen3, kNewDogs});
        required.insert(required.end(), {kN100, kN111, kN101, kN110});
    } else if (found[kVisit] && (found[kVisit1] || found[kVisit2] || found[kVisit3])) {
        throw InputError("the header names both visit and visit1, visit2 or visit3: a sheet of "
                         "sightings has one row per sighting (visit) or one row per dog (visit1, "
                         "visit2, visit3), not both");
    } else if (found[kVisit1] || found[kVisit2] || found[kVisit3]) {
        layout_.form = SheetForm::DogRows;
        used.insert(used.end(), {kDog, kVisit1, kVisit2, kVisit3});
        required.insert(required.end(), {kDog, kVisit1, kVisit2, kVisit3});
    } else {
        layout_.form = SheetForm::Sightings;
        used.insert(used.end(), {kDog, kVisit});
        required.insert(required.end(), {kDog, kVisit});
    }
    for (const Known k : used) {
        if (twice[k]) {
            throw InputError("the header names the column " + std::string(kKnownNames[k]) +
                             " twice");
        }
    }
    std::vector<Known> missing;
    for (const Known k : required) {
        if (!found[k]) {
            missing.push_back(k);
        }
    }
    if (!missing.empty()) {
        const std::string columns = std::string(missing.size() == 1 ? " " : "s ") + listed(missing);
        const std::string mark = header.partialMark ? "; the input begins with part of a UTF-8 "
                                                      "byte-order mark, read as part of the first "
                                                      "column's name"
                                                    : "";
        if (layout_.form == SheetForm::Frequencies) {
            throw InputError("the header lacks the column" + columns +
                             " (the first line must name block, n100, n111, n101 and n110, and may "
                             "name s_fixed and count, separated by commas, semicolons or tabs; a "
                             "sheet of sightings names block, dog and visit)" +
                             mark);
        }
        throw InputError("the header lacks the column" + columns +
                         " (a sheet of sightings names block, dog and visit, one row per "
                         "sighting, or block, dog, visit1, visit2 and visit3, one row per dog)" +
                         mark);
    }
    layout_.block = *found[kBlock];
    for (std::size_t k = 0; k < 4; ++k) {
        layout_.frequencies[k] = found[kN100 + k].value_or(0);
    }
    layout_.dog = found[kDog].value_or(0);
    layout_.visit = found[kVisit].value_or(0);
    for (std::size_t k = 0; k < 3; ++k) {
        layout_.visits[k] = found[kVisit1 + k].value_or(0);
    }
    layout_.sFixed = found[kSFixed];
    layout_.count = found[kCount];
    layout_.stratum = found[kStratum];
    layout_.marked = found[kMarked];
    if (layout_.form == SheetForm::Frequencies) {
        for (std::size_t k = 0; k < 3; ++k) {
            layout_.seen[k] = found[kSeen1 + k];
        }
        layout_.newDogs = found[kNewDogs];
    }
    // Every other column is the survey's own, and travels.
    std::vector<bool> taken(names.size(), false);
    for (const Known k : used) {
        if (found[k]) {
            taken[*found[k]] = true;
        }
    }
    for (std::size_t column = 0; column < names.size(); ++column) {
        if (!taken[column]) {
            layout_.own.push_back(column);
            // A column without a name is named by its place, as a spreadsheet shows it.
            layout_.ownNames.push_back(
                names[column].empty() ? "column_" + std::to_string(column + 1) : names[column]);
        }
    }
    if (layout_.form == SheetForm::Frequencies) {
        replay_->forget();
    } else {
        replay_->keep();
        sightings_ = std::make_unique<SightingsTally>(*replay_, records_, layout_);
    }
}

SurveyReader::~SurveyReader() = default;

std::uint64_t SurveyReader::bytesRead() const
{
    return sightings_ ? sightings_->bytesRead() : records_.bytesRead();
}

std::optional<Row> SurveyReader::next()
{
    if (sightings_) {
        return sightings_->next();
    }
    if (!records_.next(record_)) {
        return std::nullopt;
    }
    return parse(record_);
}

Row SurveyReader::parse(const Record& record) const
{
    const SheetLayout& at = layout_;
    const std::string block = at.block < record.fields.size() ? record.fields[at.block] : "";
    if (!record.problem.empty()) {
        return RowError{record.line, block, record.problem, {}};
    }
    if (record.fields.size() != at.fields) {
        // A stratum is believed only where the fields line up with the header.
        return RowError{record.line,
                        block,
                        "the record has " + std::to_string(record.fields.size()) +
                            " fields where the header has " + std::to_string(at.fields),
                        {}};
    }
    BlockRow row;
    row.line = record.line;
    row.own.reserve(at.own.size());
    for (const std::size_t column : at.own) {
        row.own.push_back(ownCell(record.fields[column], at.decimalComma));
    }
    std::string problems;

    row.block = record.fields[at.block];
    if (row.block.empty()) {
        addProblem(problems, "block is missing");
    }

    std::int32_t* const counts[4] = {&row.counts.n100, &row.counts.n111, &row.counts.n101,
                                     &row.counts.n110};
    bool countsRead = true;
    for (std::size_t k = 0; k < 4; ++k) {
        const std::string_view column = kFrequencyColumns[k];
        const std::string& text = record.fields[at.frequencies[k]];
        const std::optional<double> value = readNumber(text, at.decimalComma);
        countsRead = countsRead && value && *value == std::floor(*value) && *value >= 0.0 &&
                     *value <= std::numeric_limits<std::int32_t>::max();
        if (text.empty()) {
            addProblem(problems, std::string(column) + " is missing");
        } else if (!value) {
            addProblem(problems, named(column, " is not a number: ", text));
        } else if (*value != std::floor(*value)) {
            addProblem(problems, named(column, " is not a whole number: ", text));
        } else if (*value < 0.0) {
            addProblem(problems, named(column, " is negative: ", text));
        } else if (*value > std::numeric_limits<std::int32_t>::max()) {
            addProblem(problems, named(column, " is too large (at most 2147483647): ", text));
        } else {
            *counts[k] = static_cast<std::int32_t>(*value);
        }
    }
    if (at.sFixed && !record.fields[*at.sFixed].empty()) {
        const std::string& text = record.fields[*at.sFixed];
        const std::optional<double> value = readNumber(text, at.decimalComma);
        if (!value) {
            addProblem(problems, named(kSFixedColumn, " is not a number: ", text));
        } else if (!(*value > 0.0 && *value <= 1.0)) {
            addProblem(problems, named(kSFixedColumn, " must lie above 0 and at most 1: ", text));
        } else {
            row.sFixed = *value;
        }
    }
    if (at.count && !record.fields[*at.count].empty()) {
        const std::string& text = record.fields[*at.count];
        const std::optional<double> value = readNumber(text, at.decimalComma);
        if (!value) {
            addProblem(problems, named(kCountColumn, " is not a number: ", text));
        } else if (*value < 0.0) {
            addProblem(problems, named(kCountColumn, " is negative: ", text));
        } else {
            row.count = *value;
        }
    }

    // The tally's own columns, for a frequency survey written by a tally or by hand: each a
    // number of dogs, and in keeping with the four frequencies.
    const auto dogs = [&](std::optional<std::size_t> column, std::string_view name) {
        std::optional<std::int64_t> number;
        if (!column || record.fields[*column].empty()) {
            return number;
        }
        const std::string& text = record.fields[*column];
        const std::optional<double> value = readNumber(text, at.decimalComma);
        if (!value) {
            addProblem(problems, named(name, " is not a number: ", text));
        } else if (*value != std::floor(*value)) {
            addProblem(problems, named(name, " is not a whole number: ", text));
        } else if (*value < 0.0) {
            addProblem(problems, named(name, " is negative: ", text));
        } else if (*value > 9e15) {
            addProblem(problems, named(name, " is too large: ", text));
        } else {
            number = static_cast<std::int64_t>(*value);
        }
        return number;
    };
    row.marked = dogs(at.marked, kMarkedColumn);
    for (std::size_t k = 0; k < 3; ++k) {
        row.seen[k] = dogs(at.seen[k], kSeenColumns[k]);
    }
    row.newDogs = dogs(at.newDogs, kNewDogsColumn);
    if (countsRead) {
        const auto identified = static_cast<std::int64_t>(row.counts.total());
        const std::int64_t again[3] = {identified, std::int64_t{row.counts.n111} + row.counts.n110,
                                       std::int64_t{row.counts.n111} + row.counts.n101};
        if (row.marked && *row.marked > identified) {
            addProblem(problems, "marked is " + std::to_string(*row.marked) + ", more than the " +
                                     std::to_string(identified) +
                                     " dogs identified on the first count");
        }
        if (row.seen[0] && *row.seen[0] != identified) {
            addProblem(problems, "seen_visit1 is " + std::to_string(*row.seen[0]) +
                                     ", but the four frequencies add up to " +
                                     std::to_string(identified));
        }
        for (std::size_t k = 1; k < 3; ++k) {
            if (row.seen[k] && *row.seen[k] < again[k]) {
                addProblem(problems, std::string(kSeenColumns[k]) + " is " +
                                         std::to_string(*row.seen[k]) + ", fewer than the " +
                                         std::to_string(again[k]) +
                                         (k == 1 ? " of n111 and n110" : " of n111 and n101"));
            }
        }
    }

    if (at.stratum) {
        row.stratum = record.fields[*at.stratum];
    }

    if (!problems.empty()) {
        RowError error{record.line, row.block, problems, row.stratum};
        error.own = std::move(row.own);
        return error;
    }
    return row;
}

} // namespace kestrum::survey
