#include "Sightings.h"

#include "FloatChars.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

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

namespace {

// A 64-bit hash of a name on every platform (std::hash has 32 bits where size_t has, too few to
// tell every dog of a large survey apart), its low bits as good as its high ones.
std::uint64_t nameHash(std::string_view name)
{
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
    const auto mix = [](std::uint64_t h) { // splitmix64's finish
        h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9u;
        h = (h ^ (h >> 27)) * 0x94D049BB133111EBu;
        return h ^ (h >> 31);
    };
    std::uint64_t h = name.size() * kMultiplier;
    std::size_t k = 0;
    for (; k + 8 <= name.size(); k += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, name.data() + k, 8);
        h = std::rotl(h ^ word, 27) * kMultiplier;
    }
    std::uint64_t tail = 0;
    if (k < name.size()) {
        std::memcpy(&tail, name.data() + k, name.size() - k);
    }
    return mix(h ^ tail);
}

// Numbers of 7 bits a byte, the last byte's high bit clear: a line, a name's length.
char* putNumber(char* out, std::uint64_t value)
{
    for (; value >= 0x80; value >>= 7) {
        *out++ = static_cast<char>(value | 0x80);
    }
    *out++ = static_cast<char>(value);
    return out;
}

std::uint64_t getNumber(const char*& at)
{
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        value |= std::uint64_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) {
            return value;
        }
    }
}

} // namespace

void SightingsTally::HashIndex::reset(std::size_t entries)
{
    std::size_t slots = 16;
    while (slots < 2 * entries) {
        slots *= 2;
    }
    slots_.assign(slots, Slot{});
    size_ = 0;
}

template <class Same, class HashOf>
std::uint32_t SightingsTally::HashIndex::findOrAdd(std::uint64_t hash, std::uint32_t entry,
                                                   Same same, HashOf hashOf)
{
    if (2 * (size_ + 1) > slots_.size()) {
        std::vector<Slot> old(std::max<std::size_t>(16, 2 * slots_.size()));
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.entry != kNone) {
                std::size_t at = static_cast<std::size_t>(hashOf(slot.entry)) & mask;
                while (slots_[at].entry != kNone) {
                    at = (at + 1) & mask;
                }
                slots_[at] = slot;
            }
        }
    }
    const std::size_t mask = slots_.size() - 1;
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    for (std::size_t at = static_cast<std::size_t>(hash) & mask;; at = (at + 1) & mask) {
        Slot& slot = slots_[at];
        if (slot.entry == kNone) {
            slot = {tag, entry};
            ++size_;
            return entry;
        }
        if (slot.tag == tag && same(slot.entry)) {
            return slot.entry;
        }
    }
}

std::uint32_t SightingsTally::ChunkChains::next(std::uint32_t n) const
{
    std::uint32_t following = 0;
    std::memcpy(&following, chunk(n), sizeof following);
    return following;
}

void SightingsTally::ChunkChains::setNext(std::uint32_t n, std::uint32_t following)
{
    std::memcpy(chunk(n), &following, sizeof following);
}

void SightingsTally::ChunkChains::append(Chain& chain, std::string_view bytes)
{
    constexpr std::size_t kRoom = kChunkBytes - sizeof(std::uint32_t);
    while (!bytes.empty()) {
        if (chain.last == kNoChunk || chain.used == kRoom) {
            std::uint32_t n = free_;
            if (n != kNoChunk) {
                free_ = next(n);
            } else {
                if (made_ % kSlabChunks == 0) {
                    slabs_.push_back(std::make_unique<char[]>(kSlabChunks * kChunkBytes));
                }
                n = made_++;
            }
            setNext(n, kNoChunk);
            if (chain.last == kNoChunk) {
                chain.first = n;
            } else {
                setNext(chain.last, n);
            }
            chain.last = n;
            chain.used = 0;
        }
        const std::size_t part = std::min(bytes.size(), kRoom - chain.used);
        std::memcpy(chunk(chain.last) + sizeof(std::uint32_t) + chain.used, bytes.data(), part);
        chain.used += static_cast<std::uint32_t>(part);
        bytes.remove_prefix(part);
    }
}

void SightingsTally::ChunkChains::take(Chain& chain, std::string& out)
{
    constexpr std::size_t kRoom = kChunkBytes - sizeof(std::uint32_t);
    for (std::uint32_t n = chain.first; n != kNoChunk;) {
        const std::uint32_t following = next(n);
        out.append(chunk(n) + sizeof(std::uint32_t), n == chain.last ? chain.used : kRoom);
        setNext(n, free_);
        free_ = n;
        n = following;
    }
    chain = Chain{};
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

// The cells of the survey's own columns as they travel.
std::vector<std::string> ownCells(const Record& record, const SheetLayout& layout)
{
    std::vector<std::string> own;
    own.reserve(layout.own.size());
    for (const std::size_t column : layout.own) {
        own.push_back(ownCell(record.fields[column], layout.decimalComma));
    }
    return own;
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
    blockIndex_.reset(0);
    Record record;
    std::uint32_t last = kNone;
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
        if (last == kNone || name != blockName(last)) {
            if (!unsorted_) {
                filterRun(run);
            }
            const auto added = static_cast<std::uint32_t>(plans_.size());
            last = blockIndex_.findOrAdd(
                nameHash(name), added,
                [&](std::uint32_t block) { return blockName(block) == name; },
                [&](std::uint32_t block) { return nameHash(blockName(block)); });
            if (last == added) {
                Plan& plan = plans_.emplace_back();
                plan.firstLine = record.line;
                plan.nameAt = blockNames_.size();
                plan.nameSize = static_cast<std::uint32_t>(name.size());
                blockNames_ += name;
            } else {
                // A block whose rows are apart: its rows are kept until its last on the second
                // reading, and from here on every dog is checked there against every block.
                plans_[last].apart = true;
                if (!unsorted_) {
                    unsorted_ = true;
                    std::vector<std::uint64_t>().swap(filter_);
                    std::unordered_set<std::uint64_t>().swap(suspects_);
                }
            }
        }
        if (runs_.empty() || runs_.back().block != last ||
            runs_.back().rows == std::numeric_limits<std::uint32_t>::max()) {
            runs_.push_back({last, 0});
        }
        ++runs_.back().rows;
        Plan& plan = plans_[last];
        plan.lastRecord = index;
        ++plan.rows;
        if (!unsorted_) {
            run.push_back(nameHash(record.fields[layout_.dog]));
        }
    }
    if (!unsorted_) {
        filterRun(run);
    }
    std::vector<std::uint64_t>().swap(filter_);
    blockIndex_ = HashIndex();
    // Every dog of an unsorted sheet gets a home, the suspects of a sorted one.
    homeIndex_.reset(unsorted_ ? 0 : suspects_.size());
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

void SightingsTally::blockValue(std::optional<double>& held, std::size_t& heldLine,
                                std::optional<double> value, std::string_view column,
                                std::size_t line, std::string_view text)
{
    if (!value) {
        return;
    }
    if (!held) {
        held = value;
        heldLine = line;
    } else if (*held != *value) {
        addProblem(block_.conflict, std::string(column) + " is " + shortest(*held) + " on line " +
                                        std::to_string(heldLine) + " but " + printable(text) +
                                        " on line " + std::to_string(line));
    }
}

void SightingsTally::startBlock(std::size_t rows)
{
    block_ = BlockTally{};
    block_.own.resize(layout_.own.size());
    dogs_.clear();
    dogNames_.clear();
    dogIndex_.reset(rows);
}

void SightingsTally::sighting(Dog& d, std::string_view dog, int visit, std::size_t line)
{
    const auto bit = static_cast<std::uint8_t>(1u << (visit - 1));
    if ((d.seen & bit) != 0) {
        block_.checks.push_back({SheetCheck::Kind::DogTwiceOnVisit, line,
                                 printable(dog) + " on visit " + std::to_string(visit) + " (" +
                                     lines(d.visitLine[visit - 1], line) + ")"});
        return;
    }
    d.seen = static_cast<std::uint8_t>(d.seen | bit);
    d.visitLine[visit - 1] = line;
}

SightingsTally::Reading SightingsTally::reading(const Fields& f) const
{
    const SheetLayout& at = layout_;
    Reading said;
    if (f[at.dog].empty()) {
        addProblem(said.problems, "dog is missing");
    }
    if (at.form == SheetForm::Sightings) {
        const std::string_view text = f[at.visit];
        const std::optional<double> value = text.size() == 1 && text[0] >= '1' && text[0] <= '3'
                                                ? std::optional<double>(text[0] - '0')
                                                : readNumber(text, at.decimalComma);
        if (text.empty()) {
            addProblem(said.problems, "visit is missing");
        } else if (!value || (*value != 1.0 && *value != 2.0 && *value != 3.0)) {
            addProblem(said.problems, named(kVisitColumn, " is not 1, 2 or 3: ", text));
        } else {
            said.visits = static_cast<std::uint8_t>(1u << (static_cast<int>(*value) - 1));
        }
    } else {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::string_view text = f[at.visits[k]];
            const std::optional<bool> value = readYesNo(text, true);
            if (!value) {
                addProblem(said.problems,
                           named(kVisitColumns[k], " is not 1, 0, yes, no, x or blank: ", text));
            } else if (*value) {
                said.visits = static_cast<std::uint8_t>(said.visits | 1u << k);
            }
        }
    }
    if (at.marked && !f[*at.marked].empty()) {
        const std::string_view text = f[*at.marked];
        const std::optional<bool> marked = readYesNo(text, false);
        if (!marked) {
            addProblem(said.problems,
                       named(kMarkedColumn, " is not yes, no, y, n, 1, 0, true or false: ", text));
        } else {
            said.marked = *marked ? 1 : 2;
        }
    }
    if (at.count && !f[*at.count].empty()) {
        const std::string_view text = f[*at.count];
        said.count = readNumber(text, at.decimalComma);
        if (!said.count) {
            addProblem(said.problems, named(kCountColumn, " is not a number: ", text));
        } else if (*said.count < 0.0) {
            addProblem(said.problems, named(kCountColumn, " is negative: ", text));
        }
    }
    if (at.sFixed && !f[*at.sFixed].empty()) {
        const std::string_view text = f[*at.sFixed];
        said.sFixed = readNumber(text, at.decimalComma);
        if (!said.sFixed) {
            addProblem(said.problems, named(kSFixedColumn, " is not a number: ", text));
        } else if (!(*said.sFixed > 0.0 && *said.sFixed <= 1.0)) {
            addProblem(said.problems,
                       named(kSFixedColumn, " must lie above 0 and at most 1: ", text));
        }
    }
    return said;
}

void SightingsTally::tallyRow(std::size_t line, const Fields& f, const Reading& said)
{
    const SheetLayout& at = layout_;
    BlockTally& block = block_;
    if (at.stratum && block.stratumSeen.empty()) {
        block.stratumSeen = f[*at.stratum];
    }
    if (!said.problems.empty()) {
        block.checks.push_back({SheetCheck::Kind::RowUnread, line, "line " + std::to_string(line)});
        block.unreadLines += (block.unreadLines.empty() ? "" : ", ") + std::to_string(line);
        return;
    }
    ++block.rowsRead;
    if (at.stratum && !f[*at.stratum].empty()) {
        const std::string_view stratum = f[*at.stratum];
        if (block.stratum.empty()) {
            block.stratum = stratum;
            block.stratumLine = line;
        } else if (stratum != block.stratum) {
            addProblem(block.conflict, "stratum is " + printable(block.stratum) + " on line " +
                                           std::to_string(block.stratumLine) + " but " +
                                           printable(stratum) + " on line " + std::to_string(line));
        }
    }
    if (at.count) {
        blockValue(block.count, block.countLine, said.count, kCountColumn, line, f[*at.count]);
    }
    if (at.sFixed) {
        blockValue(block.sFixed, block.sFixedLine, said.sFixed, kSFixedColumn, line, f[*at.sFixed]);
    }
    tallyDog(line, f[at.dog], said);

    // The survey's own columns: each distinct value once, in the order first seen.
    for (std::size_t k = 0; k < at.own.size(); ++k) {
        OwnValues& values = block.own[k];
        std::string_view value = f[at.own[k]];
        if (value.empty() || values.cut) {
            continue;
        }
        if (at.decimalComma && value.find(',') != std::string_view::npos) {
            ownCell_ = ownCell(std::string(value), true);
            value = ownCell_;
        }
        if (value == values.last) {
            continue;
        }
        if (values.values.emplace(value).second) {
            if (values.joined.size() + value.size() + 3 > kOwnCellBytes) {
                values.cut = true;
                block.checks.push_back(
                    {SheetCheck::Kind::CellCut, line,
                     printable(at.ownNames[k]) + " (from line " + std::to_string(line) + ")"});
                continue;
            }
            values.joined += values.joined.empty() ? "" : " | ";
            values.joined += value;
        }
        values.last = value;
    }
}

void SightingsTally::tallyDog(std::size_t line, std::string_view dog, const Reading& said)
{
    const std::uint64_t hash = nameHash(dog);
    const auto next = static_cast<std::uint32_t>(dogs_.size());
    const std::uint32_t at = dogIndex_.findOrAdd(
        hash, next, [&](std::uint32_t other) { return dogName(dogs_[other]) == dog; },
        [&](std::uint32_t other) { return dogs_[other].hash; });
    const bool added = at == next;
    if (added) {
        Dog& d = dogs_.emplace_back();
        d.hash = hash;
        d.nameAt = dogNames_.size();
        d.nameSize = static_cast<std::uint32_t>(dog.size());
        d.line = line;
        dogNames_ += dog;
    }
    Dog& d = dogs_[at];
    if (layout_.form == SheetForm::Sightings) {
        sighting(d, dog, std::countr_zero(said.visits) + 1, line);
    } else {
        if (!added) {
            block_.checks.push_back({SheetCheck::Kind::DogOnTwoRows, line,
                                     printable(dog) + " (" + lines(d.line, line) + ")"});
        }
        if (said.visits == 0) {
            block_.checks.push_back({SheetCheck::Kind::DogSeenOnNoVisit, line,
                                     printable(dog) + " (line " + std::to_string(line) + ")"});
        }
        for (int k = 0; k < 3; ++k) {
            if ((said.visits >> k & 1) != 0) {
                sighting(d, dog, k + 1, line);
            }
        }
    }
    if (said.marked != 0) {
        std::size_t& noted = said.marked == 1 ? d.yesLine : d.noLine;
        noted = noted == 0 ? line : noted;
        if (d.yesLine != 0 && d.noLine != 0 && !d.differsTold) {
            d.differsTold = true;
            block_.checks.push_back({SheetCheck::Kind::MarkedDiffers, line,
                                     printable(dog) + " (yes on line " + std::to_string(d.yesLine) +
                                         ", no on line " + std::to_string(d.noLine) + ")"});
        }
    }
}

void SightingsTally::keepRow(Plan& plan, std::size_t line, const Fields& fields)
{
    // Its line, then every field but the block's, each after its length.
    char number[16];
    const auto put = [&](std::uint64_t value) {
        keptRow_.append(number, static_cast<std::size_t>(putNumber(number, value) - number));
    };
    keptRow_.clear();
    put(line);
    for (std::size_t k = 0; k < fields.size(); ++k) {
        if (k != layout_.block) {
            put(fields[k].size());
            keptRow_ += fields[k];
        }
    }
    kept_.append(plan.kept, keptRow_);
}

void SightingsTally::tallyKept(Plan& plan, std::uint32_t index)
{
    keptRows_.clear();
    kept_.take(plan.kept, keptRows_);
    startBlock(plan.rows);
    fields_.assign(layout_.fields, std::string_view());
    fields_[layout_.block] = blockName(index);
    for (const char* at = keptRows_.data(); at != keptRows_.data() + keptRows_.size();) {
        const auto line = static_cast<std::size_t>(getNumber(at));
        for (std::size_t k = 0; k < fields_.size(); ++k) {
            if (k != layout_.block) {
                const auto size = static_cast<std::size_t>(getNumber(at));
                fields_[k] = std::string_view(at, size);
                at += size;
            }
        }
        tallyRow(line, fields_, reading(fields_));
    }
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
    const std::string& name = r.fields[at.block];
    if (name.empty()) {
        RowError error{r.line,
                       name,
                       r.fields[at.dog].empty() ? "block is missing; dog is missing"
                                                : "block is missing",
                       {}};
        error.sighting = true;
        error.own = ownCells(r, at);
        queue_.emplace_back(std::move(error));
        return true;
    }

    if (runLeft_ == 0) {
        if (run_ == runs_.size()) {
            changed();
        }
        runLeft_ = runs_[run_++].rows;
    }
    --runLeft_;
    const std::uint32_t index = runs_[run_ - 1].block;
    if (name != blockName(index)) {
        changed();
    }
    Plan& plan = plans_[index];
    if (!plan.open) {
        if (plan.lastRecord < records_) {
            changed(); // a block whose rows ended already
        }
        if (!plan.apart) {
            if (tallying_ != kNone) {
                changed(); // rows that lay together on the first reading do not now
            }
            tallying_ = index;
            startBlock(plan.rows);
        }
        plan.open = true;
        plan.slot = popped_ + queue_.size();
        queue_.emplace_back();
        ++openBlocks_;
    }

    fields_.assign(r.fields.begin(), r.fields.end());
    const Reading said = reading(fields_);
    if (!said.problems.empty()) {
        RowError error{r.line, name, said.problems, {}};
        error.sighting = true;
        error.own = ownCells(r, at);
        queue_.emplace_back(std::move(error));
    }
    if (plan.apart) {
        keepRow(plan, r.line, fields_);
    } else {
        tallyRow(r.line, fields_, said);
    }
    if (plan.lastRecord == records_) {
        finish(index);
    }
    return true;
}

void SightingsTally::finish(std::uint32_t index)
{
    Plan& plan = plans_[index];
    if (plan.apart) {
        if (tallying_ != kNone) {
            changed(); // its rows among those of a block whose rows lay together
        }
        tallyKept(plan, index);
    }
    tallying_ = kNone;
    BlockTally& b = block_;
    std::optional<Row>& slot = queue_[plan.slot - popped_];
    std::vector<std::string> own;
    own.reserve(b.own.size());
    for (OwnValues& values : b.own) {
        own.push_back(std::move(values.joined));
    }
    const std::string name(blockName(index));
    if (b.rowsRead == 0) {
        RowError error{
            plan.firstLine, name,
            "no row of this block could be read (" +
                std::string(b.unreadLines.find(',') == std::string::npos ? "line " : "lines ") +
                b.unreadLines + ")",
            b.stratumSeen};
        slot = std::move(error);
    } else if (!b.conflict.empty()) {
        RowError error{plan.firstLine, name, b.conflict, b.stratum};
        error.own = std::move(own);
        slot = std::move(error);
    } else {
        BlockRow row;
        row.line = plan.firstLine;
        row.block = name;
        row.stratum = b.stratum;
        row.sFixed = b.sFixed;
        std::int64_t seen[3] = {};
        std::int64_t newDogs = 0;
        std::int64_t marked = 0;
        for (const Dog& d : dogs_) {
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
            if (!unsorted_ && !suspects_.contains(d.hash)) {
                continue;
            }
            const auto added = static_cast<std::uint32_t>(homes_.size());
            const std::uint32_t home = homeIndex_.findOrAdd(
                d.hash, added, [&](std::uint32_t h) { return homes_[h].hash == d.hash; },
                [&](std::uint32_t h) { return homes_[h].hash; });
            if (home == added) {
                homes_.push_back({d.hash, index, d.line});
            } else if (homes_[home].block != index) {
                b.checks.push_back({SheetCheck::Kind::DogInTwoBlocks, d.line,
                                    printable(dogName(d)) + " (line " + std::to_string(d.line) +
                                        "; also in block " +
                                        printable(blockName(homes_[home].block)) + ", line " +
                                        std::to_string(homes_[home].line) + ")"});
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
    plan.open = false;
    --openBlocks_;
}

} // namespace kestrum::survey
