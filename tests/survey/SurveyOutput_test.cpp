// Where the estimator writes: rows that reach a pipe whole, plot file names that stay in their
// folder, a progress line that can be wiped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "BlockPlots.h"
#include "OutputWriters.h"
#include "Progress.h"

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
