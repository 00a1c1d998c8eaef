#pragma once

#include <QPlainTextEdit>
#include <QTimer>

#include "widgets/CommandTarget.h"

class CKestrelDoc;

// The log pane: the server's notices, oldest first, read-only. Twice a second it takes what
// the workspace's notice receiver collected and appends it.
class CDebugView : public QPlainTextEdit, public KestrelView {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 500;

    explicit CDebugView(CKestrelDoc& doc, QWidget* parent = nullptr);

    // Read-only, and the timer (re)started: a second initial update replaces the running
    // timer and keeps the append count.
    void initialUpdate() override;

    // One tick: takes the pending notices (one locked read-and-empty, so a notice raised on
    // another thread meanwhile is neither lost nor split) and appends them.
    void takeNotices();
    int appendCount() const { return m_appendCount; }

    bool handlesCommand(int id) const override;
    bool commandEnabled(int id) const override;
    void runCommand(int id) override;

private:
    CKestrelDoc& m_doc;
    QTimer m_timer;
    int m_appendCount = 0;
};
