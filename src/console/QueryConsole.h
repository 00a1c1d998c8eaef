#pragma once

#include <QString>
#include <optional>

#include "console/SqlHistory.h"
#include "workspace/Result.h"
#include "workspace/ResultStoreModel.h"

class CKestrelDoc;
class Connection;

inline const QString kEnterSqlMessage = QStringLiteral("SQLを入力してください");
inline const QString kCompletedMessage = QStringLiteral("正常に終了しました");

// What the SQL window shows after "実行".
// The list shows the console's rows meanwhile: the columns and rows of a statement that gave
// rows (all of them, or those received before it was stopped), nothing otherwise.
struct ConsoleAnswer {
    QString response;
};

// The logic of the SQL window, for one opening: the history read from the start directory,
// the statement run as typed on the workspace's connection, its rows kept in a ResultStore as
// they arrive (the window's list shows them meanwhile), and the history file rewritten at
// closing. Used on the UI thread only.
class QueryConsole {
public:
    explicit QueryConsole(CKestrelDoc& doc);

    // Empty text: the request to type one, nothing recorded or sent. Otherwise the text is
    // recorded and sent as typed, once, without a transaction around it; the rows of the
    // statement before are freed first. Like PQexec, a text of several statements answers with
    // the last one's result.
    ConsoleAnswer execute(const QString& text);

    // The rows of the latest statement, for the window's list.
    ResultStoreModel& rows() { return m_rows; }
    // How the rows are kept (the memory budget, the folder of the temporary file).
    void setStoreOptions(ResultStore::Options options) { m_storeOptions = std::move(options); }

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
    // How the answer of one text is coming in.
    struct Receiving {
        bool ended = true;         // no statement's rows are coming in now
        bool storeFailed = false;  // the store could not keep a row: the statement was stopped
    };
    // The connection's row sink: each row, and each statement's last result.
    bool take(const Result& answer, Receiving& receiving);
    // The answer for the last result. `notice` is the first notice raised while the text ran; a
    // command without one answers with its command status.
    ConsoleAnswer answerFor(const Result& last, const Connection* conn,
                            const std::optional<QString>& notice, const Receiving& receiving);
    void load();

    CKestrelDoc& m_doc;
    ResultStoreModel m_rows;
    ResultStore::Options m_storeOptions;
    QString m_path;
    SqlHistory m_history;
    // The file exists but could not be read: rewriting it would destroy what it holds.
    bool m_keepFile = false;
};
