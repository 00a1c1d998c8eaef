#include "console/QueryConsole.h"

#include <QFile>
#include <QSaveFile>

#include "workspace/CKestrelDoc.h"
#include "workspace/Connection.h"
#include "workspace/Prompter.h"

namespace {

// No result and no text from libpq either (no connection at all): still a failure.
const QString kNoResultMessage = QStringLiteral("SQLを実行できませんでした");

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
    if (text.isEmpty()) {
        ConsoleAnswer refused;
        refused.response = kEnterSqlMessage;
        return refused;
    }
    m_history.append(text);
    Connection* conn = m_doc.connection();
    m_doc.beginNoticeCapture();
    Result result = conn ? conn->execTyped(text) : Result();
    const std::optional<QString> notice = m_doc.endNoticeCapture();
    return answerFor(std::move(result), conn, notice);
}

ConsoleAnswer QueryConsole::answerFor(Result result, const Connection* conn,
                                      const std::optional<QString>& notice)
{
    ConsoleAnswer answer;
    // A lost session says what became of the statement (never sent again by the program);
    // otherwise libpq's text for the session.
    QString connError = conn ? conn->lossReport() : QString();
    if (connError.isEmpty() && conn) connError = conn->errorMessage();
    if (!result.exists() || result.status() == PGRES_TUPLES_OK) {
        answer.showRows = true;
        if (!connError.isEmpty())
            answer.response = connError;
        else
            answer.response = result.exists() ? kCompletedMessage : kNoResultMessage;
        answer.rows = std::move(result);
    } else if (result.status() == PGRES_COMMAND_OK) {
        answer.response = notice ? *notice : result.commandStatus();
    } else {
        answer.response = connError;
    }
    return answer;
}

std::optional<QString> QueryConsole::csvRefusal(const QString& text)
{
    if (text.isEmpty()) return kEnterSqlMessage;
    return std::nullopt;
}
