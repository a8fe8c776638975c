#include "Sightings.h"

#include "FloatChars.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace kestrum::survey {

namespace {

// Items a warning names before the rest are only counted.
constexpr std::size_t kShownItems = 5;

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

bool sameIgnoringCase(std::string_view text, std::string_view word)
{
    return text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
           });
}

std::string shortest(double value)
{
    char text[32];
    return std::string(text, kestrum::text::toChars(text, text + sizeof text, value).ptr);
}

std::string lines(std::size_t first, std::size_t second)
{
    return "lines " + std::to_string(first) + " and " + std::to_string(second);
}

[[noreturn]] void keepFailed()
{
    throw InputError(std::string("the sheet of sightings cannot be kept for its second reading: ") +
                     std::strerror(errno));
}

[[noreturn]] void changed()
{
    throw InputError("the input changed between its two readings (a sheet of sightings is read "
                     "twice): read it from a file that stays as it is");
}

} // namespace

ReplaySource::~ReplaySource()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::size_t ReplaySource::read(char* buffer, std::size_t size)
{
    if (mode_ == Mode::Replaying) {
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, size);
            if (got >= 0) {
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR) {
                throw InputError(std::string("reading the sheet again failed: ") +
                                 std::strerror(errno));
            }
        }
    }
    const std::size_t got = source_.read(buffer, size);
    if (mode_ == Mode::Holding) {
        held_.append(buffer, got);
    } else if (mode_ == Mode::Spooling) {
        for (std::size_t done = 0; done < got;) {
            const ssize_t wrote = ::write(fd_, buffer + done, got - done);
            if (wrote < 0 && errno != EINTR) {
                keepFailed();
            }
            done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
        }
    }
    return got;
}

void ReplaySource::forget()
{
    mode_ = Mode::Passing;
    std::string().swap(held_);
}

void ReplaySource::keep()
{
    if (source_.rewindable()) {
        forget();
        return;
    }
    const char* dir = std::getenv("TMPDIR");
    std::string name =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/kestrum-sightings-XXXXXX";
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) {
        keepFailed();
    }
    // Gone from the folder at once: whatever ends the run, the space comes back.
    ::unlink(name.c_str());
    mode_ = Mode::Spooling;
    std::string held;
    held.swap(held_);
    for (std::size_t done = 0; done < held.size();) {
        const ssize_t wrote = ::write(fd_, held.data() + done, held.size() - done);
        if (wrote < 0 && errno != EINTR) {
            keepFailed();
        }
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
}

void ReplaySource::rewind()
{
    if (fd_ < 0) {
        source_.rewind();
        return;
    }
    if (::lseek(fd_, 0, SEEK_SET) < 0) {
        throw InputError(std::string("reading the sheet again failed: ") + std::strerror(errno));
    }
    mode_ = Mode::Replaying;
}

std::optional<bool> readYesNo(std::string_view text, bool xAndBlank)
{
    if (xAndBlank && (text.empty() || sameIgnoringCase(text, "x"))) {
        return !text.empty();
    }
    for (const std::string_view yes : {"1", "yes", "y", "true"}) {
        if (sameIgnoringCase(text, yes)) {
            return true;
        }
    }
    for (const std::string_view no : {"0", "no", "n", "false"}) {
        if (sameIgnoringCase(text, no)) {
            return false;
        }
    }
    return std::nullopt;
}

namespace {

struct Told {
    const char* code;
    const char* note;    // the row's warning, before the items
    const char* message; // on standard error, before the one item
};

Told told(SheetCheck::Kind kind)
{
    using Kind = SheetCheck::Kind;
    switch (kind) {
    case Kind::DogTwiceOnVisit:
        return {"dog_twice_on_visit", "Dogs entered twice for one visit, each counted once",
                "dog entered twice for one visit, counted once"};
    case Kind::DogOnTwoRows:
        return {"dog_on_two_rows", "Dogs on more than one row, their rows joined",
                "dog on more than one row of its block, the rows joined"};
    case Kind::DogSeenOnNoVisit:
        return {"dog_seen_on_no_visit", "Rows that see their dog on no visit, left out",
                "dog seen on no visit, left out"};
    case Kind::MarkedDiffers:
        return {"marked_differs",
                "Dogs marked on one sighting and not on another, counted as "
                "marked",
                "dog marked on one sighting and not on another, counted as marked"};
    case Kind::DogInTwoBlocks:
        return {"dog_in_two_blocks",
                "Dogs also entered under another block (a dog that moved, or a block mislabelled), "
                "counted in each block where seen",
                "dog also entered under another block, counted in each block where seen"};
    case Kind::RowUnread:
        return {"rows_unread", "Rows of this block that could not be read, so its tally lacks them",
                ""};
    case Kind::CellCut:
        return {"cell_cut", "Columns whose values in this block run past 64 KiB, the rest left out",
                "a column's values in this block run past 64 KiB, the rest left out"};
    }
    return {"", "", ""};
}

} // namespace

std::vector<Note> checkNotes(const std::vector<SheetCheck>& checks)
{
    std::vector<Note> notes;
    for (int k = 0; k <= static_cast<int>(SheetCheck::Kind::CellCut); ++k) {
        const auto kind = static_cast<SheetCheck::Kind>(k);
        std::string items;
        std::size_t count = 0;
        for (const SheetCheck& check : checks) {
            if (check.kind == kind && ++count <= kShownItems) {
                items += (items.empty() ? "" : ", ") + check.item;
            }
        }
        if (count > kShownItems) {
            items += " and " + std::to_string(count - kShownItems) + " more";
        }
        if (count > 0) {
            const Told t = told(kind);
            notes.push_back({t.code, std::string(t.note) + ": " + items + "."});
        }
    }
    return notes;
}

std::string checkMessage(const SheetCheck& check)
{
    const Told t = told(check.kind);
    return *t.message == '\0' ? std::string()
                              : "warning: " + std::string(t.message) + ": " + check.item;
}

SightingsTally::SightingsTally(ReplaySource& source, RecordReader& firstReading,
                               const SheetLayout& layout)
    : source_(source), first_(firstReading), layout_(layout)
{}

namespace {

constexpr std::size_t kFilterWords = std::size_t{1} << 19; // 4 MiB
constexpr std::uint64_t kFilterBitsPerDog = 4;

// The word of the filter a dog's hash falls in, and the bits it sets there: 6 bits of the hash
// each, from the part the word was not chosen by.
std::size_t filterWord(std::uint64_t hash)
{
    return static_cast<std::size_t>(hash & (kFilterWords - 1));
}

std::uint64_t filterBits(std::uint64_t hash)
{
    std::uint64_t bits = 0;
    for (std::uint64_t k = 0; k < kFilterBitsPerDog; ++k) {
        bits |= std::uint64_t{1} << ((hash >> (32 + 6 * k)) & 63);
    }
    return bits;
}

} // namespace

void SightingsTally::filterRun(std::vector<std::uint64_t>& run)
{
    // A dog seen twice in one run of its block is one dog; in two runs it may be two blocks'.
    std::sort(run.begin(), run.end());
    run.erase(std::unique(run.begin(), run.end()), run.end());
    for (const std::uint64_t hash : run) {
        const std::uint64_t bits = filterBits(hash);
        if ((filter_[filterWord(hash)] & bits) == bits) {
            suspects_.insert(hash);
        }
    }
    for (const std::uint64_t hash : run) {
        filter_[filterWord(hash)] |= filterBits(hash);
    }
    run.clear();
}

void SightingsTally::plan(RecordReader& records)
{
    // Which records belong to a block is decided here as on the second reading: a record of the
    // header's width whose block is named.
    filter_.assign(kFilterWords, 0);
    Record record;
    Plan* last = nullptr;
    std::string lastName;
    std::vector<std::uint64_t> run;
    std::uint64_t index = 0;
    while (records.next(record)) {
        ++index;
        if (!record.problem.empty() || record.fields.size() != layout_.fields) {
            continue;
        }
        const std::string& name = record.fields[layout_.block];
        if (name.empty()) {
            continue;
        }
        if (last == nullptr || name != lastName) {
            if (!unsorted_) {
                filterRun(run);
            }
            const auto [at, added] = plans_.try_emplace(name);
            if (added) {
                at->second.firstLine = record.line;
                at->second.ordinal = static_cast<std::uint32_t>(names_.size());
                names_.push_back(&at->first);
            } else if (!unsorted_) {
                // A block whose rows are apart: its dogs are held until its last row anyway, and
                // from here on every dog is checked on the second reading.
                unsorted_ = true;
                std::vector<std::uint64_t>().swap(filter_);
                std::unordered_set<std::uint64_t>().swap(suspects_);
            }
            last = &at->second;
            lastName = name;
        }
        last->lastRecord = index;
        ++last->rows;
        if (!unsorted_) {
            run.push_back(std::hash<std::string>()(record.fields[layout_.dog]));
        }
    }
    if (!unsorted_) {
        filterRun(run);
    }
    std::vector<std::uint64_t>().swap(filter_);
    // Every dog of an unsorted sheet gets a home, the suspects of a sorted one: their table sized
    // once, not grown a doubling at a time.
    homes_.reserve(unsorted_ ? index : suspects_.size());
    firstRecords_ = index;
    firstBytes_ = records.bytesRead();
}

std::optional<Row> SightingsTally::next()
{
    if (!planned_) {
        planned_ = true;
        plan(first_);
        source_.rewind();
        second_.emplace(source_);
        readHeader(*second_, layout_.separator);
    }
    while ((queue_.empty() || !queue_.front()) && !ended_) {
        if (!readRecord()) {
            ended_ = true;
            if (openBlocks_ != 0 || records_ != firstRecords_ ||
                second_->bytesRead() != firstBytes_) {
                changed();
            }
        }
    }
    if (queue_.empty()) {
        return std::nullopt;
    }
    std::optional<Row> row = std::move(queue_.front());
    queue_.pop_front();
    ++popped_;
    return row;
}

SightingsTally::OpenBlock& SightingsTally::open(Plan& plan)
{
    plan.open = std::make_unique<OpenBlock>();
    OpenBlock& block = *plan.open;
    block.slot = popped_ + queue_.size();
    block.line = plan.firstLine;
    block.own.resize(layout_.own.size());
    block.dogs.reserve(plan.rows);
    queue_.emplace_back();
    ++openBlocks_;
    return block;
}

void SightingsTally::blockValue(OpenBlock& block, std::optional<double>& held,
                                std::size_t& heldLine, std::optional<double> value,
                                std::string_view column, std::size_t line, const std::string& text)
{
    if (!value) {
        return;
    }
    if (!held) {
        held = value;
        heldLine = line;
    } else if (*held != *value) {
        addProblem(block.conflict, std::string(column) + " is " + shortest(*held) + " on line " +
                                       std::to_string(heldLine) + " but " + printable(text) +
                                       " on line " + std::to_string(line));
    }
}

void SightingsTally::sighting(OpenBlock& block, Dog& d, const std::string& dog, int visit,
                              std::size_t line)
{
    const auto bit = static_cast<std::uint8_t>(1u << (visit - 1));
    if ((d.seen & bit) != 0) {
        block.checks.push_back({SheetCheck::Kind::DogTwiceOnVisit, line,
                                printable(dog) + " on visit " + std::to_string(visit) + " (" +
                                    lines(d.visitLine[visit - 1], line) + ")"});
        return;
    }
    d.seen = static_cast<std::uint8_t>(d.seen | bit);
    d.visitLine[visit - 1] = line;
}

bool SightingsTally::readRecord()
{
    if (!second_->next(record_)) {
        return false;
    }
    ++records_;
    const Record& r = record_;
    const SheetLayout& at = layout_;
    if (!r.problem.empty() || r.fields.size() != at.fields) {
        RowError error{r.line,
                       at.block < r.fields.size() ? r.fields[at.block] : "",
                       r.problem.empty()
                           ? "the record has " + std::to_string(r.fields.size()) +
                                 " fields where the header has " + std::to_string(at.fields)
                           : r.problem,
                       {}};
        error.sighting = true;
        queue_.emplace_back(std::move(error));
        return true;
    }
    std::vector<std::string> own;
    own.reserve(at.own.size());
    for (const std::size_t column : at.own) {
        own.push_back(ownCell(r.fields[column], at.decimalComma));
    }
    const std::string& name = r.fields[at.block];
    const std::string& dog = r.fields[at.dog];
    std::string problems;
    if (name.empty()) {
        addProblem(problems, "block is missing");
    }
    if (dog.empty()) {
        addProblem(problems, "dog is missing");
    }
    if (name.empty()) {
        RowError error{r.line, name, problems, {}};
        error.sighting = true;
        error.own = std::move(own);
        queue_.emplace_back(std::move(error));
        return true;
    }

    if (lastPlan_ == nullptr || name != lastName_) {
        const auto found = plans_.find(name);
        if (found == plans_.end()) {
            changed();
        }
        lastPlan_ = &found->second;
        lastName_ = name;
    }
    Plan& plan = *lastPlan_;
    if (!plan.open) {
        if (plan.lastRecord < records_) {
            changed(); // a block whose rows ended already
        }
        open(plan);
    }
    OpenBlock* block = plan.open.get();
    if (at.stratum && block->stratumSeen.empty()) {
        block->stratumSeen = r.fields[*at.stratum];
    }

    int visit = 0;
    bool seen[3] = {};
    if (at.form == SheetForm::Sightings) {
        const std::string& text = r.fields[at.visit];
        const std::optional<double> value = text.size() == 1 && text[0] >= '1' && text[0] <= '3'
                                                ? std::optional<double>(text[0] - '0')
                                                : readNumber(text, at.decimalComma);
        if (text.empty()) {
            addProblem(problems, "visit is missing");
        } else if (!value || (*value != 1.0 && *value != 2.0 && *value != 3.0)) {
            addProblem(problems, named(kVisitColumn, " is not 1, 2 or 3: ", text));
        } else {
            visit = static_cast<int>(*value);
        }
    } else {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::string& text = r.fields[at.visits[k]];
            const std::optional<bool> value = readYesNo(text, true);
            if (!value) {
                addProblem(problems,
                           named(kVisitColumns[k], " is not 1, 0, yes, no, x or blank: ", text));
            } else {
                seen[k] = *value;
            }
        }
    }
    std::optional<bool> marked;
    if (at.marked && !r.fields[*at.marked].empty()) {
        const std::string& text = r.fields[*at.marked];
        marked = readYesNo(text, false);
        if (!marked) {
            addProblem(problems,
                       named(kMarkedColumn, " is not yes, no, y, n, 1, 0, true or false: ", text));
        }
    }
    std::optional<double> count;
    if (at.count && !r.fields[*at.count].empty()) {
        const std::string& text = r.fields[*at.count];
        count = readNumber(text, at.decimalComma);
        if (!count) {
            addProblem(problems, named(kCountColumn, " is not a number: ", text));
        } else if (*count < 0.0) {
            addProblem(problems, named(kCountColumn, " is negative: ", text));
        }
    }
    std::optional<double> sFixed;
    if (at.sFixed && !r.fields[*at.sFixed].empty()) {
        const std::string& text = r.fields[*at.sFixed];
        sFixed = readNumber(text, at.decimalComma);
        if (!sFixed) {
            addProblem(problems, named(kSFixedColumn, " is not a number: ", text));
        } else if (!(*sFixed > 0.0 && *sFixed <= 1.0)) {
            addProblem(problems, named(kSFixedColumn, " must lie above 0 and at most 1: ", text));
        }
    }

    if (!problems.empty()) {
        RowError error{r.line, name, problems, {}};
        error.sighting = true;
        error.own = std::move(own);
        queue_.emplace_back(std::move(error));
        block->checks.push_back(
            {SheetCheck::Kind::RowUnread, r.line, "line " + std::to_string(r.line)});
        block->unreadLines += (block->unreadLines.empty() ? "" : ", ") + std::to_string(r.line);
    } else {
        ++block->rowsRead;
        if (at.stratum && !r.fields[*at.stratum].empty()) {
            const std::string& stratum = r.fields[*at.stratum];
            if (block->stratum.empty()) {
                block->stratum = stratum;
                block->stratumLine = r.line;
            } else if (stratum != block->stratum) {
                addProblem(block->conflict, "stratum is " + printable(block->stratum) +
                                                " on line " + std::to_string(block->stratumLine) +
                                                " but " + printable(stratum) + " on line " +
                                                std::to_string(r.line));
            }
        }
        if (at.count) {
            blockValue(*block, block->count, block->countLine, count, kCountColumn, r.line,
                       r.fields[*at.count]);
        }
        if (at.sFixed) {
            blockValue(*block, block->sFixed, block->sFixedLine, sFixed, kSFixedColumn, r.line,
                       r.fields[*at.sFixed]);
        }

        const auto [entry, added] = block->dogs.try_emplace(dog);
        Dog& d = entry->second;
        if (added) {
            d.line = r.line;
        }
        if (at.form == SheetForm::Sightings) {
            sighting(*block, d, dog, visit, r.line);
        } else {
            if (!added) {
                block->checks.push_back({SheetCheck::Kind::DogOnTwoRows, r.line,
                                         printable(dog) + " (" + lines(d.line, r.line) + ")"});
            }
            if (!seen[0] && !seen[1] && !seen[2]) {
                block->checks.push_back(
                    {SheetCheck::Kind::DogSeenOnNoVisit, r.line,
                     printable(dog) + " (line " + std::to_string(r.line) + ")"});
            }
            for (int k = 0; k < 3; ++k) {
                if (seen[k]) {
                    sighting(*block, d, dog, k + 1, r.line);
                }
            }
        }
        if (marked) {
            std::size_t& said = *marked ? d.yesLine : d.noLine;
            said = said == 0 ? r.line : said;
            if (d.yesLine != 0 && d.noLine != 0 && !d.differsTold) {
                d.differsTold = true;
                block->checks.push_back({SheetCheck::Kind::MarkedDiffers, r.line,
                                         printable(dog) + " (yes on line " +
                                             std::to_string(d.yesLine) + ", no on line " +
                                             std::to_string(d.noLine) + ")"});
            }
        }

        // The survey's own columns: each distinct value once, in the order first seen.
        for (std::size_t k = 0; k < own.size(); ++k) {
            OwnValues& values = block->own[k];
            std::string& value = own[k];
            if (value.empty() || value == values.last || values.cut) {
                continue;
            }
            if (values.values.insert(value).second) {
                if (values.joined.size() + value.size() + 3 > kOwnCellBytes) {
                    values.cut = true;
                    block->checks.push_back({SheetCheck::Kind::CellCut, r.line,
                                             printable(at.ownNames[k]) + " (from line " +
                                                 std::to_string(r.line) + ")"});
                    continue;
                }
                values.joined += values.joined.empty() ? "" : " | ";
                values.joined += value;
            }
            values.last = std::move(value);
        }
    }
    if (plan.lastRecord == records_) {
        finish(name, plan);
    }
    return true;
}

void SightingsTally::finish(const std::string& name, Plan& plan)
{
    OpenBlock& b = *plan.open;
    std::optional<Row>& slot = queue_[b.slot - popped_];
    std::vector<std::string> own;
    own.reserve(b.own.size());
    for (OwnValues& values : b.own) {
        own.push_back(std::move(values.joined));
    }
    if (b.rowsRead == 0) {
        RowError error{
            b.line, name,
            "no row of this block could be read (" +
                std::string(b.unreadLines.find(',') == std::string::npos ? "line " : "lines ") +
                b.unreadLines + ")",
            b.stratumSeen};
        slot = std::move(error);
    } else if (!b.conflict.empty()) {
        RowError error{b.line, name, b.conflict, b.stratum};
        error.own = std::move(own);
        slot = std::move(error);
    } else {
        BlockRow row;
        row.line = b.line;
        row.block = name;
        row.stratum = b.stratum;
        row.sFixed = b.sFixed;
        std::int64_t seen[3] = {};
        std::int64_t newDogs = 0;
        std::int64_t marked = 0;
        for (const auto& [dogName, d] : b.dogs) {
            if (d.seen == 0) {
                continue;
            }
            for (std::size_t k = 0; k < 3; ++k) {
                seen[k] += (d.seen >> k) & 1;
            }
            if ((d.seen & 1) == 0) {
                ++newDogs;
            } else {
                // By the second and third counts: neither, both, the third only, the second only.
                switch (d.seen >> 1) {
                case 0:
                    ++row.counts.n100;
                    break;
                case 3:
                    ++row.counts.n111;
                    break;
                case 2:
                    ++row.counts.n101;
                    break;
                default:
                    ++row.counts.n110;
                    break;
                }
                marked += d.yesLine != 0 ? 1 : 0;
            }
            const std::uint64_t hash = std::hash<std::string>()(dogName);
            if (!unsorted_ && !suspects_.contains(hash)) {
                continue;
            }
            const auto [home, added] = homes_.try_emplace(hash, Home{plan.ordinal, d.line});
            if (!added && home->second.ordinal != plan.ordinal) {
                b.checks.push_back({SheetCheck::Kind::DogInTwoBlocks, d.line,
                                    printable(dogName) + " (line " + std::to_string(d.line) +
                                        "; also in block " +
                                        printable(*names_[home->second.ordinal]) + ", line " +
                                        std::to_string(home->second.line) + ")"});
            }
        }
        row.count = b.count.value_or(static_cast<double>(seen[0]));
        if (layout_.marked) {
            row.marked = marked;
        }
        for (std::size_t k = 0; k < 3; ++k) {
            row.seen[k] = seen[k];
        }
        row.newDogs = newDogs;
        row.own = std::move(own);
        std::stable_sort(b.checks.begin(), b.checks.end(),
                         [](const SheetCheck& x, const SheetCheck& y) { return x.line < y.line; });
        row.checks = std::move(b.checks);
        slot = std::move(row);
    }
    plan.open.reset();
    --openBlocks_;
}

} // namespace kestrum::survey
