// The CSV reader. Records are well formed whatever the bytes and cover every line; and values
// written the way the export writes them (enclosed, the quote doubled) read back as the very
// same values.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "transfer/CsvLine.h"
#include "transfer/CsvReader.h"

namespace {

struct Choice {
    const char* delimiter;
    const char* quote;
};

constexpr Choice kChoices[] = {
    {",", "\""}, {"\t", "\""}, {",", "'"}, {"||", "\""}, {";", "#"}, {",", ""},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const Choice& choice = kChoices[data[0] % (sizeof kChoices / sizeof kChoices[0])];
    const CsvFormat format = CsvFormat::from(QString::fromLatin1(choice.delimiter),
                                             QString::fromLatin1(choice.quote));
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    // Every line belongs to one record: the next record starts on the line after the last
    // line end a record holds (a quote that never closes holds none, its line is read alone).
    qint64 line = 1;
    for (const CsvRecord& rec : ReadCsvRecords(bytes, format)) {
        FUZZ_CHECK(rec.fieldCount() >= 1);
        FUZZ_CHECK(rec.firstLine == line);
        line = rec.firstLine + 1 + qint64(std::count(rec.data.begin(), rec.data.end(), '\n'));
        qsizetype end = 0;
        for (qsizetype e : rec.ends) {
            FUZZ_CHECK(e >= end && e <= qsizetype(rec.data.size()));
            end = e;
        }
        if (!rec.valid || QByteArrayView(choice.quote).isEmpty()) continue;
        FUZZ_CHECK(QUtf8StringView(QByteArrayView(rec.data)).isValidUtf8());

        // Values with no line end of their own, written again as the export writes them.
        bool lineEnds = false;
        for (int i = 0; i < rec.fieldCount(); ++i)
            lineEnds = lineEnds || rec.field(i).contains('\r') || rec.field(i).contains('\n');
        if (lineEnds) continue;
        CsvLineBuilder builder({QString::fromLatin1(choice.delimiter),
                                QString::fromLatin1(choice.quote), false});
        for (int i = 0; i < rec.fieldCount(); ++i)
            builder.addField(rec.field(i).data(), rec.field(i).size());
        const QByteArray written = "\xEF\xBB\xBF" + builder.finishLine().toByteArray();
        const std::vector<CsvRecord> back = ReadCsvRecords(written, format);
        FUZZ_CHECK(back.size() == 1);
        FUZZ_CHECK(back[0].fieldCount() == rec.fieldCount());
        for (int i = 0; i < rec.fieldCount(); ++i) FUZZ_CHECK(back[0].field(i) == rec.field(i));
    }
    return 0;
}
