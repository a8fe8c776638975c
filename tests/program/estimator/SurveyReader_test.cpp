// Reading a survey: the header, the CSV forms a spreadsheet writes, and every way a row can fail,
// each told with the line it starts on while the rows around it still read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SurveyReader.h"

namespace kestrum::survey {
namespace {

struct Read {
    std::vector<BlockRow> blocks;
    std::vector<RowError> errors;
};

Read readAll(const std::string& text)
{
    StringSource source(text);
    SurveyReader reader(source);
    Read read;
    while (std::optional<Row> row = reader.next()) {
        if (auto* block = std::get_if<BlockRow>(&*row)) {
            read.blocks.push_back(*block);
        } else {
            read.errors.push_back(std::get<RowError>(*row));
        }
    }
    return read;
}

std::string headerError(const std::string& text)
{
    try {
        StringSource source(text);
        SurveyReader reader(source);
    } catch (const InputError& error) {
        return error.what();
    }
    return "no error";
}

const std::string kHeader = "block,n100,n111,n101,n110,s_fixed,count\n";

TEST(SurveyReader, ColumnsAreFoundByNameInAnyOrderAndCase)
{
    const Read read = readAll("\xEF\xBB\xBF N111 ,Count,notes,BLOCK,n110,n101,n100\r\n"
                              "20,30,seen at dusk,north,7,5,10\r\n");
    ASSERT_EQ(read.blocks.size(), 1u);
    const BlockRow& row = read.blocks[0];
    EXPECT_EQ(row.block, "north");
    EXPECT_EQ(row.counts.n100, 10);
    EXPECT_EQ(row.counts.n111, 20);
    EXPECT_EQ(row.counts.n101, 5);
    EXPECT_EQ(row.counts.n110, 7);
    EXPECT_EQ(row.count, 30.0);
    EXPECT_FALSE(row.sFixed);
}

TEST(SurveyReader, OptionalColumnsMayBeAbsentOrEmpty)
{
    const Read read = readAll("block,n100,n111,n101,n110\nA,1,2,3,4\n" );
    ASSERT_EQ(read.blocks.size(), 1u);
    EXPECT_FALSE(read.blocks[0].sFixed);
    EXPECT_FALSE(read.blocks[0].count);

    const Read empty = readAll(kHeader + "A,1,2,3,4, , \nB,1,2,3,4,0.75,0\nC,1,2,3,4,1,12.5\n");
    ASSERT_EQ(empty.blocks.size(), 3u);
    EXPECT_FALSE(empty.blocks[0].sFixed);
    EXPECT_FALSE(empty.blocks[0].count);
    EXPECT_EQ(empty.blocks[1].sFixed, 0.75);
    EXPECT_EQ(empty.blocks[1].count, 0.0);
    EXPECT_EQ(empty.blocks[2].sFixed, 1.0); // every dog stays: a model, not an error
    EXPECT_EQ(empty.blocks[2].count, 12.5);
}

TEST(SurveyReader, QuotedFieldsHoldCommasQuotesAndLineBreaks)
{
    const Read read = readAll(kHeader +
                              "\"east, upper\",1,2,3,4,,\n"
                              "\"the \"\"old\"\" market\",1,2,3,4,,\n"
                              "\"two\nlines\" ,1,2,3,4,,\n"
                              "after,1,2,3,4,,\n");
    ASSERT_EQ(read.blocks.size(), 4u);
    EXPECT_EQ(read.blocks[0].block, "east, upper");
    EXPECT_EQ(read.blocks[1].block, "the \"old\" market");
    EXPECT_EQ(read.blocks[2].block, "two\nlines");
    EXPECT_EQ(read.blocks[2].line, 4u);
    EXPECT_EQ(read.blocks[3].line, 6u) << "a line break inside quotes still counts as a line";
}

TEST(SurveyReader, BlankLinesAreSkippedButCounted)
{
    const Read read = readAll("\n" + kHeader + "\nA,1,2,3,4,,\n   \n\r\nB,1,2,3,4,,");
    ASSERT_EQ(read.blocks.size(), 2u);
    EXPECT_EQ(read.blocks[0].line, 4u);
    EXPECT_EQ(read.blocks[1].line, 7u) << "a last line without a line break is still read";
    EXPECT_TRUE(read.errors.empty());
}

TEST(SurveyReader, NumbersReadTheSameInEveryForm)
{
    const Read read = readAll(kHeader + "A,+5,1e2,0,7.0,2.5e-1,\n");
    ASSERT_EQ(read.blocks.size(), 1u);
    EXPECT_EQ(read.blocks[0].counts.n100, 5);
    EXPECT_EQ(read.blocks[0].counts.n111, 100);
    EXPECT_EQ(read.blocks[0].counts.n101, 0);
    EXPECT_EQ(read.blocks[0].counts.n110, 7);
    EXPECT_EQ(read.blocks[0].sFixed, 0.25);
}

struct BadRow {
    const char* name;
    const char* record;
    const char* reason;
};

class SurveyReaderBadRow : public testing::TestWithParam<BadRow> {};

// Each bad row sits between two good ones; it alone fails, with its own line number.
TEST_P(SurveyReaderBadRow, IsToldWithItsLineAndTheOthersRead)
{
    const BadRow& bad = GetParam();
    const Read read = readAll(kHeader + "before,1,2,3,4,,\n" + bad.record + "\nafter,4,3,2,1,,\n");
    ASSERT_EQ(read.errors.size(), 1u);
    EXPECT_EQ(read.errors[0].line, 3u);
    EXPECT_NE(read.errors[0].reason.find(bad.reason), std::string::npos) << read.errors[0].reason;
    ASSERT_EQ(read.blocks.size(), 2u);
    EXPECT_EQ(read.blocks[0].block, "before");
    EXPECT_EQ(read.blocks[1].block, "after");
    EXPECT_EQ(read.blocks[1].counts.n100, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SurveyReaderBadRow,
    testing::Values(
        BadRow{"MissingFrequency", "A,1,,3,4,,", "n111 is missing"},
        BadRow{"MissingBlock", ",1,2,3,4,,", "block is missing"},
        BadRow{"NotANumber", "A,1,2,three,4,,", "n101 is not a number: \"three\""},
        BadRow{"Infinity", "A,inf,2,3,4,,", "n100 is not a number"},
        BadRow{"NotANumberAtAll", "A,nan,2,3,4,,", "n100 is not a number"},
        BadRow{"Hexadecimal", "A,0x10,2,3,4,,", "n100 is not a number"},
        BadRow{"LocaleComma", "A,\"1,5\",2,3,4,,", "n100 is not a number"},
        BadRow{"DoubleSign", "A,+-1,2,3,4,,", "n100 is not a number"},
        BadRow{"Fraction", "A,1,2,3,4.5,,", "n110 is not a whole number"},
        BadRow{"Negative", "A,1,2,-3,4,,", "n101 is negative"},
        BadRow{"TooLarge", "A,3000000000,2,3,4,,", "n100 is too large"},
        BadRow{"AllZero", "A,0,0,0,0,,", "all four frequencies are zero"},
        BadRow{"SFixedZero", "A,1,2,3,4,0,", "s_fixed must lie above 0 and at most 1"},
        BadRow{"SFixedAboveOne", "A,1,2,3,4,1.5,", "s_fixed must lie above 0 and at most 1"},
        BadRow{"SFixedText", "A,1,2,3,4,high,", "s_fixed is not a number"},
        BadRow{"NegativeCount", "A,1,2,3,4,,-2", "count is negative"},
        BadRow{"TooFewFields", "A,1,2,3", "the record has 4 fields where the header has 7"},
        BadRow{"TooManyFields", "A,1,2,3,4,,,extra", "8 fields where the header has 7"},
        BadRow{"TextAfterQuote", "\"A\"x,1,2,3,4,,", "text after the closing quote of field 1"}),
    [](const testing::TestParamInfo<BadRow>& row) { return std::string(row.param.name); });

TEST(SurveyReader, EveryProblemOfARowIsToldAtOnce)
{
    const Read read = readAll(kHeader + "A,x,2,-3,4,2,\n");
    ASSERT_EQ(read.errors.size(), 1u);
    const std::string& reason = read.errors[0].reason;
    EXPECT_NE(reason.find("n100 is not a number"), std::string::npos) << reason;
    EXPECT_NE(reason.find("n101 is negative"), std::string::npos) << reason;
    EXPECT_NE(reason.find("s_fixed must lie"), std::string::npos) << reason;
}

TEST(SurveyReader, AnUnclosedQuoteFailsTheLastRowOnly)
{
    const Read read = readAll(kHeader + "A,1,2,3,4,,\n\"B,1,2,3,4,,\nC,1,2,3,4,,\n");
    ASSERT_EQ(read.blocks.size(), 1u);
    ASSERT_EQ(read.errors.size(), 1u);
    EXPECT_EQ(read.errors[0].line, 3u);
    EXPECT_NE(read.errors[0].reason.find("not closed"), std::string::npos);
}

TEST(SurveyReader, AnOverlongRecordIsRefusedAndReadingGoesOn)
{
    const std::string huge(RecordReader::kMaxRecordBytes + 10, '7');
    const Read read = readAll(kHeader + "A," + huge + ",2,3,4,,\nB,1,2,3,4,,\n");
    ASSERT_EQ(read.errors.size(), 1u);
    EXPECT_EQ(read.errors[0].line, 2u);
    EXPECT_NE(read.errors[0].reason.find("longer than 1 MiB"), std::string::npos);
    ASSERT_EQ(read.blocks.size(), 1u);
    EXPECT_EQ(read.blocks[0].block, "B");
    EXPECT_EQ(read.blocks[0].line, 3u);
}

TEST(SurveyReader, AHeaderThatCannotServeStopsEverything)
{
    EXPECT_NE(headerError("").find("the input is empty"), std::string::npos);
    EXPECT_NE(headerError("\n \r\n\n").find("the input is empty"), std::string::npos);
    EXPECT_NE(headerError("block,n100,n111\nA,1,2\n").find("lacks the columns n101, n110"),
              std::string::npos);
    EXPECT_NE(headerError("north,10,20,5,7\n").find("lacks the columns block, n100, n111"),
              std::string::npos)
        << "a first line of data is not a header";
    EXPECT_NE(headerError("block,n100,n111,n101,n110,N100\n").find("names the column n100 twice"),
              std::string::npos);
    EXPECT_NE(headerError("\"block,n100\n").find("line 1, the header"), std::string::npos);
}

TEST(SurveyReader, TextShownFromTheInputCannotSteerATerminal)
{
    EXPECT_EQ(printable("a\x1b[2Jb"), "\"a\\x1B[2Jb\"");
    const std::string shown = printable(std::string(500, 'x'));
    EXPECT_LT(shown.size(), 50u);
    EXPECT_NE(shown.find("..."), std::string::npos);
    // Cut between characters, never inside one: 39 ASCII bytes, then a two-byte character.
    const std::string cut = printable(std::string(39, 'x') + "\xC3\xA9" + std::string(10, 'y'));
    EXPECT_NE(cut.find("\xC3\xA9..."), std::string::npos) << cut;
}

} // namespace
} // namespace kestrum::survey
