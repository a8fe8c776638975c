// Where the estimator writes: rows that reach a pipe whole, plot file names that stay in their
// folder, a progress line that can be wiped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string>

#include "BlockPlots.h"
#include "OutputWriters.h"
#include "Progress.h"
#include "RowSpool.h"

namespace kestrum::survey {
namespace {

TEST(RowSink, WritesWholeRowsAndOnlyWhole)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::fcntl(fds[0], F_SETFL, O_NONBLOCK), 0); // a read finds what is written so far
    {
        RowSink sink(fds[1]);
        for (int k = 0; k < 5; ++k) {
            sink.row(std::string(1000, 'r') + "\n");
        }
        // Four rows fill less than a chunk; the fifth would split one, so the four go first.
        char buffer[8192];
        EXPECT_EQ(::read(fds[0], buffer, sizeof buffer), 4 * 1001);
        sink.flush();
        EXPECT_EQ(::read(fds[0], buffer, sizeof buffer), 1001);
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

// A full disk part-way: the file ends on the last whole row, and stays so however often the sink
// is asked to go on (the run flushes once more when it stops). A file size limit stands in for
// the disk: a write past it fails as one past a full disk's space does.
TEST(RowSink, AFullDiskLeavesTheFileOnAWholeRow)
{
    const auto file = std::filesystem::temp_directory_path() /
                      ("kestrum-sink-" + std::to_string(::getpid()) + ".csv");
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto ignoredBefore = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before;
    limit.rlim_cur = 10000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::string row = std::string(299, 'r') + "\n";
    bool failed = false;
    {
        RowSink sink(fd);
        for (int k = 0; k < 100 && !failed; ++k) {
            try {
                sink.row(row);
            } catch (const OutputError&) {
                failed = true;
            }
        }
        EXPECT_THROW(sink.flush(), OutputError);
        EXPECT_THROW(sink.row(row), OutputError);
    }
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, ignoredBefore);
    ::close(fd);
    EXPECT_TRUE(failed);
    const auto size = std::filesystem::file_size(file);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size % row.size(), 0u) << "no part of a row, and no zeros past the end";
    std::filesystem::remove(file);
}

// No text reaches a terminal or an editor able to move or hide what is around it: control
// characters and the characters that reorder text are escaped, in CSV and in JSON.
// Rows held for the totals come back whole and in order, from memory or, beyond its limit, from the
// file they spill into, and the store is empty again after.
TEST(RowSpool, GivesBackEveryRowInOrder)
{
    for (const std::size_t inMemory : {std::size_t{32} << 20, std::size_t{1000}}) {
        SCOPED_TRACE(inMemory);
        RowSpool spool(inMemory);
        std::vector<std::string> texts;
        for (int k = 0; k < 500; ++k) {
            texts.push_back("row " + std::to_string(k) +
                            std::string(static_cast<std::size_t>(k % 97), 'x') + "\n");
            SpooledRow row;
            row.cellsAt = k % 3 == 0 ? SpooledRow::kNoCells : static_cast<std::size_t>(k % 5);
            row.stratum = static_cast<std::size_t>(k % 4);
            row.counts = {k, k + 1, k + 2, k + 3};
            row.count = k % 7 == 0 ? std::numeric_limits<double>::quiet_NaN() : k * 1.5;
            row.text = texts.back();
            spool.put(row);
        }
        int k = 0;
        spool.replay([&](const SpooledRow& row) {
            ASSERT_LT(k, 500);
            EXPECT_EQ(row.text, texts[static_cast<std::size_t>(k)]);
            EXPECT_EQ(row.cellsAt,
                      k % 3 == 0 ? SpooledRow::kNoCells : static_cast<std::size_t>(k % 5));
            EXPECT_EQ(row.stratum, static_cast<std::size_t>(k % 4));
            EXPECT_EQ(row.counts.n110, k + 3);
            EXPECT_EQ(std::isnan(row.count), k % 7 == 0);
            ++k;
        });
        EXPECT_EQ(k, 500);
        EXPECT_TRUE(spool.empty());
    }
}

TEST(RowWriter, TextCannotSteerWhatShowsIt)
{
    const char* const reordering[] = {"\xE2\x80\xAA", "\xE2\x80\xAB", "\xE2\x80\xAC",
                                      "\xE2\x80\xAD", "\xE2\x80\xAE", "\xE2\x81\xA6",
                                      "\xE2\x81\xA7", "\xE2\x81\xA8", "\xE2\x81\xA9"};
    const char* const escaped[] = {"\\u202a", "\\u202b", "\\u202c", "\\u202d", "\\u202e",
                                   "\\u2066", "\\u2067", "\\u2068", "\\u2069"};
    for (std::size_t k = 0; k < std::size(reordering); ++k) {
        const std::string name = std::string("caf\xC3\xA9 ") + reordering[k] + "gate\x1B";
        for (const Format format : {Format::Csv, Format::Json}) {
            std::string out;
            RowWriter(format, -1).failed({2, name, name, {}}, out);
            SCOPED_TRACE(out);
            EXPECT_EQ(out.find(reordering[k]), std::string::npos);
            EXPECT_EQ(out.find('\x1B'), std::string::npos);
            const std::string shown = std::string("caf\xC3\xA9 ") + escaped[k] + "gate\\u001b";
            EXPECT_NE(out.find(shown), out.rfind(shown)) << "in both block and error";
        }
    }
}

TEST(PlotFiles, NamesStayInTheirFolderAndApart)
{
    EXPECT_EQ(safeFileName("../../etc/passwd"), "_._.._etc_passwd");
    EXPECT_EQ(safeFileName(".hidden"), "_hidden");
    EXPECT_EQ(safeFileName(""), "block");
    EXPECT_EQ(safeFileName(std::string(300, 'x')).size(), 100u);

    const auto folder =
        std::filesystem::temp_directory_path() / ("kestrum-plots-" + std::to_string(::getpid()));
    PlotFolder plots(folder / "nested");
    EXPECT_EQ(plots.fileFor("A/1", 2), folder / "nested" / "A_1.png");
    EXPECT_EQ(plots.fileFor("A/1", 5), folder / "nested" / "A_1-line5.png");
    // Names that differ only in case collide on some file systems.
    EXPECT_EQ(plots.fileFor("a_1", 6), folder / "nested" / "a_1-line6.png");
    std::filesystem::remove_all(folder);
}

TEST(Progress, TheLineNeverWrapsSoItCanBeWiped)
{
    for (const int width : {10, 40, 80, 200}) {
        const std::string line = Progress::line(500, 1000, 123456789, 2.0, width);
        EXPECT_LE(static_cast<int>(line.size()), std::max(width - 1, 20));
    }
    EXPECT_EQ(Progress::line(500, 1000, 40, 2.0, 200),
              "[###############...............]  50% 40 blocks, 20 a second");
    EXPECT_EQ(Progress::line(500, std::nullopt, 40, 2.0, 200), " 40 blocks, 20 a second");
}

} // namespace
} // namespace kestrum::survey
