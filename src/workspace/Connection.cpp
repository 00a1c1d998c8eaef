#include "workspace/Connection.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QLocale>
#include <QSocketNotifier>

#include <algorithm>

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

// After "中止", how long the answer may take before the session is given up: the waiting box
// closes within half a second on a link that went silent...
constexpr qint64 kGiveUpMs = 450;
// ...measured from the last answer that still came in, but never longer than this in all.
constexpr qint64 kGiveUpStreamingMs = 1500;

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

bool isCopyStart(ExecStatusType st)
{
    return st == PGRES_COPY_IN || st == PGRES_COPY_OUT || st == PGRES_COPY_BOTH;
}

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

// The answer to one sent statement, taken as PQexec takes it: every result in turn, the last
// one kept, stopping at the start of a COPY. A statement too long for the socket's buffer is
// written as the socket takes it. With a row sink, the rows of single-row mode go there as they
// arrive and are counted for the operator to see.
class PendingAnswer : public WaitingStatement {
public:
    PendingAnswer(PGconn* conn, bool flushing, const Connection::RowSink* rows)
        : m_conn(conn), m_flushing(flushing), m_rows(rows)
    {
    }
    int socket() const override { return PQsocket(m_conn); }
    Direction direction() const override { return m_flushing ? Direction::Write : Direction::Read; }
    bool advance() override
    {
        if (m_done) return true;
        if (m_stopClock.isValid() && stopWaitLeft() <= 0) {
            m_gaveUp = m_done = true;
            return true;
        }
        if (m_flushing) {
            const int flushed = PQflush(m_conn);
            if (flushed > 0) return false;
            m_flushing = false;
            if (flushed < 0) return m_done = true;
        }
        if (PQconsumeInput(m_conn) != 1) {
            // The session is lost; finish() takes libpq's report of it.
            m_done = true;
            return true;
        }
        const qint64 taken = m_taken;
        while (!m_done && PQisBusy(m_conn) == 0) take(PQgetResult(m_conn));
        // Answers still coming after "中止" (the rows sent before the cancel arrived): the link
        // is alive, so the wait for the cancel's answer starts again, within a limit.
        if (m_stopClock.isValid() && m_taken != taken) m_lastAnswerAt = m_stopClock.elapsed();
        return m_done;
    }
    void cancel() override
    {
        if (m_stopClock.isValid()) return;
        m_stopClock.start();
        CancelInBackground(m_conn);
    }
    int timeLimitMs() const override
    {
        return m_stopClock.isValid() ? int(std::max<qint64>(0, stopWaitLeft())) : -1;
    }
    QString progress() const override
    {
        if (m_received == 0) return {};
        return QStringLiteral("%1 行を受信").arg(QLocale(QLocale::Japanese).toString(m_received));
    }
    bool gaveUp() const { return m_gaveUp; }
    // A result before the last one succeeded: part of the text ran, whatever came after.
    bool sawSuccess() const { return m_sawSuccess; }
    // Whatever advance() has not taken yet, waiting in libpq (immediate once advance() was
    // true, unless the session was lost).
    Result finish()
    {
        while (!m_copy && !m_ended) take(PQgetResult(m_conn));
        return std::move(m_last);
    }

private:
    // How long the answer to "中止" may still take.
    qint64 stopWaitLeft() const
    {
        const qint64 now = m_stopClock.elapsed();
        return std::min(m_lastAnswerAt + kGiveUpMs - now, kGiveUpStreamingMs - now);
    }
    void take(PGresult* r)
    {
        ++m_taken;
        if (!r) {
            m_done = m_ended = true;
            return;
        }
        if (m_rows && PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
            const Result row(r);
            m_sawSuccess = true;
            if (m_sinkStopped) return;
            ++m_received;
            if (!(*m_rows)(row)) {
                m_sinkStopped = true;
                CancelInBackground(m_conn);
            }
            return;
        }
        if (m_last.commandOk() || m_last.tuplesOk()) m_sawSuccess = true;
        m_last = Result(r);
        if (m_rows && !m_sinkStopped) (*m_rows)(m_last);
        if (isCopyStart(m_last.status())) m_done = m_copy = true;
    }
    PGconn* m_conn;
    bool m_flushing;
    const Connection::RowSink* m_rows;
    qint64 m_received = 0;
    bool m_sinkStopped = false;  // the sink refused a row: the rest is let go
    Result m_last;
    QElapsedTimer m_stopClock;
    qint64 m_lastAnswerAt = 0;  // on m_stopClock
    qint64 m_taken = 0;
    bool m_done = false;
    bool m_ended = false;
    bool m_copy = false;
    bool m_gaveUp = false;
    bool m_sawSuccess = false;
};

// Opens a session inside the waiter when one serves this thread, or blocking.
void openSession(SessionOpening& opening, Waiter* waiter)
{
    if (!waiter) {
        opening.run();
        return;
    }
    opening.start();
    if (!opening.advance()) waiter->wait(opening);
}

// Several sessions opened at once, each sent its set-up text once it is open. A waiter watches
// one socket: this one is an epoll descriptor holding the socket of every session still under
// way, each for what its session waits on, so it is readable as soon as any of them is ready.
class OpeningSessions : public WaitingStatement {
public:
    OpeningSessions(const std::vector<PGconn*>& conns, QByteArray setup)
        : m_setup(std::move(setup)), m_epoll(::epoll_create1(EPOLL_CLOEXEC))
    {
        for (PGconn* conn : conns) {
            Member& m = m_members.emplace_back();
            m.conn = conn;
            if (PQstatus(conn) == CONNECTION_BAD || m_epoll < 0) m.step = Step::Failed;
            watch(m);
        }
    }
    ~OpeningSessions() override
    {
        if (m_epoll >= 0) ::close(m_epoll);
    }
    int socket() const override { return m_epoll; }
    bool advance() override
    {
        if (m_abandoned) return true;
        std::vector<epoll_event> ready(m_members.size());
        const int n = ::epoll_wait(m_epoll, ready.data(), int(ready.size()), 0);
        for (int i = 0; i < n; ++i) step(m_members[ready[size_t(i)].data.u64]);
        bool underWay = false;
        for (Member& m : m_members) {
            watch(m);
            underWay = underWay || m.underWay();
        }
        return !underWay;
    }
    void cancel() override { m_abandoned = true; }
    bool ready(size_t i) const { return !m_abandoned && m_members[i].step == Step::Ready; }

private:
    enum class Step { Connecting, SettingUp, Ready, Failed };
    struct Member {
        PGconn* conn = nullptr;
        // As libpq's connection start leaves it: the socket is to be written first.
        PostgresPollingStatusType polled = PGRES_POLLING_WRITING;
        Step step = Step::Connecting;
        bool setupFailed = false;
        int watched = -1;  // the socket in the epoll set
        uint32_t events = 0;
        bool underWay() const { return step == Step::Connecting || step == Step::SettingUp; }
    };

    void step(Member& m)
    {
        if (m.step == Step::Connecting) {
            m.polled = PQconnectPoll(m.conn);
            m.events = 0;  // registered again: the socket may be a new one of the same number
            if (m.polled == PGRES_POLLING_FAILED)
                m.step = Step::Failed;
            else if (m.polled == PGRES_POLLING_OK)
                m.step = m_setup.isEmpty()                                   ? Step::Ready
                         : PQsendQuery(m.conn, m_setup.constData()) == 1 ? Step::SettingUp
                                                                          : Step::Failed;
            return;
        }
        if (m.step != Step::SettingUp) return;
        if (PQconsumeInput(m.conn) != 1) {
            m.step = Step::Failed;
            return;
        }
        while (PQisBusy(m.conn) == 0) {
            const Result r(PQgetResult(m.conn));
            if (!r.exists()) {
                m.step = m.setupFailed ? Step::Failed : Step::Ready;
                return;
            }
            m.setupFailed = m.setupFailed || !(r.commandOk() || r.tuplesOk());
        }
    }
    // Keeps the epoll set in step with the session: its socket (libpq may move to another one,
    // which may even get the number of the one it closed) and what it waits for.
    void watch(Member& m)
    {
        const int fd = m.underWay() ? PQsocket(m.conn) : -1;
        const uint32_t events =
            m.step == Step::Connecting && m.polled == PGRES_POLLING_WRITING ? EPOLLOUT : EPOLLIN;
        if (m.watched >= 0 && m.watched != fd) ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m.watched, nullptr);
        if (fd < 0) {
            m.watched = -1;
            return;
        }
        epoll_event e{};
        e.events = events;
        e.data.u64 = uint64_t(&m - m_members.data());
        if (m.watched == fd && m.events == events) return;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &e) != 0) ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &e);
        m.watched = fd;
        m.events = events;
    }

    std::vector<Member> m_members;
    QByteArray m_setup;
    int m_epoll;
    bool m_abandoned = false;
};
}  // namespace

std::unique_ptr<Connection> Connection::login(const LoginParameters& p, Waiter* waiter,
                                              const QStringList& setup)
{
    SessionOpening opening(LoginSessionSettings(p), setup);
    openSession(opening, waiter);
    if (opening.outcome() == OpenOutcome::Abandoned) return nullptr;
    std::unique_ptr<Connection> conn(new Connection(opening.take()));
    conn->m_openOutcome = opening.outcome();
    conn->m_lostError = opening.errorText();
    conn->m_setup = setup;
    if (conn->m_openOutcome == OpenOutcome::Opened) conn->m_settings = SettingsOf(conn->m_conn);
    return conn;
}

std::unique_ptr<Connection> Connection::openLike(const Connection& like)
{
    SessionSettings settings = like.m_conn ? SettingsOf(like.m_conn) : like.m_settings;
    if (settings.empty()) return nullptr;
    Waiter* waiter = like.waiterHere();
    SessionOpening opening(settings, {});
    openSession(opening, waiter);
    if (opening.outcome() != OpenOutcome::Opened) return nullptr;
    std::unique_ptr<Connection> conn(new Connection(opening.take()));
    conn->m_settings = std::move(settings);
    if (waiter) conn->setWaiter(waiter);
    return conn;
}

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

std::vector<std::unique_ptr<Connection>> Connection::openSeveralLike(const Connection& like, int count,
                                                                  const QString& setup)
{
    std::vector<std::unique_ptr<Connection>> opened;
    PQconninfoOption* options = like.m_conn && count > 0 ? PQconninfo(like.m_conn) : nullptr;
    if (!options) return opened;
    // The server `like` reached, not the list of hosts it was given: a snapshot is only seen
    // there, and no name is looked up again while the window waits.
    const QByteArray host = PQhost(like.m_conn), address = PQhostaddr(like.m_conn),
                     port = PQport(like.m_conn);
    std::vector<const char*> keywords, values;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        bool replaced = false;
        for (const char* k : {"host", "hostaddr", "port", "client_encoding"})
            replaced = replaced || qstrcmp(o->keyword, k) == 0;
        if (!o->val || replaced) continue;
        keywords.push_back(o->keyword);
        values.push_back(o->val);
    }
    const std::pair<const char*, const char*> pinned[] = {
        {"host", host.constData()}, {"hostaddr", address.constData()}, {"port", port.constData()},
        {"client_encoding", "UTF8"}};
    for (const auto& [keyword, value] : pinned) {
        if (!*value) continue;
        keywords.push_back(keyword);
        values.push_back(value);
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    std::vector<PGconn*> conns;
    for (int i = 0; i < count; ++i) conns.push_back(PQconnectStartParams(keywords.data(), values.data(), 0));
    PQconninfoFree(options);
    OpeningSessions opening(conns, setup.toUtf8());
    Waiter* waiter = like.waiterHere();
    if (waiter) {
        waiter->wait(opening);
    } else {
        while (!opening.advance()) {
            pollfd ready{opening.socket(), POLLIN, 0};
            ::poll(&ready, 1, -1);
        }
    }
    for (size_t i = 0; i < conns.size(); ++i) {
        std::unique_ptr<Connection> conn(new Connection(conns[i]));
        if (!opening.ready(i)) continue;  // closed as it goes
        conn->setWaiter(waiter);
        opened.push_back(std::move(conn));
    }
    return opened;
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
    openSession(opening, waiterHere());
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
    if (!sendFn()) {
        *fate = PQstatus(m_conn) == CONNECTION_BAD ? Fate::NotSent : Fate::Answered;
        return Result();
    }
    PendingAnswer answer(m_conn, nonBlocking, rows);
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

bool Connection::send(const QString& statement)
{
    if (const QString why = refusal(); !why.isEmpty()) {
        refused(why);
        return false;
    }
    stopWatchingIdle();
    if (m_observer) m_observer(statement);
    if (m_conn) PQsetnonblocking(m_conn, 0);
    if (!m_conn || !PQsendQuery(m_conn, statement.toUtf8().constData())) {
        reportFailure(Result());
        return false;
    }
    return true;
}

bool Connection::startStream(const QString& statement)
{
    if (const QString why = refusal(); !why.isEmpty()) {
        refused(why);
        return false;
    }
    stopWatchingIdle();
    if (m_observer) m_observer(statement);
    if (m_conn) PQsetnonblocking(m_conn, 0);
    if (!m_conn || !PQsendQueryParams(m_conn, statement.toUtf8().constData(), 0, nullptr, nullptr,
                                      nullptr, nullptr, 0)) {
        reportFailure(Result());
        return false;
    }
    PQsetSingleRowMode(m_conn);
    return true;
}

bool Connection::consumeInput() { return m_conn && PQconsumeInput(m_conn) == 1; }

bool Connection::isBusy() const { return m_conn && PQisBusy(m_conn) == 1; }

Result Connection::nextResult()
{
    if (!m_conn) return Result();
    Result r(PQgetResult(m_conn));
    if (r.exists()) reportFailure(r);
    return r;
}

Result Connection::tryNextResult() { return m_conn ? Result(PQgetResult(m_conn)) : Result(); }

int Connection::copyRow(char** row)
{
    *row = nullptr;
    return m_conn ? PQgetCopyData(m_conn, row, 1) : -2;
}

void Connection::freeCopyRow(char* row)
{
    if (row) PQfreemem(row);
}

int Connection::socket() const { return m_conn ? PQsocket(m_conn) : -1; }

QString Connection::escapeValue(const QString& value) const
{
    if (!m_conn) {
        QString doubled = value;
        return doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    }
    const QByteArray in = value.toUtf8();
    QByteArray out(in.size() * 2 + 1, '\0');
    int error = 0;
    size_t n = PQescapeStringConn(m_conn, out.data(), in.constData(), size_t(in.size()), &error);
    if (error) {
        // libpq found a byte sequence it could not take and left part of the value out; the
        // whole value is escaped by the server's rules instead, never shortened.
        QString escaped = value;
        const char* conforming = PQparameterStatus(m_conn, "standard_conforming_strings");
        if (!conforming || qstrcmp(conforming, "on") != 0)
            escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        return escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    }
    out.truncate(int(n));
    return QString::fromUtf8(out);
}

QString Connection::encryptPassword(const QString& password, const QString& roleName) const
{
    if (!m_conn) return {};
    char* verifier = PQencryptPasswordConn(m_conn, password.toUtf8().constData(),
                                           roleName.toUtf8().constData(), nullptr);
    if (!verifier) return {};
    const QString out = QString::fromUtf8(verifier);
    PQfreemem(verifier);
    return out;
}

bool Connection::putCopyData(const char* data, qsizetype length)
{
    return m_conn && PQputCopyData(m_conn, data, int(length)) == 1;
}

Result Connection::endCopy()
{
    if (!m_conn) return Result();
    if (PQputCopyEnd(m_conn, nullptr) != 1) return Result(PQgetResult(m_conn));
    Result r(PQgetResult(m_conn));
    // Drain what follows, so the connection is ready for the next statement.
    while (PGresult* more = PQgetResult(m_conn)) PQclear(more);
    return r;
}

void Connection::setNoticeProcessor(PQnoticeProcessor processor, void* context)
{
    m_noticeProcessor = processor;
    m_noticeContext = context;
    if (m_conn) PQsetNoticeProcessor(m_conn, processor, context);
}

bool Connection::requestCancel() { return CancelInBackground(m_conn); }

std::unique_ptr<CancelHandle> Connection::cancelHandle() const
{
    PGcancel* cancel = m_conn ? PQgetCancel(m_conn) : nullptr;
    return cancel ? std::make_unique<CancelHandle>(cancel) : nullptr;
}

bool CancelHandle::cancel() const
{
    CancelInBackground(m_cancel);
    return bool(m_cancel);
}
