#include "console/CDebugView.h"

#include <QScrollBar>

#include "workspace/CKestrelDoc.h"

CDebugView::CDebugView(CKestrelDoc& doc, QWidget* parent) : QPlainTextEdit(parent), m_doc(doc)
{
    setObjectName(QStringLiteral("debugView"));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The log only grows; an undo stack would let Undo take notices back out of a read-only
    // pane, and would hold a second copy of everything appended.
    setUndoRedoEnabled(false);
    // The selection stays visible while another pane has the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);

    m_timer.setObjectName(QStringLiteral("noticeTimer"));
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &CDebugView::takeNotices);
}

void CDebugView::initialUpdate()
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_timer.start();
}

void CDebugView::takeNotices()
{
    const QString pending = m_doc.takePendingNotices();
    if (pending.isEmpty()) return;
    // The notices are joined with CR LF; the pane breaks lines at LF alone. On an empty pane
    // the text goes in as it stands, otherwise on a new line after the last one.
    QString text = pending;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    appendPlainText(text);
    ++m_appendCount;
    // The newest line in view, however many lines the notices had.
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

bool CDebugView::handlesCommand(int id) const
{
    return id == Cmd::Copy || id == Cmd::Cut || id == Cmd::Paste || id == Cmd::Undo;
}

bool CDebugView::commandEnabled(int id) const
{
    return id == Cmd::Copy;
}

void CDebugView::runCommand(int id)
{
    if (id == Cmd::Copy) copy();
    // Cut, paste and undo are taken here so they reach no other pane; the log is read-only.
}
