// The export's rows into the bytes of its file: result rows and COPY rows written into the
// chunk gathered, and the chunk written out when it is full.
#include <cstring>

#include "transfer/CsvExport.h"
#include "transfer/ExportChecks.h"

namespace {

// Bytes gathered before they go to the file.
constexpr qsizetype kWriteChunk = 1 << 20;
// Room past a chunk for the lines that fill it (a piece of held rows takes up to four times its size).
constexpr qsizetype kWriteSlack = 320 << 10;

}  // namespace

void CsvExportJob::reserveOutput()
{
    m_out.resize(0);
    m_out.reserve(kWriteChunk + kWriteSlack);
}

void CsvExportJob::writeResult(const Result& r)
{
    switch (r.status()) {
    case PGRES_SINGLE_TUPLE:
    case PGRES_TUPLES_OK:
        // (TUPLES_OK: the end of one result set, which holds every row when single-row mode
        // did not apply, as for the later statements of a text holding several)
        if (m_stopped) return;
        if (!m_results->appendResult(m_out, r, m_rows)) stop(m_results->failure());
        flushIfFull();
        break;
    case PGRES_COMMAND_OK:
    case PGRES_EMPTY_QUERY:
        break;
    default:
        fail(ServerFailureText(r, m_conn));
        break;
    }
}

void CsvExportJob::writeCopyRow(const char* row, qsizetype size)
{
    if (!m_copyRows->append(m_out, row, size)) {
        stop(m_copyRows->unencodableMessage(row, size, m_rows + 1, m_columns));
        return;
    }
    ++m_rows;
    flushIfFull();
}

void CsvExportJob::writeCopyRows(const char* rows, qsizetype size)
{
    // In pieces, so that the bytes gathered stay near the size of a write.
    constexpr qsizetype kPiece = 64 << 10;
    const char* p = rows;
    const char* const end = rows + size;
    while (p < end && !m_stopped) {
        qint64 taken = 0;
        const qsizetype used = m_copyRows->appendRows(m_out, p, std::min<qsizetype>(end - p, kPiece), taken);
        m_rows += taken;
        p += used;
        if (used > 0) {
            flushIfFull();
            continue;
        }
        // A row the writer takes only on its own (or one longer than a piece).
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* const next = eol ? eol + 1 : end;
        writeCopyRow(p, next - p);
        p = next;
    }
}

void CsvExportJob::flushIfFull()
{
    if (m_out.size() >= kWriteChunk) flush();
}

void CsvExportJob::flush()
{
    if (m_stopped || m_out.isEmpty()) return;
    if (!m_file.write(m_out.constData(), m_out.size())) {
        stop(QStringLiteral("ファイルに書き込めませんでした。\n\nFile = %1\n%2")
                 .arg(m_file.fileName(), m_file.errorString()));
    }
    m_out.resize(0);  // keeps its allocation for the next chunk
}
