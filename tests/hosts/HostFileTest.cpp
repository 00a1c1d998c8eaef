#include <sys/stat.h>

#include "HostsTestDir.h"
#include "hosts/HostFile.h"

namespace {

using Outcome = HostFile::Outcome;
constexpr int kSize = HostEntry::kRecordSize;

HostEntry sample(const QString& name, const QString& host)
{
    return {name,
            host,
            QStringLiteral("user_") + name,
            QStringLiteral("pw"),
            QStringLiteral("db"),
            QStringLiteral("5432"),
            QStringLiteral("/dev/tty9"),
            QStringLiteral("-c geqo=off")};
}

// The bytes of the field at offset/width must be `expected`, its terminator, and zeros.
void expectField(const QByteArray& record, int offset, int width, const QByteArray& expected)
{
    const QByteArray field = record.mid(offset, width);
    EXPECT_EQ(field.left(expected.size()), expected) << "at offset " << offset;
    EXPECT_EQ(field.mid(expected.size()), QByteArray(width - expected.size(), '\0'))
        << "after the text at offset " << offset;
}

}  // namespace

using HostFileTest = HostsTestDir;

TEST_F(HostFileTest, RecordLayoutIsByteExactAndOwnerOnly)
{
    const HostEntry e{QStringLiteral("本社"),      QStringLiteral("db.example.jp"),
                      QStringLiteral("山田"),      QStringLiteral("秘密pw"),
                      QStringLiteral("売上"),      QStringLiteral("5432"),
                      QStringLiteral("/dev/tty1"), QStringLiteral("-c geqo=off")};
    ASSERT_EQ(HostFile::append(e), Outcome::Written);
    const QByteArray f = fileBytes(HostFile::kFileName);
    ASSERT_EQ(f.size(), kSize);
    expectField(f, 0, 256, "\x96\x7b\x8e\xd0");
    expectField(f, 256, 256, "db.example.jp");
    expectField(f, 512, 256, "\x8e\x52\x93\x63");
    expectField(f, 768, 128, "\x94\xe9\x96\xa7pw");
    expectField(f, 896, 128, "\x94\x84\x8f\xe3");
    expectField(f, 1024, 9, "5432");
    expectField(f, 1033, 256, "/dev/tty1");
    expectField(f, 1289, 256, "-c geqo=off");
    EXPECT_EQ(f[1545], '1');

    // It holds passwords: readable and writable by its owner alone.
    struct stat st {};
    ASSERT_EQ(::stat("Host.DAT", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(HostFile::find(e.displayName), e);

    // Filled to the limit, each field still ends within its width; one byte more is refused
    // with a message naming the field and its limit, and nothing is written.
    HostEntry full = e;
    full.password = QString(127, u'p');
    full.port = QStringLiteral("12345678");
    full.options = QString(255, u'o');
    ASSERT_EQ(HostFile::append(full), Outcome::Written);
    EXPECT_EQ(HostFile::find(e.displayName), e);  // the first record still wins
    EXPECT_EQ(HostEntry::fromRecord(fileBytes(HostFile::kFileName).mid(kSize)), full);

    HostEntry longPort = full;
    longPort.port = QStringLiteral("123456789");
    ASSERT_TRUE(longPort.fitProblem());
    EXPECT_TRUE(longPort.fitProblem()->contains(QStringLiteral("「ポート番号」")));
    EXPECT_TRUE(longPort.fitProblem()->contains(QStringLiteral("8バイト")));
    HostEntry longPassword = full;
    longPassword.password = QString(64, u'秘');  // 128 bytes in CP932
    HostEntry foreign = full;
    foreign.tty = QStringLiteral("tty🐟");
    EXPECT_TRUE(foreign.fitProblem()->contains(QStringLiteral("「TTY」の文字「🐟」")));
    for (const HostEntry& bad : {longPort, longPassword, foreign})
        EXPECT_EQ(HostFile::append(bad), Outcome::Failed);
    EXPECT_EQ(fileBytes(HostFile::kFileName).size(), 2 * kSize);
}

TEST_F(HostFileTest, DuplicatesTombstonesAndReplace)
{
    const QString a = QStringLiteral("a");
    for (const HostEntry& e : {sample(a, "h1"), sample(a, "h2"), sample("b", "hb")})
        ASSERT_EQ(HostFile::append(e), Outcome::Written);
    EXPECT_EQ(HostFile::find(a)->host, QStringLiteral("h1"));
    EXPECT_FALSE(HostFile::find(QStringLiteral("A")));  // exact, case-sensitive

    const QByteArray before = fileBytes(HostFile::kFileName);
    ASSERT_EQ(HostFile::erase(a), Outcome::Written);
    const QByteArray after = fileBytes(HostFile::kFileName);
    ASSERT_EQ(after.size(), 3 * kSize);
    for (int offset : {0, 256, 512, 768, 896})
        expectField(after, offset, offset < 768 ? 256 : 128, "*");
    expectField(after, 1024, 9, "*");
    EXPECT_EQ(after.mid(1033, kSize - 1033), before.mid(1033, kSize - 1033));  // TTY, options, mark
    EXPECT_EQ(after.mid(kSize), before.mid(kSize));
    // The second record of the name is the first one now.
    EXPECT_EQ(HostFile::find(a)->host, QStringLiteral("h2"));

    // A re-added name goes to the end, not into the tombstone's slot.
    ASSERT_EQ(HostFile::append(sample(a, "h3")), Outcome::Written);
    EXPECT_EQ(fileBytes(HostFile::kFileName).size(), 4 * kSize);
    EXPECT_EQ(HostFile::find(a)->host, QStringLiteral("h2"));

    // Replace under a new name: in place, the old name gone.
    ASSERT_EQ(HostFile::replace(QStringLiteral("b"), sample("c", "hc")), Outcome::Written);
    const QByteArray replaced = fileBytes(HostFile::kFileName);
    EXPECT_EQ(replaced.size(), 4 * kSize);
    EXPECT_EQ(HostEntry::fromRecord(replaced.mid(2 * kSize, kSize)), sample("c", "hc"));
    EXPECT_FALSE(HostFile::find(QStringLiteral("b")));

    EXPECT_EQ(HostFile::replace(QStringLiteral("zz"), sample("zz", "x")), Outcome::NoRecord);
    EXPECT_EQ(HostFile::erase(QStringLiteral("zz")), Outcome::NoRecord);
    EXPECT_EQ(fileBytes(HostFile::kFileName), replaced);
}

TEST_F(HostFileTest, MissingFileAndTrailingPiece)
{
    EXPECT_FALSE(HostFile::find(QStringLiteral("a")));
    EXPECT_EQ(HostFile::replace(QStringLiteral("a"), sample("a", "h")), Outcome::NoRecord);
    EXPECT_EQ(HostFile::erase(QStringLiteral("a")), Outcome::NoRecord);
    EXPECT_FALSE(QFile::exists(HostFile::kFileName));

    // The host dialog's edit of a host whose record is gone keeps what was confirmed.
    ASSERT_EQ(HostFile::store(QStringLiteral("a"), sample("a", "h")), Outcome::Written);
    EXPECT_EQ(HostFile::find(QStringLiteral("a"))->host, QStringLiteral("h"));

    // A piece shorter than a record (an interrupted write) is not read as one, and the next
    // record starts at the record boundary, so it is found.
    QByteArray withPiece = fileBytes(HostFile::kFileName);
    withPiece += sample("p", "hp").toRecord()->left(100);
    writeFile(HostFile::kFileName, withPiece);
    EXPECT_FALSE(HostFile::find(QStringLiteral("p")));
    ASSERT_EQ(HostFile::append(sample("q", "hq")), Outcome::Written);
    EXPECT_EQ(fileBytes(HostFile::kFileName).size(), 2 * kSize);
    EXPECT_EQ(HostFile::find(QStringLiteral("q"))->host, QStringLiteral("hq"));
}

TEST(HostEntryRecord, BytesThatAreNotCp932ComeBackUnchanged)
{
    HostEntry e;
    e.displayName = QStringLiteral("abc");
    e.host = QStringLiteral("db.example");
    e.user = QStringLiteral("postgres");
    std::optional<QByteArray> record = e.toRecord();
    ASSERT_TRUE(record.has_value());
    (*record)[2] = '\x83';  // the display name now ends inside a double-byte character
    const HostEntry read = HostEntry::fromRecord(*record);
    EXPECT_FALSE(read.fitProblem().has_value());
    EXPECT_EQ(read.toRecord().value(), *record);
}
