// Sheets of sightings tallied into blocks: each case's rows as the reader gives them, in order,
// with their lines, tallies, marks, own columns and the checks' kinds and lines. Every case is
// read from a source that can be read again and from one that cannot (a pipe), which the reader
// keeps in a temporary file for its second reading: both must give the same rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "Sightings.h"
#include "SurveyReader.h"

namespace kestrum::survey {
namespace {

// A pipe: a few bytes at a time, and no way back.
class PipeSource final : public ByteSource {
public:
    explicit PipeSource(std::string text) : text_(std::move(text)) {}
    std::size_t read(char* buffer, std::size_t size) override
    {
        const std::size_t n = std::min({size, text_.size() - at_, std::size_t{7}});
        std::copy_n(text_.data() + at_, n, buffer);
        at_ += n;
        return n;
    }

private:
    std::string text_;
    std::size_t at_ = 0;
};

const char* kindName(SheetCheck::Kind kind)
{
    switch (kind) {
    case SheetCheck::Kind::DogTwiceOnVisit:
        return "twice";
    case SheetCheck::Kind::DogOnTwoRows:
        return "rows";
    case SheetCheck::Kind::DogSeenOnNoVisit:
        return "unseen";
    case SheetCheck::Kind::MarkedDiffers:
        return "differs";
    case SheetCheck::Kind::DogInTwoBlocks:
        return "moved";
    case SheetCheck::Kind::RowUnread:
        return "unread";
    case SheetCheck::Kind::CellCut:
        return "cut";
    }
    return "";
}

std::string number(const std::optional<std::int64_t>& value)
{
    return value ? std::to_string(*value) : "-";
}

// A row in one line: "2 market: 1 1 1 0 | seen 3 2 2 new 1 | marked 2 | count 3 | A|B | twice@11"
// or "14 sighting error: <reason>".
std::string described(const Row& row)
{
    if (const auto* error = std::get_if<RowError>(&row)) {
        return std::to_string(error->line) +
               (error->sighting ? " sighting" : " block " + error->block) +
               " error: " + error->reason +
               (error->stratum.empty() ? "" : " [" + error->stratum + "]");
    }
    const BlockRow& b = std::get<BlockRow>(row);
    std::string text =
        std::to_string(b.line) + " " + b.block + (b.stratum.empty() ? "" : "/" + b.stratum) + ": " +
        std::to_string(b.counts.n100) + " " + std::to_string(b.counts.n111) + " " +
        std::to_string(b.counts.n101) + " " + std::to_string(b.counts.n110) + " | seen " +
        number(b.seen[0]) + " " + number(b.seen[1]) + " " + number(b.seen[2]) + " new " +
        number(b.newDogs) + " | marked " + number(b.marked) + " | count " +
        (b.count ? std::to_string(*b.count).substr(0, std::to_string(*b.count).find('.') + 2)
                 : "-");
    if (b.sFixed) {
        text += " | s " + std::to_string(*b.sFixed).substr(0, 4);
    }
    for (const std::string& cell : b.own) {
        text += " | " + cell;
    }
    for (const SheetCheck& check : b.checks) {
        text += std::string(" ") + kindName(check.kind) + "@" + std::to_string(check.line);
    }
    return text;
}

std::vector<Row> rowsOf(ByteSource& source)
{
    SurveyReader reader(source);
    std::vector<Row> rows;
    while (std::optional<Row> row = reader.next()) {
        rows.push_back(std::move(*row));
    }
    return rows;
}

std::vector<std::string> tallied(ByteSource& source)
{
    std::vector<std::string> rows;
    for (const Row& row : rowsOf(source)) {
        rows.push_back(described(row));
    }
    return rows;
}

struct Case {
    const char* name;
    std::string sheet;
    std::vector<std::string> rows;
};

TEST(Sightings, TalliesEachBlockAndTellsWhatTheSheetGetsWrong)
{
    const std::vector<Case> cases{
        {"every history, new dogs on visits 2 and 3, marks, a count on one row, own columns",
         "block,dog,visit,marked,count,team,notes\n"
         "market,a,1,yes,,A,\n"    // 2: a 1,1,1
         "market,b,1,no,,A,lame\n" // 3: b 1,0,0
         "market,c,1,,,B,\n"       // 4: c 1,0,1
         "market,d,1,YES,30,A,\n"  // 5: d 1,1,0
         "market,a,2,,,A,\n"       // 6
         "market,d,2,,,A,lame\n"   // 7
         "market,e,2,n,,A,\n"      // 8: e new on visit 2
         "market,a,3,,,A,\n"       // 9
         "market,c,3,True,,A,\n"   // 10: c marked on a later row
         "market,f,3,,,A,\n",      // 11: f new on visit 3
         {"2 market: 1 1 1 1 | seen 4 3 3 new 2 | marked 3 | count 30.0 | A | B | lame"}},
        {"unsorted: each block at its first line, in the order of first lines; a dog in two blocks",
         "block,dog,visit,team\n"
         "b1,x,1,A\n"
         "b2,y,1,B\n"
         "b1,x,2,A\n"
         "b3,z,2,C\n"
         "b2,y,3,B\n"
         "b1,w,1,A\n"
         "b3,x,3,C\n",
         {"2 b1: 1 0 0 1 | seen 2 1 0 new 0 | marked - | count 2.0 | A",
          "3 b2: 0 0 1 0 | seen 1 0 1 new 0 | marked - | count 1.0 | B",
          "5 b3: 0 0 0 0 | seen 0 1 1 new 2 | marked - | count 0.0 | C moved@8"}},
        {"a dog twice on a visit, marks that differ, a dog in two blocks",
         "block,dog,visit,marked\n"
         "north,r,1,yes\n"
         "north,r,1,no\n"
         "north,s,1,\n"
         "north,r,2,\n"
         "south,s,1,no\n"
         "south,t,1,\n",
         {"2 north: 1 0 0 1 | seen 2 1 0 new 0 | marked 1 | count 2.0 twice@3 differs@3",
          "6 south: 2 0 0 0 | seen 2 0 0 new 0 | marked 0 | count 2.0 moved@6"}},
        {"rows that cannot be read are error rows at their lines, the block tallied without them",
         "block,dog,visit\n"
         "east,a,1\n"
         "east,b,4\n"
         ",c,1\n"
         "east,,2\n"
         "east,a,2,extra\n"
         "east,a,two\n"
         "east,a,3\n",
         {"2 east: 0 0 1 0 | seen 1 0 1 new 0 | marked - | count 1.0 unread@3 unread@5 unread@7",
          "3 sighting error: visit is not 1, 2 or 3: \"4\"", "4 sighting error: block is missing",
          "5 sighting error: dog is missing",
          "6 sighting error: the record has 4 fields where the header has 3",
          "7 sighting error: visit is not 1, 2 or 3: \"two\""}},
        {"values of the block that differ between its rows make it an error row; a block none of "
         "whose rows can be read is one too, in its stratum",
         "block,stratum,dog,visit,count,s_fixed\n"
         "west,edge,a,1,12,\n"
         "west,edge,b,1,13,\n"
         "hill,centre,a,1,,0.8\n"
         "hill,edge,b,1,,0.8\n"
         "lost,edge,a,0,,\n"
         "pond,edge,a,1,,0.5\n"
         "pond,edge,a,2,,0,5\n",
         {"2 block west error: count is 12 on line 2 but \"13\" on line 3 [edge]",
          "4 block hill error: stratum is \"centre\" on line 4 but \"edge\" on line 5 [centre]",
          "6 block lost error: no row of this block could be read (line 6) [edge]",
          "6 sighting error: visit is not 1, 2 or 3: \"0\"",
          "7 pond/edge: 1 0 0 0 | seen 1 0 0 new 0 | marked - | count 1.0 | s 0.50",
          "8 sighting error: the record has 7 fields where the header has 6"}},
        {"one row per dog: x, yes, 1 and blank; a dog on two rows joined; a dog seen on no visit",
         "block,dog,visit1,visit2,visit3,marked\n"
         "farm,a,x,X,x,y\n"
         "farm,b,yes,,1,n\n"
         "farm,c,,true,,\n"
         "farm,d,1,0,no,\n"
         "farm,b,,1,,\n"
         "farm,e,,,,yes\n"
         "farm,a,1,,,\n"
         "farm,f,maybe,,,\n",
         {"2 farm: 1 2 0 0 | seen 3 3 2 new 1 | marked 1 | count 3.0 rows@6 unseen@7 rows@8 "
          "twice@8 unread@9",
          "9 sighting error: visit1 is not 1, 0, yes, no, x or blank: \"maybe\""}},
        {"a spreadsheet's ';', byte-order mark, CRLF, quotes and decimal commas",
         "\xEF\xBB\xBF"
         "block;dog;visit;count;gps\r\n"
         "\"a; b\";\"dog, 1\";1;12,5;1,25\r\n"
         "\"a; b\";\"dog, 1\";3;;\r\n"
         "\"a; b\";d2;1;;x,y\r\n",
         {"2 a; b: 1 0 1 0 | seen 2 0 1 new 0 | marked - | count 12.5 | 1.25 | x,y"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StringSource file(c.sheet);
        EXPECT_EQ(tallied(file), c.rows);
        PipeSource pipe(c.sheet);
        EXPECT_EQ(tallied(pipe), c.rows) << "read once, kept for the second reading";
    }
}

// Rows of blocks interleaved, each block's in their order and the blocks' last rows in theirs (the
// block that ends first is the one a dog in two blocks is told against): every row comes out as
// it does from the sheet sorted by block, at the line its row has there. A sheet sorted by block is
// tallied row by row, one in any other order from each block's rows kept until its last.
TEST(Sightings, RowsInAnyOrderTallyAsTheSheetSortedByBlock)
{
    std::mt19937 random(17);
    const auto below = [&random](unsigned n) { return static_cast<int>(random() % n); };
    std::vector<std::vector<std::string>> blocks(30);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const int rows = 2 + below(20);
        for (int row = 0; row < rows; ++row) {
            // Names shared with the neighbouring blocks, a visit that cannot be read now and
            // then, marks either way, the street count on one row, the team in three values.
            const int dog = static_cast<int>(b % 5) * 6 + below(12);
            const std::string visit = below(25) == 0 ? "4" : std::to_string(1 + below(3));
            const char* const marked[] = {"", "yes", "no"};
            blocks[b].push_back("b" + std::to_string(b) + ",s" + std::to_string(b % 4) + ",d" +
                                std::to_string(dog) + "," + visit + "," + marked[below(3)] + "," +
                                (row == 1 ? "40" : "") + ",T" + std::to_string(below(3)) + "\n");
        }
    }
    const std::string header = "block,stratum,dog,visit,marked,count,team\n";
    std::string sorted = header;
    std::vector<std::pair<std::size_t, std::string>> mixed; // each row with its sorted line
    std::size_t line = 2;
    for (const std::vector<std::string>& rows : blocks) {
        std::vector<std::size_t> at(rows.size() - 1);
        for (std::size_t& place : at) {
            place = static_cast<std::size_t>(below(static_cast<unsigned>(mixed.size() + 1)));
        }
        std::sort(at.begin(), at.end());
        for (std::size_t k = 0; k < rows.size(); ++k) {
            sorted += rows[k];
            const std::size_t place = k + 1 < rows.size() ? at[k] + k : mixed.size();
            mixed.insert(mixed.begin() + static_cast<std::ptrdiff_t>(place), {line + k, rows[k]});
        }
        line += rows.size();
    }
    std::string shuffled = header;
    std::vector<std::size_t> sortedLine(mixed.size() + 2);
    for (std::size_t k = 0; k < mixed.size(); ++k) {
        shuffled += mixed[k].second;
        sortedLine[k + 2] = mixed[k].first;
    }

    StringSource sortedFile(sorted);
    const std::vector<std::string> expected = tallied(sortedFile);
    for (const char* told : {"twice@", "differs@", "moved@", "unread@", "sighting error"}) {
        EXPECT_TRUE(std::any_of(
            expected.begin(), expected.end(),
            [told](const std::string& row) { return row.find(told) != std::string::npos; }))
            << "the sheet has none of " << told;
    }
    StringSource file(shuffled);
    PipeSource pipe(shuffled);
    for (ByteSource* source : {static_cast<ByteSource*>(&file), static_cast<ByteSource*>(&pipe)}) {
        std::vector<Row> rows = rowsOf(*source);
        for (Row& row : rows) {
            std::visit([&](auto& r) { r.line = sortedLine[r.line]; }, row);
            if (auto* block = std::get_if<BlockRow>(&row)) {
                for (SheetCheck& check : block->checks) {
                    check.line = sortedLine[check.line];
                }
            }
        }
        std::stable_sort(rows.begin(), rows.end(), [](const Row& x, const Row& y) {
            const auto lineOf = [](const Row& row) {
                return std::visit([](const auto& r) { return r.line; }, row);
            };
            return lineOf(x) < lineOf(y);
        });
        std::vector<std::string> got;
        for (const Row& row : rows) {
            got.push_back(described(row));
        }
        EXPECT_EQ(got, expected);
    }
}

TEST(Sightings, OwnValuesOfABlockStopAtTheLimitOfACell)
{
    std::string sheet = "block,dog,visit,photo\n";
    const std::string photo(1000, 'p');
    for (int k = 0; k < 100; ++k) {
        sheet += "b,d" + std::to_string(k) + ",1," + photo + std::to_string(k) + "\n";
    }
    StringSource source(sheet);
    SurveyReader reader(source);
    const std::optional<Row> row = reader.next();
    ASSERT_TRUE(row && std::holds_alternative<BlockRow>(*row));
    const BlockRow& block = std::get<BlockRow>(*row);
    EXPECT_LE(block.own[0].size(), kOwnCellBytes);
    EXPECT_GT(block.own[0].size(), kOwnCellBytes - 1100) << "as many whole values as fit";
    ASSERT_EQ(block.checks.size(), 1u);
    EXPECT_EQ(block.checks[0].kind, SheetCheck::Kind::CellCut);
    EXPECT_EQ(checkNotes(block.checks)[0].message,
              "Columns whose values in this block run past 64 KiB, the rest left out: \"photo\" "
              "(from line " +
                  std::to_string(block.checks[0].line) + ").");
}

} // namespace
} // namespace kestrum::survey
