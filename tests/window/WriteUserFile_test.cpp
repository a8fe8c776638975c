// "user.txt": what the window's presses do not reach (negative values, counts beyond the record),
// and that a write replaces the whole file or leaves nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "WriteUserFile.h"

namespace kestrum {
namespace {

TEST(WriteUserFile, NegativesTakeTheLeadingSpaceCountsAreHeldAndTheFileIsReplacedWhole)
{
    ModelRecord record;
    record.NIUSER = 5000;
    record.IUSER(1) = -3;
    record.NUSER = 1;
    record.USER(1) = -0.25;
    const QByteArray text = userFileText(record);
    EXPECT_EQ(text.count('\n'), 1 + 1000 + 1 + 1);
    EXPECT_TRUE(text.startsWith(" 5000 \r\n-3 \r\n 0 \r\n"));
    EXPECT_TRUE(text.endsWith(" 0 \r\n 1 \r\n-.25 \r\n"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("user.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(QByteArray(100000, 'x')) > 0);
    file.close();
    EXPECT_TRUE(writeUserFile(path, record).isEmpty());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), text);
    // A failed write leaves nothing behind.
    EXPECT_FALSE(writeUserFile(dir.filePath(QStringLiteral("missing/user.txt")), record).isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("user.txt")});
}

} // namespace
} // namespace kestrum
