#include "HostsTestDir.h"
#include "hosts/FolderFile.h"
#include "hosts/HostFile.h"
#include "workspace/TextCodec.h"

namespace {

using Node = HostDirectory::Node;

// The tree as text: name, 'F' or 'H', and the children in brackets.
QString dump(const Node& node)
{
    QString out = node.name() + (node.isFolder() ? u'F' : u'H');
    if (node.children().empty()) return out;
    QStringList inner;
    for (const auto& child : node.children()) inner << dump(*child);
    return out + u'[' + inner.join(u',') + u']';
}

QString loadedTree()
{
    HostDirectory d;
    FolderFile::load(d, d.createRoot());
    return dump(*d.root());
}

// Inserts a folder or a host below `parent`.
Node& add(HostDirectory& d, Node& parent, const char* name, bool folder = false)
{
    return d.insert(parent, QString::fromUtf8(name),
                    folder ? HostDirectory::kFolderImage : HostDirectory::kHostImage);
}

}  // namespace

using FolderFileTest = HostsTestDir;

TEST_F(FolderFileTest, ExampleTreeSavesAsFiveLinesAndLoadsBack)
{
    HostDirectory d;
    Node& root = d.createRoot();
    add(d, root, "local");
    Node& office = add(d, root, "Office", true);
    add(d, office, "db2");
    add(d, office, "db1");
    ASSERT_TRUE(FolderFile::save(d));
    const QByteArray expected =
        "4\r\n0 0 Office -1\r\n1 2 db1 -1\r\n1 2 db2 -1\r\n0 2 local -1\r\n";
    EXPECT_EQ(fileBytes(FolderFile::kFileName), expected);
    EXPECT_EQ(loadedTree(), dump(root));
    EXPECT_EQ(dump(root), QStringLiteral("ホストF[OfficeF[db1H,db2H],localH]"));

    // Written by another system with LF alone: the same tree.
    writeFile(FolderFile::kFileName, QByteArray(expected).replace("\r\n", "\n"));
    EXPECT_EQ(loadedTree(), dump(root));
}

TEST_F(FolderFileTest, ParentNumbersFollowLineOrderNotDepth)
{
    HostDirectory d;
    Node& root = d.createRoot();
    Node& a = add(d, root, "A", true);
    add(d, add(d, a, "B", true), "h");
    add(d, a, "a2");
    add(d, add(d, add(d, root, "本社", true), "Y", true), "y");
    ASSERT_TRUE(FolderFile::save(d));
    EXPECT_EQ(fileBytes(FolderFile::kFileName),
              QByteArray("7\r\n0 0 A -1\r\n1 0 B -1\r\n2 2 h -1\r\n1 2 a2 -1\r\n"
                         "0 0 \x96\x7b\x8e\xd0 -1\r\n5 0 Y -1\r\n6 2 y -1\r\n"));
    EXPECT_EQ(loadedTree(), dump(root));
}

TEST_F(FolderFileTest, DamagedOrEmptyFilesKeepWhatReads)
{
    const QString rootOnly = HostDirectory::kRootName + u'F';
    EXPECT_EQ(loadedTree(), rootOnly);  // no file
    for (const char* contents : {"0\r\n", "-3\n0 0 A -1\n", "", "x\n0 0 A -1\n"}) {
        writeFile(FolderFile::kFileName, contents);
        EXPECT_EQ(loadedTree(), rootOnly) << contents;
    }
    const struct {
        const char* contents;
        const char* tree;
    } cases[] = {
        // cut off in the middle of an item
        {"4\n0 0 Office -1\n1 2 db1 -1\n1 2", "OfficeF[db1H]"},
        // a malformed item ends the reading
        {"3\n0 0 A -1\n0 x B -1\n0 0 C -1\n", "AF"},
        // fewer lines than counted
        {"5\r\n0 0 A -1\r\n", "AF"},
        // a parent no earlier line defined: under the root, not lost
        {"2\n0 0 A -1\n7 2 lost -1\n", "AF,lostH"},
    };
    for (const auto& c : cases) {
        writeFile(FolderFile::kFileName, c.contents);
        EXPECT_EQ(loadedTree(), rootOnly + u'[' + QString::fromUtf8(c.tree) + u']') << c.contents;
    }
}

TEST_F(FolderFileTest, NamesTheFileCannotCarry)
{
    // Longer names (only from foreign files) are kept to 19 bytes, never half a character.
    HostDirectory d;
    Node& root = d.createRoot();
    add(d, root, "abcdefghijklmnopqrstu");
    add(d, root, "あいうえおかきくけこ");  // 20 bytes
    ASSERT_TRUE(FolderFile::save(d));
    EXPECT_EQ(fileBytes(FolderFile::kFileName),
              QByteArray("2\r\n0 2 abcdefghijklmnopqrs -1\r\n0 2 "
                         "\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8\x82\xa9\x82\xab\x82\xad\x82\xaf"
                         " -1\r\n"));

    const QString field = QStringLiteral("フォルダ名");
    EXPECT_FALSE(FolderFile::nameProblem(field, QStringLiteral("abcdefghijklmnopqrs")));
    EXPECT_FALSE(FolderFile::nameProblem(field, QStringLiteral("営業部")));
    for (const QString& bad : {QString(), QStringLiteral("a b"), QStringLiteral("a\tb"),
                               QStringLiteral("abcdefghijklmnopqrst"),
                               QStringLiteral("あいうえおかきくけこ"), QStringLiteral("♞")}) {
        const std::optional<QString> problem = FolderFile::nameProblem(field, bad);
        ASSERT_TRUE(problem) << bad.toStdString();
        EXPECT_TRUE(problem->startsWith(QStringLiteral("「フォルダ名」")))
            << problem->toStdString();
    }

    // A host named like the deletion mark would find deleted records.
    HostEntry star;
    star.displayName = QStringLiteral("*");
    EXPECT_TRUE(HostFile::entryProblem(star));
    star.displayName = QStringLiteral("ok");
    EXPECT_FALSE(HostFile::entryProblem(star));
}

TEST_F(FolderFileTest, ANameCutInsideADoubleByteCharacterIsKeptAndLaterSavesWork)
{
    // Another tool cut the folder name after its 19th byte, inside the last character.
    const QByteArray name19 = QByteArray("abcdefghijklmnopqr") + "\x83";
    ASSERT_EQ(name19.size(), 19);
    writeFile(FolderFile::kFileName, "2\r\n0 0 " + name19 + " -1\r\n1 2 db1 -1\r\n");
    HostDirectory d;
    Node& root = d.createRoot();
    FolderFile::load(d, root);
    ASSERT_EQ(root.children().size(), 1u);
    Node& folder = *root.children().front();
    EXPECT_FALSE(folder.name().contains(QChar(0xFFFD)));

    // A host added meanwhile is saved, and the damaged name goes back byte for byte.
    add(d, root, "新しいホスト");
    ASSERT_TRUE(FolderFile::save(d));
    EXPECT_EQ(fileBytes(FolderFile::kFileName),
              "3\r\n0 0 " + name19 + " -1\r\n1 2 db1 -1\r\n0 2 " +
                  *Cp932::encode(QStringLiteral("新しいホスト")) + " -1\r\n");
    EXPECT_EQ(loadedTree(), dump(root));
    // 〜 cannot be a name: it would come back as ～.
    EXPECT_TRUE(FolderFile::nameProblem(QStringLiteral("フォルダ名"), QStringLiteral("a〜b")).has_value());
}
