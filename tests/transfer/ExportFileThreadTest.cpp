// The export's file, whose writeback runs on a thread of its own: an existing file keeps its
// bytes until the new one is whole, on disk and committed; a file discarded, even while its
// commit is on the way, leaves it as it was and nothing beside it.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "transfer/ExportFile.h"

namespace {

QByteArray contents(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

// 20 MiB, more than two steps of the writeback, each MiB its own letter from `first` on.
QByteArray writeAll(ExportFile& file, char first)
{
    QByteArray all;
    for (int i = 0; i < 20; ++i) {
        const QByteArray chunk((1 << 20) - 3 * i, char(first + i));
        EXPECT_TRUE(file.write(chunk.constData(), chunk.size())) << file.errorString().toStdString();
        all += chunk;
    }
    return all;
}

}  // namespace

TEST(ExportFileThread, TheTargetIsReplacedOnlyByAWholeCommittedFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("out.csv"));
    {
        QFile old(target);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    ExportFile file;
    QSignalSpy committed(&file, &ExportFile::committed);

    ASSERT_TRUE(file.open(target));
    writeAll(file, 'a');
    EXPECT_EQ(contents(target), QByteArray("old"));
    file.commit();
    EXPECT_TRUE(file.committing());
    file.discard();
    EXPECT_FALSE(file.committing());
    EXPECT_EQ(contents(target), QByteArray("old"));

    // The discarded commit's answer, should it still come, is not taken for this one.
    ASSERT_TRUE(file.open(target));
    const QByteArray written = writeAll(file, 'A');
    file.commit();
    ASSERT_TRUE(committed.wait(60000));
    EXPECT_EQ(committed.size(), 1);
    EXPECT_TRUE(committed.first().first().toBool()) << file.errorString().toStdString();
    EXPECT_FALSE(file.committing());
    EXPECT_TRUE(contents(target) == written);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("out.csv")});
}
