#include "workspace/CKestrelDoc.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "workspace/Prompter.h"

namespace {

const QString kLoginStopped = QStringLiteral("接続を中止しました。");

// The notice texts are written on one thread and read on another. QString shares its buffer
// between copies and counts the sharers with atomics inside the Qt library, so a copy handed
// across the lock would leave one buffer released by whichever thread lets go last, outside
// the lock. Every text that goes in or out under the lock is therefore a copy of its own.
QString ownCopy(const QString& text)
{
    return text.isNull() ? QString() : QString(text.constData(), text.size());
}

}  // namespace

CKestrelDoc::CKestrelDoc(QObject* parent) : QObject(parent) {}

CKestrelDoc::~CKestrelDoc() = default;

void CKestrelDoc::restoreStartDirectory()
{
    if (startDirectory.isEmpty()) {
        char buf[PATH_MAX];
        if (!::getcwd(buf, sizeof buf)) {
            std::fprintf(stderr, "_getcwd 関数でエラーが起こりました: %s\n", std::strerror(errno));
            return;
        }
        startDirectory = QString::fromLocal8Bit(buf);
    }
    // The host directory files are opened by bare name: whatever a file dialog did to the
    // working directory since, every login sees the files of the directory we started in.
    if (::chdir(startDirectory.toLocal8Bit().constData()) != 0) {
        // Ignored: the login goes on in whatever directory is current.
    }
}

int CKestrelDoc::Connect()
{
    superUser = 0;
    restoreStartDirectory();

    std::optional<LoginParameters> p = m_loginRunner ? m_loginRunner() : std::nullopt;
    if (!p) {
        prompter().tell(BoxKind::Application, QStringLiteral("ログイン失敗"));
        return -1;
    }
    userName = p->userName;
    password = p->password;
    hostName = p->hostName;
    port = p->port;
    options = p->options;
    tty = p->tty;
    databaseName = p->databaseName;

    // A scan of a big table starts where the last one of any session stopped (synchronized
    // scans), so "Limit n OFFSET m" would give another page each time and the first page would
    // not start the table. Pages by number need every scan to start at the table's start. The
    // setting is made again on every session that replaces a lost one.
    std::unique_ptr<Connection> opened = Connection::login(
        *p, m_waiter, {QStringLiteral("SET synchronize_seqscans TO off")});
    if (!opened) {
        // "中止" while the session was being opened: nothing changes.
        prompter().tell(BoxKind::Application, kLoginStopped);
        return -1;
    }
    m_connection = std::move(opened);
    switch (m_connection->openOutcome()) {
    case Connection::OpenOutcome::Opened:
        break;
    case Connection::OpenOutcome::NotUtf8:
        // Every text the server holds must reach the screen: the session speaks UTF-8, and only
        // the system's files are converted to CP932. A session that does not is not used at
        // all: its texts would be read as something they are not.
        prompter().tell(BoxKind::Application,
                        QStringLiteral("クライアントの文字コードを UTF8 に設定できませんでした。\n%1")
                            .arg(m_connection->errorMessage()));
        m_connection.reset();
        return -1;
    default:
        prompter().tell(BoxKind::Application, m_connection->errorMessage());
        return -1;
    }
    m_connection->setWaiter(m_waiter);
    m_connection->setRestorable(this);
    m_connection->setStateListener([this] { emit sessionStateChanged(); });
    emit statusPanesChanged(QStringLiteral("ログイン名　%1").arg(userName),
                            QStringLiteral("ホスト名　%1").arg(sessionHost()),
                            QStringLiteral("検索スピード"));
    emit sessionStateChanged();
    superUser = 1;
    return 0;
}

QString CKestrelDoc::sessionDatabase() const
{
    return m_connection && !m_connection->isBad() ? m_connection->databaseName() : databaseName;
}

QString CKestrelDoc::sessionHost() const
{
    return m_connection && !m_connection->isBad() ? m_connection->hostName() : hostName;
}

QString CKestrelDoc::sessionStateText() const
{
    if (!m_connection || m_connection->openOutcome() != Connection::OpenOutcome::Opened) return {};
    if (m_connection->isLost()) return QStringLiteral("接続切断");
    QString text = m_connection->encrypted() ? QStringLiteral("暗号化あり") : QStringLiteral("暗号化なし");
    if (m_connection->transactionFailed())
        text += QStringLiteral("　トランザクション失敗");
    else if (m_connection->inTransaction())
        text += QStringLiteral("　トランザクション中");
    return text;
}

void CKestrelDoc::logLine(const QString& line) { logServerError(line); }

void CKestrelDoc::tell(const QString& text) { prompter().tell(BoxKind::Application, text); }

bool CKestrelDoc::ask(const QString& question) { return prompter().ask(BoxKind::Application, question); }

void CKestrelDoc::installNoticeReceiver()
{
    if (!m_connection) return;
    m_connection->setNoticeProcessor(&CKestrelDoc::noticeReceiver, this);
    m_connection->setFailureSink([this](const QString& text) { logServerError(text); });
}

void CKestrelDoc::logServerError(const QString& text)
{
    if (text.isEmpty()) return;
    std::lock_guard<std::mutex> lock(m_noticeLock);
    if (m_pendingNotices.isEmpty())
        m_pendingNotices = ownCopy(text);
    else
        m_pendingNotices = m_pendingNotices + QStringLiteral("\r\n") + text;
}

void CKestrelDoc::noticeReceiver(void* context, const char* message)
{
    QString text = QString::fromUtf8(message);
    // libpq ends every notice with a line end of its own; the notice is what comes before.
    if (text.endsWith(u'\n')) text.chop(1);
    static_cast<CKestrelDoc*>(context)->receiveNotice(text);
}

void CKestrelDoc::receiveNotice(const QString& message)
{
    std::lock_guard<std::mutex> lock(m_noticeLock);
    if (m_pendingNotices.isEmpty()) {
        m_pendingNotices = ownCopy(message);
        m_firstNotice = ownCopy(message);
    } else {
        m_pendingNotices = m_pendingNotices + QStringLiteral("\r\n") + message;
    }
    if (m_capturing && !m_captured) m_captured = ownCopy(message);
}

void CKestrelDoc::beginNoticeCapture()
{
    std::lock_guard<std::mutex> lock(m_noticeLock);
    m_capturing = true;
    m_captured.reset();
}

std::optional<QString> CKestrelDoc::endNoticeCapture()
{
    std::lock_guard<std::mutex> lock(m_noticeLock);
    m_capturing = false;
    std::optional<QString> captured;
    captured.swap(m_captured);
    return captured;
}

QString CKestrelDoc::pendingNoticesText() const
{
    std::lock_guard<std::mutex> lock(m_noticeLock);
    return ownCopy(m_pendingNotices);
}

QString CKestrelDoc::takePendingNotices()
{
    std::lock_guard<std::mutex> lock(m_noticeLock);
    QString taken;
    taken.swap(m_pendingNotices);
    return taken;
}

QString CKestrelDoc::firstNoticeText() const
{
    std::lock_guard<std::mutex> lock(m_noticeLock);
    return ownCopy(m_firstNotice);
}
