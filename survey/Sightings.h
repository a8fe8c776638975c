// A sheet of sightings tallied into blocks: the form field teams fill in, one row per dog seen on a
// count (block, dog, visit) or one row per dog (block, dog, visit1, visit2, visit3). Each block's
// dogs seen on the first count fall into the four histories by the second and third counts; dogs
// first seen later are counted apart. What the sheet gets wrong (a dog entered twice for a visit,
// the same dog under two blocks, marks that differ) is counted as the SheetCheck says and told.
//
// Memory: a block's dogs are held only until its last row, so a sheet sorted by block needs the
// dogs of one block at a time, and any other the rows of the blocks still open. To know where each
// block ends the sheet is read twice: first the block and dog columns alone, then everything. A
// regular file is read again from its start; anything else (a pipe) is kept in a temporary file on
// its first reading. A block whose rows lie together is tallied row by row; one whose rows lie
// apart keeps them, compactly, until its last and is tallied from them then, so that the work of
// tallying stays within one block's memory instead of jumping from block to block with each row.
// Across blocks, the check of a dog entered under two blocks keeps, for a sheet sorted by block, a
// Bloom filter of fixed size on the first reading (4 MiB) and on the second only the dogs it flags,
// each checked exactly; for any other sheet a hash of every dog's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "SurveyReader.h"

namespace kestrum::survey {

// The input's bytes, kept for a second reading once the header says they are sightings. Until
// keep() or forget() it holds what it reads in memory: the header and what was read with it.
class ReplaySource final : public ByteSource {
public:
    explicit ReplaySource(ByteSource& source) : source_(source) {}
    ~ReplaySource() override;
    ReplaySource(const ReplaySource&) = delete;
    ReplaySource& operator=(const ReplaySource&) = delete;

    std::size_t read(char* buffer, std::size_t size) override;
    bool rewindable() const override { return true; }
    // Back to the first byte: the source rewound where it can be, else the temporary file.
    // Throws InputError when that fails.
    void rewind() override;

    // Everything read from here on (and before) can be read again. Throws InputError when no
    // temporary file can be made.
    void keep();
    // Nothing needs reading again: what is held goes.
    void forget();

private:
    enum class Mode { Holding, Passing, Spooling, Replaying };

    ByteSource& source_;
    Mode mode_ = Mode::Holding;
    std::string held_;
    int fd_ = -1; // the temporary file, gone from its folder as soon as it is made
};

// Yes or no as a sheet writes it: yes, no, y, n, 1, 0, true, false in any case; for a visit of a
// sheet of one row per dog also x (seen) and blank (not seen). Empty when the text is none of
// them; for marked, blank is "not said" and also empty, told apart by the caller.
std::optional<bool> readYesNo(std::string_view text, bool xAndBlank);

// The checks of a block as the warnings of its row: one sentence for each kind, naming the first
// few. RowUnread is told as its own error row and only noted here.
std::vector<Note> checkNotes(const std::vector<SheetCheck>& checks);
// One check as told after "<file>:<line>: "; empty for RowUnread.
std::string checkMessage(const SheetCheck& check);

// Values of one of the survey's own columns in a block, joined by " | ", up to this many bytes.
inline constexpr std::size_t kOwnCellBytes = std::size_t{64} << 10;

class SightingsTally {
public:
    // firstReading: the reader of the sheet, past its header. layout: a form of sightings.
    SightingsTally(ReplaySource& source, RecordReader& firstReading, const SheetLayout& layout);

    // As SurveyReader::next().
    std::optional<Row> next();
    std::uint64_t bytesRead() const { return second_ ? second_->bytesRead() : 0; }

private:
    // Entries found by a 64-bit hash of their key: open addressing, probed in order. A slot holds
    // the upper half of the hash, so that other keys are mostly passed over without reading their
    // entry, and the entry's number; the caller keeps the entries and says which one is the key.
    class HashIndex {
    public:
        static constexpr std::uint32_t kNone = 0xFFFFFFFF;

        // Empty, with room for this many entries before it grows.
        void reset(std::size_t entries);
        // The entry of this hash for which same(entry) holds; when none does, entry, added.
        // hashOf(entry): the hash of an entry added before, for growing.
        template <class Same, class HashOf>
        std::uint32_t findOrAdd(std::uint64_t hash, std::uint32_t entry, Same same, HashOf hashOf);

    private:
        struct Slot {
            std::uint32_t tag = 0;
            std::uint32_t entry = kNone;
        };
        std::vector<Slot> slots_;
        std::size_t size_ = 0;
    };

    // Bytes appended to many chains at once, each chain taken whole when it ends: the rows of the
    // blocks whose rows lie apart. The chains share the chunks of one pool, reused as they are
    // taken, so that neither a row nor a block costs an allocation of its own.
    class ChunkChains {
    public:
        static constexpr std::uint32_t kNoChunk = 0xFFFFFFFF;
        struct Chain {
            std::uint32_t first = kNoChunk;
            std::uint32_t last = kNoChunk;
            std::uint32_t used = 0; // bytes of the last chunk
        };

        void append(Chain& chain, std::string_view bytes);
        // The chain's bytes after those of out; its chunks go back to the pool.
        void take(Chain& chain, std::string& out);

    private:
        static constexpr std::size_t kChunkBytes = 256; // the first 4: the number of the next
        static constexpr std::size_t kSlabChunks = 4096;

        char* chunk(std::uint32_t n) const
        {
            return slabs_[n / kSlabChunks].get() + std::size_t{n % kSlabChunks} * kChunkBytes;
        }
        std::uint32_t next(std::uint32_t n) const;
        void setNext(std::uint32_t n, std::uint32_t next);

        std::vector<std::unique_ptr<char[]>> slabs_;
        std::uint32_t free_ = kNoChunk;
        std::uint32_t made_ = 0;
    };

    static constexpr std::uint32_t kNone = HashIndex::kNone;

    // A record of the header's width, field by field: as read, or as kept.
    using Fields = std::vector<std::string_view>;
    // What a row says, read on its own.
    struct Reading {
        std::string problems;    // why it cannot be read; empty when it can
        std::uint8_t visits = 0; // bit k: seen on visit k + 1
        std::uint8_t marked = 0; // 0: not said, 1: yes, 2: no
        std::optional<double> count;
        std::optional<double> sFixed;
    };
    struct Dog {
        std::uint64_t hash = 0;
        std::size_t nameAt = 0; // in dogNames_
        std::uint32_t nameSize = 0;
        std::uint8_t seen = 0; // bit k: seen on visit k + 1
        bool differsTold = false;
        std::size_t line = 0; // its first row
        std::size_t visitLine[3] = {};
        std::size_t yesLine = 0; // the first row that says it is marked, and not marked
        std::size_t noLine = 0;
    };
    struct OwnValues {
        std::string joined;
        std::string last;
        std::unordered_set<std::string> values;
        bool cut = false;
    };
    // The block being tallied; its dogs are apart, in dogs_.
    struct BlockTally {
        std::uint64_t rowsRead = 0;
        std::string stratum;
        std::size_t stratumLine = 0;
        std::string stratumSeen; // on any row, read or not: where a block none of whose rows
                                 // could be read was sampled
        std::optional<double> count;
        std::size_t countLine = 0;
        std::optional<double> sFixed;
        std::size_t sFixedLine = 0;
        std::string conflict; // block values that differ between its rows
        std::string unreadLines;
        std::vector<OwnValues> own;
        std::vector<SheetCheck> checks;
    };
    // Where each block's rows begin and end, from the first reading; while it is open, its place
    // among the rows and, when its rows lie apart, those read so far.
    struct Plan {
        std::size_t firstLine = 0;
        std::uint64_t lastRecord = 0;
        std::size_t nameAt = 0; // in blockNames_
        std::size_t slot = 0;   // in the queue of rows, counted from the first row ever queued
        std::uint32_t nameSize = 0;
        std::uint32_t rows = 0; // an upper bound on its dogs, to size their table once
        ChunkChains::Chain kept;
        bool apart = false; // another block's rows lie between two of its own
        bool open = false;
    };

    std::string_view blockName(std::uint32_t block) const
    {
        return {blockNames_.data() + plans_[block].nameAt, plans_[block].nameSize};
    }
    std::string_view dogName(const Dog& dog) const
    {
        return {dogNames_.data() + dog.nameAt, dog.nameSize};
    }

    void plan(RecordReader& records);
    // The dogs of a run of rows of one block into the filter; those it had seen become suspects.
    void filterRun(std::vector<std::uint64_t>& run);
    bool readRecord();
    Reading reading(const Fields& fields) const;
    // The block about to be tallied, which has at most this many dogs.
    void startBlock(std::size_t rows);
    void tallyRow(std::size_t line, const Fields& fields, const Reading& said);
    void tallyDog(std::size_t line, std::string_view dog, const Reading& said);
    void sighting(Dog& d, std::string_view dog, int visit, std::size_t line);
    // A row of a block whose rows lie apart, kept until its last.
    void keepRow(Plan& plan, std::size_t line, const Fields& fields);
    void tallyKept(Plan& plan, std::uint32_t index);
    void finish(std::uint32_t index);
    void blockValue(std::optional<double>& held, std::size_t& heldLine, std::optional<double> value,
                    std::string_view column, std::size_t line, std::string_view text);

    ReplaySource& source_;
    RecordReader& first_;
    const SheetLayout& layout_;
    bool planned_ = false;
    std::uint64_t firstRecords_ = 0;
    std::uint64_t firstBytes_ = 0;
    std::vector<Plan> plans_; // by the order of their first rows
    std::string blockNames_;
    HashIndex blockIndex_; // on the first reading
    // The runs of rows of one block, in order: on the second reading each row's block is the
    // one its run says, without looking its name up.
    struct Run {
        std::uint32_t block = 0;
        std::uint32_t rows = 0;
    };
    std::vector<Run> runs_;

    // A blocked Bloom filter: each dog sets 4 bits of one 64-bit word. Only while every block's
    // rows lie together: once one does not, every dog is checked on the second reading.
    std::vector<std::uint64_t> filter_;
    std::unordered_set<std::uint64_t> suspects_; // dogs in more than one run of rows
    bool unsorted_ = false;

    std::optional<RecordReader> second_;
    Record record_;
    std::uint64_t records_ = 0;
    bool ended_ = false;
    std::size_t openBlocks_ = 0;
    std::size_t run_ = 0; // the run of the last row read, and its rows still to read
    std::uint32_t runLeft_ = 0;
    std::uint32_t tallying_ = kNone; // the block whose rows lie together, while it is open
    // Rows in the order of their lines; a block's waits for its last row.
    std::deque<std::optional<Row>> queue_;
    std::size_t popped_ = 0;
    Fields fields_;

    // The one block being tallied and its dogs.
    BlockTally block_;
    std::vector<Dog> dogs_;
    std::string dogNames_;
    HashIndex dogIndex_;
    // The rows of the blocks whose rows lie apart, and those of one of them, taken to be tallied.
    ChunkChains kept_;
    std::string keptRow_;
    std::string keptRows_;
    std::string ownCell_;

    // Each suspect's first block and line, by a hash of its name.
    struct Home {
        std::uint64_t hash = 0;
        std::uint32_t block = 0;
        std::size_t line = 0;
    };
    std::vector<Home> homes_;
    HashIndex homeIndex_;
};

} // namespace kestrum::survey
