#include "transfer/ImportLog.h"

#include <QFileInfo>
#include <optional>

#include "transfer/CsvReader.h"
#include "workspace/TextCodec.h"

std::optional<QString> ImportErrorLog::open(const QString& path)
{
    // Named in full in a refusal: the log lands in the start folder, which the operator may
    // not have in mind.
    m_file.setFileName(QFileInfo(path).absoluteFilePath());
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append)) return std::nullopt;
    return ImportFileRefusal(m_file);
}

QString ImportFileRefusal(const QFile& file)
{
    return QStringLiteral("ファイルを開けませんでした。\n\nFile = %1\n%2").arg(file.fileName(), file.errorString());
}

std::optional<QString> OpenImportInput(QFile& input)
{
    // A directory opens for reading on some systems and then reads nothing.
    if (input.fileName().isEmpty()) return QStringLiteral("ファイル名を入力してください");
    if (!input.open(QIODevice::ReadOnly) || QFileInfo(input).isDir()) {
        const QString why = ImportFileRefusal(input);
        input.close();
        return why;
    }
    const QString what = NotCsvText(input.peek(kCsvHeadBytes));
    if (what.isEmpty()) return std::nullopt;
    input.close();
    return QStringLiteral("%1\nCP932 のテキスト（またはバイト順マーク付きの UTF-8）ではないため、インポートできません。\n\nFile = %2")
        .arg(what, input.fileName());
}

QString ImportWithoutLogQuestion(const QString& why)
{
    return why + QStringLiteral("\n\nエラーになった行は件数に数えますが、ログには書き込みません。このままインポートしますか？");
}

void ImportErrorLog::add(const QByteArray& query, const QString& why, qint64 line)
{
    if (!m_file.isOpen()) return;
    const QString text = line > 0 ? QStringLiteral("%1 行目: ").arg(line) + why : why;
    m_file.write("Query:" + query + " Error:" + ImportLogBytes(text) + "\r\n");
}

QByteArray ImportLogBytes(const QString& text)
{
    QString crlf = text;
    crlf.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\n', QStringLiteral("\r\n"));
    if (std::optional<QByteArray> b = Cp932::encode(crlf)) return *b;
    QByteArray out;
    for (qsizetype i = 0; i < crlf.size(); ++i) {
        const int len = crlf.at(i).isHighSurrogate() && i + 1 < crlf.size() ? 2 : 1;
        const QString ch = crlf.mid(i, len);
        if (std::optional<QByteArray> b = Cp932::encode(ch))
            out += *b;
        else
            out += QStringLiteral("<U+%1>").arg(ch.toUcs4().value(0), 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        i += len - 1;
    }
    return out;
}
