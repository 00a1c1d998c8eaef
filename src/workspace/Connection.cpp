#include "workspace/Connection.h"

#include "workspace/PendingAnswer.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <algorithm>

namespace {

const QString kRefusedWhileWaiting = QStringLiteral("前の文の応答を待っているため、送信できません");
const QString kRefusedWhileAnswering =
    QStringLiteral("前の文の応答（出力中の行など）を受け取っている途中のため、送信できません");
const QString kRefusedWhileLent = QStringLiteral("セッションは%1で使用中のため、送信できません");
const QString kRestored =
    QStringLiteral("サーバーとの接続が切れたため、新しいセッションで接続し直しました。");
const QString kMayHaveRun = QStringLiteral(
    "サーバーとの接続が切れました。送信した文は、実行されたかどうか分かりません。"
    "確かめてから、必要ならもう一度実行してください。");
const QString kNotRun = QStringLiteral(
    "サーバーとの接続が切れていたため、文は実行されていません。もう一度実行してください。");
const QString kTransactionLost = QStringLiteral(
    "サーバーとの接続が切れたため、開いていたトランザクションは失われました。"
    "その中の変更は、どれもコミットされていません。");
const QString kCommitUnanswered = QStringLiteral(
    "サーバーとの接続が切れました。COMMIT の応答がなかったため、コミットされたかどうか分かりません。"
    "確かめてから続けてください。");
const QString kNotSentAfterLoss = QStringLiteral(
    "この文は送信していません。トランザクションの外で実行するには、もう一度実行してください。");
const QString kGaveUp = QStringLiteral(
    "サーバーが応答しないため、接続を切断しました。"
    "開いていたトランザクションは、サーバーが切断に気付いた時点でロールバックされます。"
    "トランザクションの外で送信した文は、実行されたかどうか分かりません。");
const QString kUnreachable = QStringLiteral("サーバーに接続できないため、文を送信しませんでした。");
const QString kReconnectStopped = QStringLiteral("接続し直すのを中止しました。");
const QString kFailedTransactionQuestion = QStringLiteral(
    "トランザクションはエラーのため中断されています。ROLLBACK するまで、どの文も実行されません。\n"
    "ロールバックしますか？");
const QString kRolledBack = QStringLiteral("中断されていたトランザクションをロールバックしました。");

bool inTransactionBlock(PGTransactionStatusType st)
{
    return st == PQTRANS_INTRANS || st == PQTRANS_INERROR;
}

// The server ended the session itself (terminated, shut down, an idle timeout): its statement
// was refused or never read, so it did not run.
bool endedByServer(const Result& r)
{
    const QString state = r.sqlState();
    return state.startsWith(QLatin1String("57P")) || state == QLatin1String("25P03");
}

// The text ends a transaction: when its answer is lost, nobody knows whether it committed.
bool endsTransaction(const QString& statement)
{
    const QString head = statement.trimmed().section(u' ', 0, 0).section(u';', 0, 0).toLower();
    return head == u"commit" || head == u"end";
}


}  // namespace

Connection::Connection(PGconn* conn) : m_conn(conn) {}

Connection::~Connection()
{
    m_idleWatch.reset();
    if (m_conn) PQfinish(m_conn);
}

bool Connection::isBad() const { return !m_conn || PQstatus(m_conn) == CONNECTION_BAD; }

QString Connection::errorMessage() const
{
    if (!m_conn) return m_lostError;
    if (m_openOutcome == OpenOutcome::NotUtf8) return m_lostError;
    return QString::fromUtf8(PQerrorMessage(m_conn));
}

int Connection::backendPid() const { return m_conn ? PQbackendPID(m_conn) : 0; }
int Connection::serverVersion() const { return m_conn ? PQserverVersion(m_conn) : 0; }

bool Connection::inTransaction() const
{
    return m_conn && inTransactionBlock(PQtransactionStatus(m_conn));
}

bool Connection::transactionFailed() const
{
    return m_conn && PQtransactionStatus(m_conn) == PQTRANS_INERROR;
}

bool Connection::encrypted() const { return m_conn && PQsslInUse(m_conn) == 1; }

QString Connection::databaseName() const
{
    return m_conn ? QString::fromUtf8(PQdb(m_conn)) : QString();
}

QString Connection::hostName() const
{
    return m_conn ? QString::fromUtf8(PQhost(m_conn)) : QString();
}

QString Connection::portText() const
{
    return m_conn ? QString::fromUtf8(PQport(m_conn)) : QString();
}

// A session is opened again only on the thread that works for the operator: never on the
// import's worker, whose run fails as a whole instead.
void Connection::setRestorable(SessionReporter* reporter)
{
    m_restorable = true;
    m_ownerThread = std::this_thread::get_id();
    m_reporter = reporter;
    watchIdle();
}

Waiter* Connection::waiterHere() const
{
    return m_waiter && std::this_thread::get_id() == m_waiterThread ? m_waiter : nullptr;
}

// Why a statement may not be sent now, or nothing: the session waits on an answer, answers a
// stream or a COPY still, or is lent to an owner on another thread. Checked before anything
// else is read of the session, which a lent session's holder may be using meanwhile.
QString Connection::refusal() const
{
    if (m_lent && std::this_thread::get_id() != m_lentThread.load()) return kRefusedWhileLent.arg(m_lentTo);
    if (m_waiting) return kRefusedWhileWaiting;
    if (m_conn && PQtransactionStatus(m_conn) == PQTRANS_ACTIVE) return kRefusedWhileAnswering;
    return {};
}

Result Connection::refused(const QString& why)
{
    if (m_failureSink) m_failureSink(why);
    return Result();
}

void Connection::lend(const QString& owner)
{
    m_lentTo = owner;
    m_lentThread = std::thread::id();
    m_lent = true;
    stopWatchingIdle();
}

void Connection::holdOnThisThread() { m_lentThread = std::this_thread::get_id(); }

void Connection::giveBack()
{
    m_lent = false;
    m_lentThread = std::thread::id();
    afterStatement();
}

SessionLoan::SessionLoan(Connection& conn, const QString& owner) : m_conn(conn)
{
    m_conn.lend(owner);
}

SessionLoan::~SessionLoan() { m_conn.giveBack(); }

void Connection::tell(const QString& text)
{
    if (m_reporter && onOwnerThread()) m_reporter->tell(text);
}

void Connection::logLine(const QString& text)
{
    if (m_reporter) m_reporter->logLine(text);
}

void Connection::adopt(PGconn* conn)
{
    m_conn = conn;
    // Cancel requests still on their way were meant for the session before: the new one waits
    // for none of them (on a link gone silent they may never arrive).
    m_cancels = std::make_shared<CancelRequests>();
    m_lost = false;
    m_lostError.clear();
    m_operatorTransaction = false;
    m_failedTransactionAsked = false;
    m_changeUnderSavepoint = false;
    if (m_noticeProcessor) PQsetNoticeProcessor(m_conn, m_noticeProcessor, m_noticeContext);
}

void Connection::stopWatchingIdle() { m_idleWatch.reset(); }

void Connection::closeSession()
{
    stopWatchingIdle();
    if (m_conn) {
        // Whatever the link does, closing never waits on it.
        PQsetnonblocking(m_conn, 1);
        PQfinish(m_conn);
        m_conn = nullptr;
    }
    m_lost = true;
}

bool Connection::restore()
{
    SessionOpening opening(m_settings, m_setup);
    m_waiting = true;
    opening.openIn(waiterHere());
    m_waiting = false;
    PGconn* conn = opening.take();
    if (opening.outcome() != OpenOutcome::Opened) {
        m_lostError = opening.outcome() == OpenOutcome::Abandoned ? kReconnectStopped
                                                                   : opening.errorText();
        if (conn) PQfinish(conn);
        return false;
    }
    adopt(conn);
    ++m_generation;
    m_toldUnreachable = false;
    logLine(kRestored);
    return true;
}

void Connection::lose(Fate fate, bool inTransaction, bool commitSent)
{
    closeSession();
    m_lostTransaction = false;
    if (fate == Fate::GaveUp)
        m_lossReport = kGaveUp;
    else if (inTransaction)
        m_lossReport = commitSent ? kCommitUnanswered : kTransactionLost;
    else
        m_lossReport = fate == Fate::Unknown ? kMayHaveRun : kNotRun;
}

// The lost session could not be opened again: said once per outage, logged every time.
void Connection::unreachable()
{
    m_lossReport = kUnreachable;
    if (m_failureSink && !m_lostError.isEmpty()) m_failureSink(m_lostError);
    if (!m_toldUnreachable) {
        m_toldUnreachable = true;
        tell(kUnreachable + u'\n' + m_lostError);
    }
}

bool Connection::readyToSend(Kind kind)
{
    if (m_conn && m_restorable && PQstatus(m_conn) == CONNECTION_BAD) {
        // Lost under a stream or a COPY, which report for themselves.
        closeSession();
    }
    if (!m_conn) {
        if (!m_lost || !mayRestoreHere()) {
            if (m_lost) m_lossReport = kUnreachable;
            return false;
        }
        if (!restore()) {
            unreachable();
            return false;
        }
        if (m_lostTransaction) {
            m_lostTransaction = false;
            if (kind != Kind::Read) {
                m_lossReport = kTransactionLost + u'\n' + kNotSentAfterLoss;
                tell(m_lossReport);
                return false;
            }
            tell(kTransactionLost);
        }
    }
    if (kind != Kind::Typed) offerRollBackIfFailed();
    return true;
}

void Connection::offerRollBackIfFailed()
{
    if (!m_conn || !m_operatorTransaction || m_failedTransactionAsked || !m_reporter ||
        !onOwnerThread() || PQtransactionStatus(m_conn) != PQTRANS_INERROR)
        return;
    m_failedTransactionAsked = true;
    if (!m_reporter->ask(kFailedTransactionQuestion)) return;
    if (sendText(Kind::Change, true, QStringLiteral("ROLLBACK")).commandOk()) logLine(kRolledBack);
}

template <typename Send>
Result Connection::answerOnce(Send sendFn, Fate* fate, const RowSink* rows)
{
    Waiter* waiter = waiterHere();
    // A waited statement is written as the socket takes it; anyone else blocks in libpq. The
    // mode is set before sending, never after an answer: changing it clears libpq's text for
    // the session, which the caller may still read.
    const bool nonBlocking = waiter && PQsetnonblocking(m_conn, 1) == 0;
    if (!waiter) PQsetnonblocking(m_conn, 0);
    settleCancels();
    if (!sendFn()) {
        *fate = PQstatus(m_conn) == CONNECTION_BAD ? Fate::NotSent : Fate::Answered;
        return Result();
    }
    PendingAnswer answer(m_conn, *m_cancels, nonBlocking, rows);
    if (waiter) {
        m_waiting = true;
        if (!answer.advance()) waiter->wait(answer);
        m_waiting = false;
    }
    if (answer.gaveUp()) {
        *fate = Fate::GaveUp;
        return Result();
    }
    Result r = answer.finish();
    if (PQstatus(m_conn) == CONNECTION_BAD) {
        *fate = !answer.sawSuccess() && endedByServer(r) ? Fate::NotRun : Fate::Unknown;
        return r;
    }
    *fate = Fate::Answered;
    return r;
}

template <typename Send>
Result Connection::roundTrip(Kind kind, bool tellFailure, const QString& text, Send sendFn,
                             const RowSink* rows)
{
    if (const QString why = refusal(); !why.isEmpty()) return refused(why);
    m_lossReport.clear();
    if (!readyToSend(kind)) {
        afterStatement();
        return Result();
    }
    for (int attempt = 0;; ++attempt) {
        stopWatchingIdle();
        const PGTransactionStatusType before = PQtransactionStatus(m_conn);
        Fate fate = Fate::Answered;
        Result r = answerOnce(sendFn, &fate, rows);
        if (fate == Fate::Answered) {
            const PGTransactionStatusType now = PQtransactionStatus(m_conn);
            if (now == PQTRANS_IDLE)
                m_operatorTransaction = false;
            else if (before == PQTRANS_IDLE && inTransactionBlock(now))
                m_operatorTransaction = kind == Kind::Typed;
            if (now != PQTRANS_INERROR) m_failedTransactionAsked = false;
            if (tellFailure) reportFailure(r);
            afterStatement();
            return r;
        }
        // libpq's own words for the loss go to the log pane before the session is closed.
        if (tellFailure && fate != Fate::GaveUp) reportFailure(r);
        const bool inTransaction = inTransactionBlock(before);
        lose(fate, inTransaction, endsTransaction(text));
        const bool again = kind == Kind::Read && !inTransaction && fate != Fate::GaveUp &&
                           attempt == 0 && mayRestoreHere();
        if (again) {
            if (restore()) {
                m_lossReport.clear();
                continue;
            }
            unreachable();
        } else if (fate == Fate::GaveUp) {
            if (m_failureSink) m_failureSink(kGaveUp);
            tell(kGaveUp);
        } else if (kind != Kind::Read || inTransaction) {
            tell(m_lossReport);
        }
        afterStatement();
        return Result();
    }
}

void Connection::afterStatement()
{
    if (m_stateListener && (!m_restorable || onOwnerThread())) m_stateListener();
    watchIdle();
}

// The workspace's idle session is watched, so that a server that ended it (a restart, an idle
// timeout, a terminated backend) or a link found dead by the keepalives is noticed while the
// operator does nothing: the next statement then opens a new session before it is sent.
void Connection::watchIdle()
{
    if (!m_restorable || !m_conn || m_idleWatch || m_waiting || m_lent || !onOwnerThread()) return;
    if (PQtransactionStatus(m_conn) == PQTRANS_ACTIVE) return;
    m_idleWatch = std::make_unique<QSocketNotifier>(qintptr(PQsocket(m_conn)), QSocketNotifier::Read);
    QObject::connect(m_idleWatch.get(), &QSocketNotifier::activated, m_idleWatch.get(),
                     [this] { onIdleInput(); });
}

void Connection::onIdleInput()
{
    // Someone else reads the socket now (a stream, a COPY, a statement): not idle after all.
    // The notifier whose signal this is goes once the signal is handled.
    const auto letGo = [this] {
        m_idleWatch->setEnabled(false);
        m_idleWatch.release()->deleteLater();
    };
    if (!m_conn || m_waiting || PQtransactionStatus(m_conn) == PQTRANS_ACTIVE) {
        letGo();
        return;
    }
    const bool inTransaction = this->inTransaction();
    if (PQconsumeInput(m_conn) == 1 && PQstatus(m_conn) != CONNECTION_BAD) {
        // A notice (told to the notice processor already) or a notification nobody listens to.
        while (PGnotify* n = PQnotifies(m_conn)) PQfreemem(n);
        return;
    }
    QString text = QString::fromUtf8(PQerrorMessage(m_conn));
    while (text.endsWith(u'\n')) text.chop(1);
    if (m_failureSink && !text.isEmpty()) m_failureSink(text);
    letGo();
    closeSession();
    m_lostTransaction = inTransaction;
    if (m_stateListener) m_stateListener();
}

Result Connection::sendText(Kind kind, bool tellFailure, const QString& statement)
{
    const QByteArray text = statement.toUtf8();
    return roundTrip(kind, tellFailure, statement, [&] {
        if (m_observer) m_observer(statement);
        return PQsendQuery(m_conn, text.constData()) == 1;
    });
}

Result Connection::exec(const QString& statement) { return sendText(Kind::Change, true, statement); }

Result Connection::read(const QString& statement) { return sendText(Kind::Read, true, statement); }

Result Connection::tryExec(const QString& statement) { return sendText(Kind::Change, false, statement); }

Result Connection::execTyped(const QString& statement) { return sendText(Kind::Typed, true, statement); }

Result Connection::execStreaming(const QString& statement, const RowSink& rows)
{
    const QByteArray text = statement.toUtf8();
    return roundTrip(
        Kind::Typed, true, statement,
        [&] {
            if (m_observer) m_observer(statement);
            if (PQsendQuery(m_conn, text.constData()) != 1) return false;
            PQsetSingleRowMode(m_conn);
            return true;
        },
        &rows);
}

void Connection::reportFailure(const Result& r)
{
    if (!m_failureSink) return;
    const ExecStatusType st = r.status();
    if (!r.exists() || st == PGRES_FATAL_ERROR || st == PGRES_BAD_RESPONSE) {
        QString text = r.exists() ? r.errorMessage() : errorMessage();
        while (text.endsWith(u'\n')) text.chop(1);
        if (!text.isEmpty()) m_failureSink(text);
    }
}

Result Connection::describe(const QString& statement)
{
    const QByteArray text = statement.toUtf8();
    Result prepared = roundTrip(Kind::Read, false, statement, [&] {
        return PQsendPrepare(m_conn, "", text.constData(), 0, nullptr) == 1;
    });
    if (!prepared.commandOk()) return prepared;
    return roundTrip(Kind::Read, false, statement, [&] { return PQsendDescribePrepared(m_conn, "") == 1; });
}

Result Connection::execSingle(const QString& statement)
{
    const QByteArray text = statement.toUtf8();
    return roundTrip(Kind::Change, true, statement, [&] {
        if (m_observer) m_observer(statement);
        return PQsendQueryParams(m_conn, text.constData(), 0, nullptr, nullptr, nullptr, nullptr,
                                 0) == 1;
    });
}
