#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

// The one workspace of the process. It owns the connection, the login parameters it was
// opened with, the start directory, the server's notice texts, the superuser flag and the
// browse state that the object tree writes and the list view reads.
//
// Threading: everything is used on the UI thread, except the notice texts, which the notice
// receiver may write from the CSV import's worker thread; they are only reached through the
// locked accessors below.
class CKestrelDoc : public QObject, private SessionReporter {
    Q_OBJECT
public:
    // Runs the login dialog; nothing when it was cancelled. The application installs one that
    // shows CLoginDlg; tests install their own.
    using LoginRunner = std::function<std::optional<LoginParameters>()>;

    explicit CKestrelDoc(QObject* parent = nullptr);
    ~CKestrelDoc() override;

    void setLoginRunner(LoginRunner runner) { m_loginRunner = std::move(runner); }
    // How the operator waits on the session's statements (not owned); given to every
    // connection a login opens. The application installs the one that shows the wait.
    void setWaiter(Waiter* waiter) { m_waiter = waiter; }

    // Runs the login dialog and opens the connection: 0 on success, -1 on failure.
    int Connect();
    // Installs the notice receiver on the current connection, with this workspace as context.
    void installNoticeReceiver();

    // The connection of the latest login (possibly a failed one); null before any login.
    Connection* connection() const { return m_connection.get(); }
    // The database and host of the session as libpq connected them (the database field may
    // hold a connection string); the typed texts when there is no session.
    QString sessionDatabase() const;
    QString sessionHost() const;
    // What the status bar says of the session: encrypted or not, a transaction open or failed,
    // the session lost.
    QString sessionStateText() const;

    // libpq notice-processor entry; `context` is the workspace.
    static void noticeReceiver(void* context, const char* message);
    // The notice receiver proper (also for tests).
    void receiveNotice(const QString& message);
    QString pendingNoticesText() const;
    // Appends the server's text for a failed statement to the log pane's pending text. Unlike
    // a notice it never becomes firstNotice nor the SQL window's captured answer.
    void logServerError(const QString& text);
    // Reads and empties the pending notices in one step (the log view's tick).
    QString takePendingNotices();
    QString firstNoticeText() const;

    // The SQL window's answer to one statement: between the two calls, the first notice
    // received is kept apart, so a notice left over from an earlier statement is never taken
    // for this statement's. firstNotice and the pending text are kept as before.
    void beginNoticeCapture();
    // The first notice received since beginNoticeCapture(); nothing when none arrived.
    std::optional<QString> endNoticeCapture();

    // Asks every view to show the current browse state again.
    void updateAllViews(QObject* sender = nullptr) { emit viewsUpdateRequested(sender); }

    // Login parameters, copied from the login dialog.
    QString userName;
    QString password;
    QString hostName;
    QString port;
    QString options;
    QString tty;
    QString databaseName;

    QString startDirectory;
    int superUser = 0;

    // Browse state.
    QString nodeCaption;
    QString parentCaption;
    int nodeDepth = 0;
    int nodeImage = 0;
    int pageIndex = 0;
    int pageLength = 0;
    int folderFlag = 0;
    int tableFlag = 0;
    int catalogueFlag = 0;
    int viewFlag = 0;
    QString objectName;
    // The schema of the browsed table, view or sequence, and whether the search path finds it
    // by its bare name; the tree writes them with objectName.
    QString objectSchema;
    bool objectVisible = true;
    ObjectName browsedObject() const { return {objectSchema, objectName, objectVisible}; }

signals:
    // After a successful login: the texts of the three information panes of the status bar.
    void statusPanesChanged(const QString& login, const QString& host, const QString& speed);
    void viewsUpdateRequested(QObject* sender);
    // After a statement, a loss or a restore: sessionStateText() may have changed.
    void sessionStateChanged();

private:
    void restoreStartDirectory();
    void logLine(const QString& line) override;
    void tell(const QString& text) override;
    bool ask(const QString& question) override;

    std::unique_ptr<Connection> m_connection;
    LoginRunner m_loginRunner;
    Waiter* m_waiter = nullptr;

    mutable std::mutex m_noticeLock;
    QString m_pendingNotices;  // pendingNotices
    QString m_firstNotice;     // firstNotice
    bool m_capturing = false;
    std::optional<QString> m_captured;
};
