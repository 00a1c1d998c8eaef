#include "console/QueryConsole.h"

#include <QFile>
#include <QLocale>
#include <QSaveFile>

#include "workspace/CKestrelDoc.h"
#include "workspace/Connection.h"
#include "workspace/Prompter.h"

namespace {

// No result and no text from libpq either (no connection at all): still a failure.
const QString kNoResultMessage = QStringLiteral("SQLを実行できませんでした");
// A statement stopped ("中止", a statement timeout) after some of its rows had arrived.
const QString kIncompleteMessage =
    QStringLiteral("結果は不完全です: %1 行を受信したところで中止されました（%2）");
// The rows could not be kept (the temporary file could not be written).
const QString kStoreStoppedMessage =
    QStringLiteral("結果は不完全です: %1 行を受信したところで受信を止めました。%2");

QString rowCountText(qint64 rows) { return QLocale(QLocale::Japanese).toString(rows); }

}  // namespace

QueryConsole::QueryConsole(CKestrelDoc& doc) : m_doc(doc) { load(); }

void QueryConsole::load()
{
    m_path = SqlHistory::filePath(m_doc.startDirectory);
    QFile file(m_path);
    if (!file.exists()) return;
    if (!file.open(QIODevice::ReadOnly)) {
        m_keepFile = true;
        prompter().tell(BoxKind::Window,
                        QStringLiteral("履歴ファイル %1 を読み込めませんでした。"
                                       "このウィンドウで実行したSQLは履歴に残りません。")
                            .arg(m_path));
        return;
    }
    m_history = SqlHistory(SqlHistory::parse(file.readAll()));
}

void QueryConsole::save()
{
    if (m_keepFile) return;
    const SqlHistory::FileText text = SqlHistory::format(m_history.entries());
    QSaveFile file(m_path);
    file.setDirectWriteFallback(true);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(text.bytes) == text.bytes.size() && file.commit();
    if (!written) {
        prompter().tell(BoxKind::Window,
                        QStringLiteral("履歴ファイル %1 に書き込めませんでした。").arg(m_path));
        return;
    }
    if (!text.leftOut.isEmpty()) {
        prompter().tell(BoxKind::Window,
                        QStringLiteral("CP932で表せない文字「%1」を含むSQLが%2件あり、"
                                       "履歴ファイルに保存できませんでした。")
                            .arg(text.firstBadChar)
                            .arg(text.leftOut.size()));
    }
}

ConsoleAnswer QueryConsole::execute(const QString& text)
{
    m_rows.clear();
    if (text.isEmpty()) {
        ConsoleAnswer refused;
        refused.response = kEnterSqlMessage;
        return refused;
    }
    m_history.append(text);
    Connection* conn = m_doc.connection();
    Receiving receiving;
    m_doc.beginNoticeCapture();
    const Result last =
        conn ? conn->execStreaming(text, [&](const Result& r) { return take(r, receiving); })
             : Result();
    const std::optional<QString> notice = m_doc.endNoticeCapture();
    return answerFor(last, conn, notice, receiving);
}

bool QueryConsole::take(const Result& answer, Receiving& receiving)
{
    const ExecStatusType status = answer.status();
    // A failure ends the text (the server runs none of its later statements); answerFor decides
    // what the rows that came before it mean.
    if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE) return true;
    const bool hasRows =
        status == PGRES_SINGLE_TUPLE || (status == PGRES_TUPLES_OK && answer.rows() > 0);
    if (hasRows) {
        // The first rows of a statement: those of the statement before are let go, as PQexec
        // keeps only the last result.
        if (receiving.ended) m_rows.setStore(std::make_unique<ResultStore>(m_storeOptions));
        receiving.ended = false;
        const bool kept = m_rows.store()->append(answer);
        m_rows.rowsArrived();
        if (!kept) {
            receiving.storeFailed = true;
            return false;
        }
    }
    if (status != PGRES_SINGLE_TUPLE) {
        // A statement's last result: a statement without rows ends those of the one before.
        if (!hasRows && receiving.ended) m_rows.clear();
        receiving.ended = true;
    }
    return true;
}

ConsoleAnswer QueryConsole::answerFor(const Result& last, const Connection* conn,
                                      const std::optional<QString>& notice,
                                      const Receiving& receiving)
{
    ConsoleAnswer answer;
    // A lost session says what became of the statement (never sent again by the program);
    // otherwise libpq's text for the session.
    QString connError = conn ? conn->lossReport() : QString();
    if (connError.isEmpty() && conn) connError = conn->errorMessage();
    const ResultStore* store = m_rows.store();
    const bool rowsCameIn = !receiving.ended && store && store->rows() > 0;
    if (receiving.storeFailed) {
        answer.response = kStoreStoppedMessage.arg(rowCountText(store->rows()), store->error());
    } else if (rowsCameIn && !last.exists() && conn && !conn->lossReport().isEmpty()) {
        // The session went (or was given up) while rows came in: those received stay.
        answer.response = kIncompleteMessage.arg(rowCountText(store->rows()), conn->lossReport());
    } else if (rowsCameIn && last.cancelled()) {
        answer.response = kIncompleteMessage.arg(rowCountText(store->rows()),
                                                 last.errorMessage().section(u'\n', 0, 0).trimmed());
    } else if (!last.exists() || last.status() == PGRES_TUPLES_OK) {
        if (last.exists() && !store) {
            // No row came: the columns are those of the last result.
            m_rows.setStore(std::make_unique<ResultStore>(m_storeOptions));
            QStringList names;
            for (int f = 0; f < last.fields(); ++f) names << last.fieldName(f);
            m_rows.store()->setFieldNames(names);
        }
        if (!connError.isEmpty())
            answer.response = connError;
        else
            answer.response = last.exists() ? kCompletedMessage : kNoResultMessage;
    } else if (last.status() == PGRES_COMMAND_OK) {
        m_rows.clear();
        answer.response = notice ? *notice : last.commandStatus();
    } else {
        m_rows.clear();
        answer.response = connError;
    }
    m_rows.publish();
    return answer;
}

std::optional<QString> QueryConsole::csvRefusal(const QString& text)
{
    if (text.isEmpty()) return kEnterSqlMessage;
    return std::nullopt;
}
