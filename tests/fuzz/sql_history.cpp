// .HistorySQL: lines cut into entries. No entry holds a line end or is longer than a piece,
// and entries that can be written again read back unchanged.
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "console/SqlHistory.h"
#include "workspace/TextCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList entries = SqlHistory::parse(file);
    FUZZ_CHECK(file.isEmpty() == entries.isEmpty());
    for (const QString& e : entries) {
        FUZZ_CHECK(!e.contains(QLatin1Char('\r')) && !e.contains(QLatin1Char('\n')));
        if (const std::optional<QByteArray> bytes = Cp932::encode(e))
            FUZZ_CHECK(bytes->size() <= SqlHistory::kPieceBytes);
    }
    const SqlHistory::FileText written = SqlHistory::format(entries);
    if (written.leftOut.isEmpty() && entries.size() <= SqlHistory::kKeptEntries)
        FUZZ_CHECK(SqlHistory::parse(written.bytes) == entries);

    // Up and Down stay within the entries whatever the walk.
    SqlHistory history(entries);
    for (qsizetype i = 0; i < qMin<qsizetype>(file.size(), 64); ++i) {
        const QString text = (file[i] & 1) ? history.up() : history.down();
        FUZZ_CHECK(text.isEmpty() || entries.contains(text));
        FUZZ_CHECK(history.cursor() >= 0 && history.cursor() <= entries.size());
    }
    return 0;
}
