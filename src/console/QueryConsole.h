#pragma once

#include <QString>
#include <optional>

#include "console/SqlHistory.h"
#include "workspace/Result.h"

class CKestrelDoc;
class Connection;

inline const QString kEnterSqlMessage = QStringLiteral("SQLを入力してください");
inline const QString kCompletedMessage = QStringLiteral("正常に終了しました");

// What the SQL window shows after "実行".
struct ConsoleAnswer {
    // The list shows `rows` (its columns, possibly none, and its rows); otherwise it stays
    // without columns.
    bool showRows = false;
    Result rows;
    QString response;
};

// The logic of the SQL window, for one opening: the history read from the start directory,
// the statement run as typed on the workspace's connection, and the history file rewritten
// at closing. Used on the UI thread only.
class QueryConsole {
public:
    explicit QueryConsole(CKestrelDoc& doc);

    // Empty text: the request to type one, nothing recorded or sent. Otherwise the text is
    // recorded and sent as typed, without a transaction around it.
    ConsoleAnswer execute(const QString& text);

    // The answer for a statement's result. `notice` is the first notice raised while this
    // statement ran; a command without one answers with its command status.
    static ConsoleAnswer answerFor(Result result, const Connection* conn,
                                   const std::optional<QString>& notice);

    // "CSV出力" needs a statement; the message to show when there is none.
    static std::optional<QString> csvRefusal(const QString& text);

    QString recallUp() { return m_history.up(); }
    QString recallDown() { return m_history.down(); }
    const SqlHistory& history() const { return m_history; }
    QString historyPath() const { return m_path; }

    // Rewrites the history file. Entries CP932 cannot hold and a file that cannot be written
    // are told to the operator: the history is never lost silently.
    void save();

private:
    void load();

    CKestrelDoc& m_doc;
    QString m_path;
    SqlHistory m_history;
    // The file exists but could not be read: rewriting it would destroy what it holds.
    bool m_keepFile = false;
};
