// "user.txt": its bytes, and that a failed write never leaves a damaged file.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "WriteUserFile.h"

namespace kestrum {
namespace {

ModelRecord recordOfAPress(std::initializer_list<std::int32_t> frequencies)
{
    ModelRecord record;
    record.IUSER(1) = 2;
    record.IUSER(2) = 1;
    record.IUSER(3) = 2;
    std::size_t slot = 10;
    for (const std::int32_t n : frequencies) {
        record.IUSER(slot++) = n;
    }
    record.NIUSER = 14;
    const double user[] = {0.9, 1.0, 0.01, 0.99, 0.9, 1.0, 0.01, 0.99};
    for (std::size_t i = 1; i <= 8; ++i) {
        record.USER(i) = user[i - 1];
    }
    record.NUSER = 8;
    return record;
}

TEST(UserFileText, OneValuePerLineInPrintForm)
{
    const QByteArray expected = " 14 \r\n 2 \r\n 1 \r\n 2 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n"
                                " 10 \r\n 20 \r\n 5 \r\n 7 \r\n 0 \r\n 8 \r\n"
                                " .9 \r\n 1 \r\n .01 \r\n .99 \r\n .9 \r\n 1 \r\n .01 \r\n .99 \r\n";
    EXPECT_EQ(userFileText(recordOfAPress({10, 20, 5, 7})), expected);
}

TEST(UserFileText, NegativeValuesTakeTheLeadingSpace)
{
    ModelRecord record = recordOfAPress({-3, 20, 5, 7});
    record.USER(1) = -0.25;
    const QList<QByteArray> lines = userFileText(record).split('\n');
    EXPECT_EQ(lines[10], "-3 \r");
    EXPECT_EQ(lines[16], "-.25 \r");
}

TEST(UserFileText, CountsAreHeldToTheRecord)
{
    ModelRecord record;
    record.NIUSER = 0;
    record.NUSER = 0;
    EXPECT_EQ(userFileText(record), QByteArray(" 0 \r\n 0 \r\n"));

    record.NIUSER = 5000;
    record.NUSER = -7;
    const QByteArray text = userFileText(record);
    EXPECT_EQ(text.count('\n'), 1 + 1000 + 1);
    EXPECT_TRUE(text.startsWith(" 5000 \r\n"));
    EXPECT_TRUE(text.endsWith("-7 \r\n"));
}

TEST(WriteUserFile, ReplacesTheWholeFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("user.txt"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
    }
    EXPECT_TRUE(writeUserFile(path, recordOfAPress({1, 2, 3, 4})).isEmpty());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), userFileText(recordOfAPress({1, 2, 3, 4})));
}

TEST(WriteUserFile, FailureIsReportedAndLeavesNoFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/user.txt"));
    EXPECT_FALSE(writeUserFile(path, recordOfAPress({1, 2, 3, 4})).isEmpty());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

} // namespace
} // namespace kestrum
