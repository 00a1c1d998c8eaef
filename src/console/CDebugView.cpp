#include "console/CDebugView.h"

#include "workspace/CKestrelDoc.h"

CDebugView::CDebugView(CKestrelDoc& doc, QWidget* parent) : QPlainTextEdit(parent), m_doc(doc)
{
    setObjectName(QStringLiteral("debugView"));
    setLineWrapMode(QPlainTextEdit::NoWrap);
}

void CDebugView::initialUpdate() { setReadOnly(true); }

bool CDebugView::handlesCommand(int id) const
{
    return id == Cmd::Copy || id == Cmd::Cut || id == Cmd::Paste || id == Cmd::Undo;
}

void CDebugView::runCommand(int id)
{
    if (id == Cmd::Copy) copy();
}
