// The COPY row writer. For any values and any quote and delimiter, the row COPY's text form
// sends for them is written as the line builder writes the same values (NULL as empty), in
// CP932, or refused exactly when the line builder's line cannot be held in CP932; and any
// bytes at all, taken as a row, are written as the line builder writes the fields they decode
// to. Rows held together and written in pieces of any size come out as those rows written one
// at a time. The writer gets the rows in buffers of their exact size, so that a sanitizer sees
// a read past them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzCheck.h"
#include "transfer/CopyRowWriter.h"

namespace {

struct Choice {
    const char* delimiter;
    const char* quote;
};

// The direct path's settings (one ASCII byte each) and the ones it leaves to the line builder.
constexpr Choice kChoices[] = {
    {",", "\""}, {"\t", "\""}, {",", "'"}, {";", "#"}, {",", "N"}, {"\"", "\""}, {",", "\r"},
    {"\t", "\t"}, {",", "\\"}, {",", "\n"}, {"||", "\""}, {",", "ab"}, {"、", "「"},
    {"x", "\xC3\xA9"}, {",", "\xF0\xA0\xAE\xB7"},
};

// A value that stands for NULL (never a value's bytes: not UTF-8).
const QByteArray kNull("\xC0", 1);

// The row COPY ... TO STDOUT sends for the values: tab between, NULL as \N, a backslash, the
// tab, the line ends and the other control characters escaped.
QByteArray CopyText(const std::vector<QByteArray>& values)
{
    QByteArray row;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) row += '\t';
        if (values[i] == kNull) {
            row += "\\N";
            continue;
        }
        for (char c : values[i]) {
            switch (c) {
            case '\\': row += "\\\\"; break;
            case '\t': row += "\\t"; break;
            case '\n': row += "\\n"; break;
            case '\r': row += "\\r"; break;
            case '\b': row += "\\b"; break;
            case '\f': row += "\\f"; break;
            case '\v': row += "\\v"; break;
            default: row += c; break;
            }
        }
    }
    return row;
}

// The line builder's line for the values, in CP932; false when CP932 cannot hold it.
bool Expected(const CsvSettings& settings, const std::vector<QByteArrayView>& values,
              QByteArray& out)
{
    CsvLineBuilder line(settings);
    for (const QByteArrayView& v : values) line.addField(v.data(), v.size());
    const QByteArrayView bytes = line.finishLine();
    Cp932Stream cp932;
    return cp932.append(out, bytes.data(), bytes.size());
}

// Writes the row and checks it against the expected line (the output's earlier bytes kept).
void Check(const CsvSettings& settings, const QByteArray& row, bool hasFields,
           const std::vector<QByteArrayView>& values)
{
    const QByteArray before("earlier rows\r\n");
    QByteArray expected = before;
    const bool encodable = Expected(settings, values, expected);
    CopyRowWriter writer(settings);
    writer.setHasFields(hasFields);
    QByteArray out = before;
    const std::unique_ptr<char[]> exact(new char[size_t(row.size())]);
    std::memcpy(exact.get(), row.constData(), size_t(row.size()));
    FUZZ_CHECK(writer.append(out, exact.get(), row.size()) == encodable);
    FUZZ_CHECK(out == (encodable ? expected : before));
    if (!encodable)
        FUZZ_CHECK(!writer.unencodableMessage(row.constData(), row.size(), 1, {}).isEmpty());
}

// The rows of held (each ending in its line feed, the last one perhaps not), written in pieces
// of at most piece bytes as the export writes held rows, against the same rows written one at
// a time; both stop at the first row refused.
void CheckHeld(const CsvSettings& settings, const QByteArray& held, qsizetype piece)
{
    CopyRowWriter one(settings);
    QByteArray expected("earlier rows\r\n");
    qint64 expectedRows = 0;
    for (qsizetype p = 0; p < held.size();) {
        const qsizetype eol = held.indexOf('\n', p);
        const qsizetype next = eol < 0 ? held.size() : eol + 1;
        if (!one.append(expected, held.constData() + p, next - p)) break;
        ++expectedRows;
        p = next;
    }

    const std::unique_ptr<char[]> exact(new char[size_t(held.size())]);
    std::memcpy(exact.get(), held.constData(), size_t(held.size()));
    const char* p = exact.get();
    const char* const end = p + held.size();
    CopyRowWriter writer(settings);
    QByteArray out("earlier rows\r\n");
    qint64 rows = 0;
    while (p < end) {
        qint64 taken = 0;
        const qsizetype used = writer.appendRows(out, p, std::min<qsizetype>(end - p, piece), taken);
        FUZZ_CHECK(used >= 0 && used <= std::min<qsizetype>(end - p, piece));
        FUZZ_CHECK((used == 0) == (taken == 0));
        rows += taken;
        p += used;
        if (used > 0) continue;
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* const next = eol ? eol + 1 : end;
        if (!writer.append(out, p, next - p)) break;
        ++rows;
        p = next;
    }
    FUZZ_CHECK(rows == expectedRows);
    FUZZ_CHECK(out == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const Choice& choice = kChoices[(data[0] & 0x7F) % (sizeof kChoices / sizeof kChoices[0])];
    const CsvSettings settings{QString::fromUtf8(choice.delimiter), QString::fromUtf8(choice.quote),
                               false};
    const bool lineFeed = data[0] & 0x80;  // the row comes with COPY's line feed
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    // The input as values, NUL between them.
    std::vector<QByteArray> values;
    for (const QByteArray& v : bytes.split('\0')) values.push_back(v);
    std::vector<QByteArrayView> plain;
    for (const QByteArray& v : values) plain.push_back(v == kNull ? QByteArrayView() : QByteArrayView(v));
    QByteArray row = CopyText(values);
    if (lineFeed) row += '\n';
    Check(settings, row, true, plain);
    // A COPY of no columns: an empty row, an empty line.
    if (bytes.isEmpty()) Check(settings, row, false, {});

    // The input as a row, whatever it holds: the fields it decodes to.
    std::vector<QByteArray> scratch(size_t(bytes.count('\t')) + 1);
    std::vector<QByteArrayView> decoded;
    qsizetype from = 0;
    QByteArrayView whole(bytes);
    if (whole.endsWith('\n')) whole.chop(1);  // the writer takes it for COPY's line feed
    for (QByteArray& s : scratch) {
        qsizetype tab = whole.indexOf('\t', from);
        if (tab < 0) tab = whole.size();
        decoded.push_back(CopyTextValue(whole.data() + from, tab - from, s));
        from = tab + 1;
    }
    Check(settings, bytes, true, decoded);

    // Rows held together: the row between others, at every alignment a short row before it
    // gives, and the input's bytes as rows of their own, in pieces of a size the input picks.
    const qsizetype piece = 1 + qsizetype(data[0] % 37) * (data[0] % 3 == 0 ? 1 : 29);
    QByteArray held;
    for (int shift = 0; shift < 16; ++shift) held += QByteArray(shift, 'a') + '\n' + row + '\n';
    CheckHeld(settings, held, piece);
    CheckHeld(settings, bytes, piece);
    CheckHeld(settings, bytes + '\n' + bytes, 1 << 16);
    return 0;
}
