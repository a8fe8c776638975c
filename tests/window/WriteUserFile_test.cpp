// "user.txt": what the window's presses do not reach (negative values, counts beyond the record),
// and that a write replaces the whole file or leaves nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "WriteUserFile.h"

namespace kestrum {
namespace {

TEST(UserFileText, NegativeValuesTakeTheLeadingSpaceAndCountsAreHeldToTheRecord)
{
    ModelRecord record;
    record.NIUSER = 1;
    record.IUSER(1) = -3;
    record.NUSER = 1;
    record.USER(1) = -0.25;
    EXPECT_EQ(userFileText(record), QByteArray(" 1 \r\n-3 \r\n 1 \r\n-.25 \r\n"));

    record.NIUSER = 5000;
    record.NUSER = -7;
    const QByteArray text = userFileText(record);
    EXPECT_EQ(text.count('\n'), 1 + 1000 + 1);
    EXPECT_TRUE(text.startsWith(" 5000 \r\n-3 \r\n 0 \r\n"));
    EXPECT_TRUE(text.endsWith(" 0 \r\n-7 \r\n"));
}

TEST(WriteUserFile, ReplacesTheWholeFileOrLeavesNone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("user.txt"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
    }
    ModelRecord record;
    record.NIUSER = 2;
    EXPECT_TRUE(writeUserFile(path, record).isEmpty());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), userFileText(record));

    EXPECT_FALSE(writeUserFile(dir.filePath(QStringLiteral("missing/user.txt")), record).isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("user.txt")});
}

} // namespace
} // namespace kestrum
