#include <gtest/gtest.h>

#include <QStringList>

#include "transfer/CsvReader.h"
#include "workspace/TextCodec.h"

namespace {

QStringList fields(const CsvRecord& r)
{
    QStringList out;
    for (int i = 0; i < r.fieldCount(); ++i) out << r.text(i);
    return out;
}

std::vector<QStringList> read(const QByteArray& bytes, const QString& d = QStringLiteral(","),
                              const QString& q = QStringLiteral("\""))
{
    std::vector<QStringList> out;
    for (const CsvRecord& r : ReadCsvRecords(bytes, CsvFormat::from(d, q))) out.push_back(fields(r));
    return out;
}

}  // namespace

TEST(CsvReader, QuotedAndUnquotedFields)
{
    const QByteArray file = "abc,def\r\n"
                            "\"a,b\",\"say \"\"hi\"\"\",\"\"\n"
                            " x ,\"two\r\nlines\",\"3\"\n"
                            "a\"b,\"c\"d\",\n"
                            "\n"
                            "last,no end";
    const std::vector<QStringList> r = read(file);
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(r[0], (QStringList{"abc", "def"}));
    EXPECT_EQ(r[1], (QStringList{"a,b", "say \"hi\"", ""}));
    EXPECT_EQ(r[2], (QStringList{" x ", "two\r\nlines", "3"}));  // the line end as the file holds it
    // A quote not at a field's start is data; an enclosed field's inner quote likewise.
    EXPECT_EQ(r[3], (QStringList{"a\"b", "c\"d", ""}));
    EXPECT_EQ(r[4], (QStringList{""}));
    EXPECT_EQ(r[5], (QStringList{"last", "no end"}));
    // The same records from the text operations; a line end inside quotes continues the record.
    EXPECT_EQ(CountCsvFields(QStringLiteral("\"a,b\",c\n"), ",", "\""), 2);
    EXPECT_EQ(GetCsvField(QStringLiteral("\"a,b\",c\n"), ",", 0, "\""), QStringLiteral("a,b"));
    EXPECT_EQ(GetCsvField(QStringLiteral("x,\"1\n2\",y"), ",", 1, "\""), QStringLiteral("1\n2"));
    EXPECT_EQ(GetCsvField(QStringLiteral("x,y"), ",", 5, "\""), QString());
    // Another quote text, and no quote at all: the text stands as it is.
    EXPECT_EQ(read("'a,b',\"c\"\n", ",", "'")[0], (QStringList{"a,b", "\"c\""}));
    EXPECT_EQ(read("\"a\",b\n", ",", "")[0], (QStringList{"\"a\"", "b"}));
}

TEST(CsvReader, DelimitersAndFieldLimits)
{
    EXPECT_EQ(read("a||b|c||\"d||e\"\n", "||")[0], (QStringList{"a", "b|c", "d||e"}));
    EXPECT_EQ(read("a\tb,c\t\"d\te\"\n", "\t")[0], (QStringList{"a", "b,c", "d\te"}));
    // An empty delimiter never splits.
    EXPECT_EQ(read("a,b\n", "")[0], (QStringList{"a,b"}));
    QStringList many;
    for (int i = 0; i < 602; ++i) many << QString::number(i);
    const QString line602 = many.join(u','), line603 = line602 + QStringLiteral(",x");
    EXPECT_EQ(CountCsvFields(line602, ",", "\""), 602);
    EXPECT_EQ(GetCsvField(line602, ",", 601, "\""), QStringLiteral("601"));
    EXPECT_EQ(CountCsvFields(line603, ",", "\""), -1);
    EXPECT_EQ(GetCsvField(line603, ",", 602, "\""), QString());
}

TEST(CsvReader, ExportOutputReadsBackExactly)
{
    // What the export writes with its defaults: every value between double quotes, commas
    // between them, CR LF line ends, a NULL as an empty value.
    const QByteArray exported = "\"id\",\"name\",\"note\"\r\n"
                                "\"1\",\"abc\",\"\"\r\n"
                                "\"2\",\"O'Brien\",\"x y\"\r\n";
    const std::vector<QStringList> r = read(exported);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], (QStringList{"id", "name", "note"}));
    EXPECT_EQ(r[1], (QStringList{"1", "abc", ""}));
    EXPECT_EQ(r[2], (QStringList{"2", "O'Brien", "x y"}));
    // Tab with apostrophes, the export's other default pair.
    EXPECT_EQ(read("'1'\t'a b'\r\n", "\t", "'")[0], (QStringList{"1", "a b"}));
}

TEST(CsvReader, EncodingsAndInvalidLines)
{
    // CP932 without a byte-order mark; ソ is 0x83 0x5C, whose second byte is a backslash.
    const QByteArray cp932 = *Cp932::encode(QStringLiteral("ソ表,\"日本,語\"\n"));
    QByteArray file = cp932 + "ok,\x82\n" + "fine,\x85\x40\n" + "end\n";
    std::vector<CsvRecord> r = ReadCsvRecords(file, CsvFormat::from(",", "\""));
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(fields(r[0]), (QStringList{QStringLiteral("ソ表"), QStringLiteral("日本,語")}));
    EXPECT_TRUE(r[0].valid);
    EXPECT_FALSE(r[1].valid);  // a lead byte cut off at the line end
    EXPECT_EQ(r[1].raw, QByteArray("ok,\x82"));
    EXPECT_EQ(r[1].firstLine, 2);
    EXPECT_FALSE(r[2].valid);  // 0x85 0x40 is no CP932 character
    EXPECT_TRUE(r[3].valid);
    EXPECT_EQ(r[3].text(0), QStringLiteral("end"));

    // UTF-8 with a byte-order mark; a byte that is not UTF-8 makes its line invalid.
    const QByteArray utf8 = "\xEF\xBB\xBF" + QStringLiteral("名前,値\n").toUtf8() + "a,\xff\n" + "b,\xe2\x82\xac\n";
    QByteArray copy = utf8;
    r = ReadCsvRecords(utf8, CsvFormat::from(",", "\""));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(fields(r[0]), (QStringList{QStringLiteral("名前"), QStringLiteral("値")}));
    EXPECT_FALSE(r[1].valid);
    EXPECT_EQ(fields(r[2]), (QStringList{"b", QStringLiteral("€")}));
    // A NUL byte cannot reach the server: its line is invalid too.
    EXPECT_FALSE(ReadCsvRecords(QByteArray("a,b\0c\n", 6), CsvFormat::from(",", "\""))[0].valid);
}

TEST(CsvReader, AnUnreadableLineReadsAsTheImportLogShowsIt)
{
    // Its fields (the preview) and the log's text of its raw bytes follow one rule: after a
    // byte that is not CP932 reading goes on at the next byte, which may begin a character
    // that takes the ASCII byte after it (0x83 0x41 is ア, 0xE0 0x7C a kanji).
    const QByteArray samples[] = {
        QByteArray("a\x85\x83\x41z"),
        QByteArray("\x85\xE0|b"),
        QByteArray("x\xA0\x82"),
        QByteArray("\x81\x20\x83\x41"),
    };
    for (const QByteArray& line : samples) {
        const std::vector<CsvRecord> r = ReadCsvRecords(line + "\r\n", CsvFormat::from(";", "\""));
        ASSERT_EQ(r.size(), 1u) << line.toHex().toStdString();
        EXPECT_FALSE(r[0].valid);
        EXPECT_EQ(r[0].raw, line);
        EXPECT_EQ(r[0].text(0), Cp932::decode(line)) << line.toHex().toStdString();
    }
    EXPECT_EQ(Cp932::decode(samples[0]), QStringLiteral("a\uFFFDアz"));
}

// Where a quote stays open, a line of its own is refused and the lines after it are records of
// their own (the import dialog's tests read the plain cases through the preview and the run).
TEST(CsvReader, AQuoteThatNeverClosesCostsItsLineAlone)
{
    auto shape = [](const QByteArray& file) {
        QStringList out;  // "line:fields" for a record, "line!fields" for a refused one
        for (const CsvRecord& r : ReadCsvRecords(file, CsvFormat::from(",", "\"")))
            out << QString::number(r.firstLine) + (r.valid ? u':' : u'!') + fields(r).join(u'|');
        return out;
    };
    EXPECT_EQ(shape("\"a\n\"b,c\nd\n"), (QStringList{"1!\"a", "2!\"b,c", "3:d"}));
    EXPECT_EQ(shape("1,\"x\"\"y\nz\n"), (QStringList{"1!1|\"x\"y", "2:z"}));
    EXPECT_EQ(shape("1,\"a\n2,b\"\n3,c\n"), (QStringList{"1:1|a\n2,b", "3:3|c"}));  // closed later

    // Open past the longest record: refused as well, and every line after it is read.
    QByteArray big = "\"open\n";
    const QByteArray filler(1 << 20, 'x');
    while (big.size() <= CsvRecordReader::kMaxRecordBytes) big += filler + '\n';
    const std::vector<CsvRecord> r = ReadCsvRecords(big + "last,line\n", CsvFormat::from(",", "\""));
    ASSERT_EQ(r.size(), 18u);
    EXPECT_EQ(r[0].problem, QStringLiteral("1 行目で開いた引用符が閉じられないまま、レコードが長すぎます"));
    EXPECT_EQ(r[1].firstLine, 2);
    EXPECT_EQ(r[1].field(0).size(), filler.size());
    EXPECT_EQ(fields(r.back()), (QStringList{"last", "line"}));

    // A NUL in one line leaves the file to the reader; in most lines the file is not text.
    const QByteArray nul("a\0b\n", 4);
    EXPECT_TRUE(NotCsvText(nul + "c\nd\n").isEmpty());
    EXPECT_FALSE(NotCsvText(nul + nul + "c\n").isEmpty());
}
