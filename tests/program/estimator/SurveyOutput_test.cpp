// What the estimator writes and where: rows that read back as written whatever a block is called,
// a failed write that is an error, plot file names that stay in their folder, a progress line
// that can be wiped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include <nlohmann/json.hpp>

#include "BlockPlots.h"
#include "OutputWriters.h"
#include "Progress.h"
#include "kestrum.h"

namespace kestrum::survey {
namespace {

BlockResult result(const std::string& name, inference::Counts counts)
{
    BlockResult r;
    r.row.line = 7;
    r.row.block = name;
    r.row.counts = counts;
    EstimateInputs inputs;
    inputs.S = 0.9;
    inputs.P = 0.9;
    inputs.frequencies(1) = counts.n100;
    inputs.frequencies(2) = counts.n111;
    inputs.frequencies(3) = counts.n101;
    inputs.frequencies(4) = counts.n110;
    r.block = estimateBlock(inputs, true, inference::Parameter::P, N_E04JYF);
    return r;
}

// The header and one row, read back with the survey's own CSV reader.
std::map<std::string, std::string> csvRow(const BlockResult& r)
{
    const RowWriter writer(Format::Csv, -1);
    std::string text = writer.header();
    writer.block(r, text);
    StringSource source(text);
    RecordReader reader(source);
    Record header;
    Record row;
    EXPECT_TRUE(reader.next(header));
    EXPECT_TRUE(reader.next(row));
    EXPECT_FALSE(reader.next(row)) << "one row, whole";
    EXPECT_EQ(header.fields.size(), row.fields.size());
    std::map<std::string, std::string> cells;
    for (std::size_t k = 0; k < header.fields.size() && k < row.fields.size(); ++k) {
        cells[header.fields[k]] = row.fields[k];
    }
    return cells;
}

TEST(RowWriter, ABlockReadsBackAsWrittenWhateverItIsCalled)
{
    for (const std::string name : {"plain", "east, upper", "the \"old\" market", "two\nlines",
                                   " padded ", "=1+1"}) {
        auto cells = csvRow(result(name, {10, 20, 5, 7}));
        EXPECT_EQ(cells["block"], name);
        EXPECT_EQ(cells["line"], "7");
        EXPECT_EQ(cells["fit"], "block");
    }
}

TEST(RowWriter, JsonStaysValidForNamesThatAreNotUtf8)
{
    const RowWriter json(Format::Json, -1);
    std::string text;
    json.block(result("caf\xE9", {10, 20, 5, 7}), text);
    ASSERT_EQ(text.back(), '\n');
    ASSERT_EQ(text.find('\n'), text.size() - 1) << "one object, one line";
    const auto row = nlohmann::json::parse(text);
    EXPECT_EQ(row["block"], "caf\xEF\xBF\xBD");
}

TEST(RowSink, WritesWholeRowsAndOnlyWhole)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    // A read finds what has been written so far, and nothing more.
    ASSERT_EQ(::fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
    {
        RowSink sink(fds[1]);
        const std::string row(1000, 'r');
        for (int k = 0; k < 5; ++k) {
            sink.row(row + "\n");
        }
        // Four rows fill less than a chunk; the fifth would split one, so the four go first.
        char buffer[8192];
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        EXPECT_EQ(got, 4 * 1001);
        sink.flush();
        EXPECT_EQ(::read(fds[0], buffer, sizeof buffer), 1001);
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(RowSink, AFullDiskIsAnErrorNotSuccess)
{
    const int full = ::open("/dev/full", O_WRONLY);
    if (full < 0) {
        GTEST_SKIP() << "no /dev/full here";
    }
    RowSink sink(full);
    sink.row("block,1\n");
    EXPECT_THROW(sink.flush(), OutputError);
    ::close(full);
}

TEST(PlotFiles, NamesStayInTheirFolder)
{
    EXPECT_EQ(safeFileName("north"), "north");
    EXPECT_EQ(safeFileName("../../etc/passwd"), "_._.._etc_passwd");
    EXPECT_EQ(safeFileName(".hidden"), "_hidden");
    EXPECT_EQ(safeFileName(""), "block");
    EXPECT_EQ(safeFileName("a\\b:c*d"), "a_b_c_d");
    EXPECT_EQ(safeFileName(std::string(300, 'x')).size(), 100u);

    const auto folder = std::filesystem::temp_directory_path() /
                        ("kestrum-plots-" + std::to_string(::getpid()));
    PlotFolder plots(folder / "nested");
    EXPECT_TRUE(std::filesystem::is_directory(folder / "nested"));
    const auto first = plots.fileFor("A/1", 2);
    const auto again = plots.fileFor("A/1", 5);
    const auto cased = plots.fileFor("a_1", 6);
    EXPECT_EQ(first.filename(), "A_1.png");
    EXPECT_EQ(again.filename(), "A_1-line5.png");
    EXPECT_EQ(cased.filename(), "a_1-line6.png") << "names that differ only in case collide on "
                                                    "some file systems";
    for (const auto& file : {first, again, cased}) {
        EXPECT_EQ(file.parent_path(), folder / "nested");
    }
    std::filesystem::remove_all(folder);
}

TEST(Progress, TheLineNeverWrapsSoItCanBeWiped)
{
    for (const int width : {10, 40, 80, 200}) {
        const std::string line = Progress::line(500, 1000, 123456789, 2.0, width);
        EXPECT_LE(static_cast<int>(line.size()), std::max(width - 1, 20));
    }
    const std::string half = Progress::line(500, 1000, 40, 2.0, 200);
    EXPECT_NE(half.find(" 50%"), std::string::npos) << half;
    EXPECT_NE(half.find("20 a second"), std::string::npos) << half;
    EXPECT_EQ(Progress::line(500, std::nullopt, 40, 2.0, 200).find('%'), std::string::npos)
        << "no percentage without a known size";
}

} // namespace
} // namespace kestrum::survey
