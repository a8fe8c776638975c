// Reading a survey in the forms a spreadsheet writes. Bad rows and headers are tried on the built
// program (Estimator_test), where their messages and exit status are seen too.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "SurveyReader.h"

namespace kestrum::survey {
namespace {

std::array<std::int32_t, 4> counts(const BlockRow& row)
{
    return {row.counts.n100, row.counts.n111, row.counts.n101, row.counts.n110};
}

TEST(SurveyReader, ReadsTheFormsASpreadsheetWrites)
{
    // A byte-order mark, columns in any order and case beside one it ignores, CRLF, blank lines,
    // quoted fields, numbers in every form, optional columns empty, no line break at the end.
    StringSource source("\xEF\xBB\xBF N111 ,Count,notes,BLOCK,n110,n101,n100,S_fixed\r\n"
                        "\r\n"
                        "20,30,\"seen, at \"\"dusk\"\"\",north,7,5,10,\r\n"
                        "   \n"
                        "1e2, ,,\"two\nlines\" ,7.0,0,+5,2.5e-1\n"
                        "\n"
                        "1,12.5,,last,1,1,1,1");
    SurveyReader reader(source);
    std::vector<BlockRow> rows;
    while (const std::optional<Row> row = reader.next()) {
        ASSERT_TRUE(std::holds_alternative<BlockRow>(*row)) << std::get<RowError>(*row).reason;
        rows.push_back(std::get<BlockRow>(*row));
    }
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].line, 3u);
    EXPECT_EQ(rows[0].block, "north");
    EXPECT_EQ(counts(rows[0]), (std::array<std::int32_t, 4>{10, 20, 5, 7}));
    EXPECT_EQ(rows[0].count, 30.0);
    EXPECT_FALSE(rows[0].sFixed);

    EXPECT_EQ(rows[1].line, 5u);
    EXPECT_EQ(rows[1].block, "two\nlines");
    EXPECT_EQ(counts(rows[1]), (std::array<std::int32_t, 4>{5, 100, 0, 7}));
    EXPECT_EQ(rows[1].sFixed, 0.25);
    EXPECT_FALSE(rows[1].count);

    EXPECT_EQ(rows[2].line, 8u) << "a line break inside quotes still counts as a line";
    EXPECT_EQ(rows[2].sFixed, 1.0) << "every dog stays: a model, not an error";
    EXPECT_EQ(rows[2].count, 12.5);
}

// The separator a spreadsheet chose, found from the header or given; with ';' a decimal comma.
// Line ends of every kind, blank lines before the header.
TEST(SurveyReader, ReadsSemicolonsTabsAndDecimalCommas)
{
    for (const auto& [text, separator, sFixed] :
         std::initializer_list<std::tuple<const char*, char, std::optional<double>>>{
             {"\xEF\xBB\xBF\"block\";n100;n111;n101;n110;s_fixed\n\"a, b\";10;20;5;7;0,25\n", 0,
              0.25},
             {"block\tn100\tn111\tn101\tn110\ts_fixed\na, b\t10\t20\t5\t7\t\n", 0, std::nullopt},
             {"block;n100;n111;n101;n110;s_fixed\n\"a, b\";10;20;5;7;0.25\n", ';', 0.25},
             {"\"block\",n100,n111,n101,n110,s_fixed\n\"a, b\",10,20,5,7,\n", 0, std::nullopt},
             // A quote after a ',' that does not separate must not open a field over the rows.
             {"block;n100;n111;n101;n110;s_fixed;note,\"x\n\"a, b\";10;20;5;7;0,25;y\n", 0, 0.25},
             {"\r\n \n\nblock\tn100\tn111\tn101\tn110\ts_fixed\na, b\t10\t20\t5\t7\t1\n", 0, 1.0},
             {"block,n100,n111,n101,n110,s_fixed\r\"a, b\",10,20,5,7,\r", 0, std::nullopt},
             // Part of a byte-order mark is data: here part of a column's name that is not needed.
             {"\xEF\xBBnote,block,n100,n111,n101,n110,s_fixed\r\n,\"a, b\",10,20,5,7,\r\n", 0,
              std::nullopt},
         }) {
        SCOPED_TRACE(text);
        StringSource source(text);
        SurveyReader reader(source, separator);
        const std::optional<Row> row = reader.next();
        ASSERT_TRUE(row && std::holds_alternative<BlockRow>(*row));
        const BlockRow& block = std::get<BlockRow>(*row);
        EXPECT_EQ(block.block, "a, b");
        EXPECT_EQ(counts(block), (std::array<std::int32_t, 4>{10, 20, 5, 7}));
        EXPECT_EQ(block.sFixed, sFixed);
    }
    // A decimal comma is no number where commas separate, nor a thousands separator with ';'.
    StringSource commas("block;n100;n111;n101;n110;count\na;10;20;5;7;1,000.5\n");
    SurveyReader reader(commas);
    EXPECT_TRUE(std::holds_alternative<RowError>(*reader.next()));
}

// A stray quote, however much follows it, costs only the row it stands in: the quote runs to the
// end of the input or on for more than the limit, and the lines after its own are read as rows.
TEST(SurveyReader, AStrayQuoteCostsOnlyItsOwnRow)
{
    const auto rowsOf = [](std::size_t count, const char* end) {
        std::string rows;
        for (std::size_t k = 0; k < count; ++k) {
            rows += "b" + std::to_string(k) + ",1,2,3,4" + end;
        }
        return rows;
    };
    const std::size_t many = RecordReader::kMaxRecordBytes / 10; // 1.5 MiB of rows
    const std::string longLine(RecordReader::kMaxRecordBytes + 10, 'x');
    for (const auto& [text, rows, problem] :
         std::initializer_list<std::tuple<std::string, std::size_t, const char*>>{
             {"block,n100,n111,n101,n110\na,1,2,3,4\n\"stray,1,2,3,4\n" + rowsOf(many, "\n"),
              many + 2, "a quote opened on line 3 is not closed within 1 MiB"},
             {"block,n100,n111,n101,n110\r\na,1,2,3,4\r\nc,1,\"2,3,4\r\n" + rowsOf(many, "\r\n"),
              many + 2, "a quote opened on line 3 is not closed within 1 MiB"},
             {"block,n100,n111,n101,n110\ra,1,2,3,4\r\"stray,1,2,3,4\r" + rowsOf(many, "\r"),
              many + 2, "a quote opened on line 3 is not closed within 1 MiB"},
             {"block,n100,n111,n101,n110\na,1,2,3,4\n\"stray,1,2,3,4\n" + rowsOf(50, "\n"), 52,
              "a quote opened on line 3 is not closed before the end of the input"},
             // More than the limit within the quote's own line: that line is the record.
             {"block,n100,n111,n101,n110\na,1,2,3,4\n\"" + longLine + "\n" + rowsOf(50, "\n"), 52,
              "the record is longer than 1 MiB"},
         }) {
        SCOPED_TRACE(problem);
        StringSource source(text);
        SurveyReader reader(source);
        std::vector<Row> read;
        while (std::optional<Row> row = reader.next()) {
            read.push_back(std::move(*row));
        }
        ASSERT_EQ(read.size(), rows);
        ASSERT_TRUE(std::holds_alternative<RowError>(read[1]));
        EXPECT_EQ(std::get<RowError>(read[1]).line, 3u);
        EXPECT_EQ(std::get<RowError>(read[1]).reason, problem);
        EXPECT_LT(std::get<RowError>(read[1]).block.size(), 20u) << "the quote's own line only";
        for (std::size_t k = 2; k < read.size(); ++k) {
            ASSERT_TRUE(std::holds_alternative<BlockRow>(read[k])) << k;
            EXPECT_EQ(std::get<BlockRow>(read[k]).line, k + 2);
        }
    }
}

TEST(SurveyReader, TextShownFromTheInputIsCutBetweenCharacters)
{
    EXPECT_EQ(printable(std::string(500, 'x')), "\"" + std::string(40, 'x') + "...\"");
    // 39 ASCII bytes, then a two-byte character that must stay whole.
    const std::string cut = printable(std::string(39, 'x') + "\xC3\xA9" + std::string(10, 'y'));
    EXPECT_NE(cut.find("\xC3\xA9..."), std::string::npos) << cut;
    // The characters that reorder text are escaped as control characters are; their neighbours
    // in the same block of Unicode are not.
    EXPECT_EQ(printable("a\xE2\x80\xAE"
                        "b\xE2\x81\xA6"
                        "c\xE2\x80\xA9"
                        "d\x1B"),
              "\"a\\u202Eb\\u2066c\xE2\x80\xA9"
              "d\\x1B\"");
}

} // namespace
} // namespace kestrum::survey
