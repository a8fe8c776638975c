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
TEST(SurveyReader, ReadsSemicolonsTabsAndDecimalCommas)
{
    for (const auto& [text, separator, sFixed] :
         std::initializer_list<std::tuple<const char*, char, std::optional<double>>>{
             {"\xEF\xBB\xBF\"block\";n100;n111;n101;n110;s_fixed\n\"a, b\";10;20;5;7;0,25\n", 0,
              0.25},
             {"block\tn100\tn111\tn101\tn110\ts_fixed\na, b\t10\t20\t5\t7\t\n", 0, std::nullopt},
             {"block;n100;n111;n101;n110;s_fixed\n\"a, b\";10;20;5;7;0.25\n", ';', 0.25},
             {"\"block\",n100,n111,n101,n110,s_fixed\n\"a, b\",10,20,5,7,\n", 0, std::nullopt},
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

TEST(SurveyReader, TextShownFromTheInputIsCutBetweenCharacters)
{
    EXPECT_EQ(printable(std::string(500, 'x')), "\"" + std::string(40, 'x') + "...\"");
    // 39 ASCII bytes, then a two-byte character that must stay whole.
    const std::string cut = printable(std::string(39, 'x') + "\xC3\xA9" + std::string(10, 'y'));
    EXPECT_NE(cut.find("\xC3\xA9..."), std::string::npos) << cut;
}

} // namespace
} // namespace kestrum::survey
