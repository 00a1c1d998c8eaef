#include <gtest/gtest.h>

#include <QStringList>
#include <atomic>
#include <thread>

#include "support/ScriptedPrompter.h"
#include "support/WorkspaceFixture.h"
#include "workspace/CKestrelDoc.h"
#include "workspace/ServerWarnings.h"

TEST(NoticeReceiver, JoinsPendingAndKeepsFirstNotice)
{
    CKestrelDoc doc;
    doc.receiveNotice(QStringLiteral("A"));
    doc.receiveNotice(QStringLiteral("B"));
    EXPECT_EQ(doc.pendingNoticesText(), QStringLiteral("A\r\nB"));
    EXPECT_EQ(doc.firstNoticeText(), QStringLiteral("A"));

    EXPECT_EQ(doc.takePendingNotices(), QStringLiteral("A\r\nB"));
    EXPECT_TRUE(doc.pendingNoticesText().isEmpty());
    EXPECT_EQ(doc.firstNoticeText(), QStringLiteral("A"));  // never cleared

    doc.receiveNotice(QStringLiteral("C"));
    EXPECT_EQ(doc.firstNoticeText(), QStringLiteral("C"));
    EXPECT_EQ(doc.pendingNoticesText(), QStringLiteral("C"));
}

TEST(NoticeReceiver, CollectsTheServersNotices)
{
    ScriptedPrompter prompts;
    CKestrelDoc doc;
    ASSERT_TRUE(logIn(doc));
    doc.installNoticeReceiver();
    Result r = doc.connection()->exec(
        QStringLiteral("DO $$ BEGIN RAISE NOTICE 'first'; RAISE NOTICE 'second 表示'; END $$"));
    ASSERT_TRUE(r.commandOk());
    EXPECT_EQ(doc.pendingNoticesText(),
              QStringLiteral("NOTICE:  first\r\nNOTICE:  second 表示"));
    EXPECT_EQ(doc.firstNoticeText(), QStringLiteral("NOTICE:  first"));
}

TEST(NoticeReceiver, NoticesFromAnotherThreadAreNeitherLostNorTorn)
{
    CKestrelDoc doc;
    constexpr int kCount = 20000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) doc.receiveNotice(QStringLiteral("notice %1").arg(i));
        done = true;
    });
    QStringList seen;
    while (!done.load()) {
        const QString taken = doc.takePendingNotices();
        if (!taken.isEmpty()) seen << taken.split(QStringLiteral("\r\n"));
    }
    worker.join();
    const QString rest = doc.takePendingNotices();
    if (!rest.isEmpty()) seen << rest.split(QStringLiteral("\r\n"));
    ASSERT_EQ(seen.size(), kCount);
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(seen[i], QStringLiteral("notice %1").arg(i));
}

TEST(ServerWarningsCatcher, NestedCatchersEachCollectAndTheLogPaneStillGetsEveryNotice)
{
    ScriptedPrompter prompts;
    CKestrelDoc doc;
    ASSERT_TRUE(logIn(doc));
    doc.installNoticeReceiver();
    Connection& conn = *doc.connection();
    auto warn = [&conn](const char* text) {
        ASSERT_TRUE(conn.exec(QStringLiteral("DO $$ BEGIN RAISE WARNING '%1'; END $$").arg(text)).commandOk());
    };
    {
        ServerWarnings outer(conn);
        warn("one");
        {
            ServerWarnings inner(conn);
            warn("two");
            EXPECT_EQ(inner.texts(), QStringList{QStringLiteral("WARNING:  two")});
        }
        // The outer catcher saw the inner one's warning too, and is the receiver again.
        warn("three");
        EXPECT_EQ(outer.texts(), (QStringList{QStringLiteral("WARNING:  one"), QStringLiteral("WARNING:  two"),
                                              QStringLiteral("WARNING:  three")}));
    }
    warn("four");
    EXPECT_EQ(doc.pendingNoticesText(),
              QStringLiteral("WARNING:  one\r\nWARNING:  two\r\nWARNING:  three\r\nWARNING:  four"));
}
