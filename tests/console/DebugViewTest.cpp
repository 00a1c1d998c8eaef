#include <gtest/gtest.h>

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTextBlock>
#include <atomic>
#include <thread>

#include "ConsoleFixture.h"
#include "console/CDebugView.h"

namespace {

// Runs the event loop until `done` holds or `limitMs` passed (a guard, not a measurement).
template <typename Pred>
bool spinUntil(Pred done, int limitMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Whether the last line of the text is inside the visible part of the pane.
bool lastLineVisible(CDebugView& view)
{
    const QPoint bottom(2, view.viewport()->height() - 2);
    return view.cursorForPosition(bottom).blockNumber() == view.document()->blockCount() - 1;
}

}  // namespace

using DebugViewTest = ConsoleFixture;

TEST_F(DebugViewTest, NoticesOfOneStatementArriveInOneAppend)
{
    CDebugView view(doc);
    view.initialUpdate();
    EXPECT_TRUE(view.isReadOnly());

    view.takeNotices();
    EXPECT_TRUE(view.toPlainText().isEmpty());
    EXPECT_EQ(view.appendCount(), 0);

    TestServer::run(conn(), QStringLiteral(
        "DO $$ BEGIN RAISE NOTICE 'kc one'; RAISE NOTICE 'kc two'; END $$"));
    view.takeNotices();
    EXPECT_EQ(view.toPlainText(), QStringLiteral("NOTICE:  kc one\nNOTICE:  kc two"));
    EXPECT_EQ(view.appendCount(), 1);
    EXPECT_TRUE(doc.pendingNoticesText().isEmpty());

    view.takeNotices();
    EXPECT_EQ(view.toPlainText(), QStringLiteral("NOTICE:  kc one\nNOTICE:  kc two"));
    EXPECT_EQ(view.appendCount(), 1);

    // The running timer takes the next statement's notice by itself, on a new line.
    TestServer::run(conn(), QStringLiteral("DO $$ BEGIN RAISE NOTICE 'kc three'; END $$"));
    ASSERT_TRUE(spinUntil([&] { return view.appendCount() == 2; }));
    EXPECT_EQ(view.toPlainText(),
              QStringLiteral("NOTICE:  kc one\nNOTICE:  kc two\nNOTICE:  kc three"));
}

TEST_F(DebugViewTest, NewestTextStaysInViewAndTheLogCannotBeEdited)
{
    CDebugView view(doc);
    view.initialUpdate();
    view.resize(400, 150);
    view.show();
    for (int i = 0; i < 12; ++i) {
        // Even when the operator scrolled back to read.
        if (i == 8) view.verticalScrollBar()->setValue(0);
        doc.receiveNotice(QStringLiteral("NOTICE:  kc %1\nDETAIL:  first\nHINT:  second").arg(i));
        view.takeNotices();
        ASSERT_TRUE(lastLineVisible(view)) << "after append " << i;
    }
    EXPECT_EQ(view.document()->lastBlock().text(), QStringLiteral("HINT:  second"));

    // A selection survives appends, copies, and undo takes nothing back out.
    QTextCursor c = view.textCursor();
    c.movePosition(QTextCursor::Start);
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    view.setTextCursor(c);
    doc.receiveNotice(QStringLiteral("NOTICE:  kc last"));
    view.takeNotices();
    EXPECT_EQ(view.textCursor().selectedText(), QStringLiteral("NOTICE:  kc 0"));
    view.runCommand(Cmd::Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("NOTICE:  kc 0"));

    const QString before = view.toPlainText();
    view.undo();
    view.runCommand(Cmd::Undo);
    view.runCommand(Cmd::Cut);
    EXPECT_EQ(view.toPlainText(), before);
    EXPECT_TRUE(view.toPlainText().endsWith(QStringLiteral("\nNOTICE:  kc last")));
}

TEST_F(DebugViewTest, NoticesFromAnotherThreadAreNeitherLostNorTorn)
{
    CDebugView view(doc);
    view.initialUpdate();
    constexpr int kCount = 6000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) {
            doc.receiveNotice(QStringLiteral("NOTICE:  kc worker %1").arg(i));
            if (i % 5 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        done = true;
    });
    spinUntil([&] { return done.load(); }, 60000);
    worker.join();
    view.takeNotices();

    // The timer emptied the text while the worker was adding to it.
    EXPECT_GE(view.appendCount(), 2);
    const QStringList lines = view.toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), kCount);
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(lines[i], QStringLiteral("NOTICE:  kc worker %1").arg(i));
}
