#include "browser/CLeftView.h"

#include "app/CMainFrame.h"
#include "workspace/CKestrelDoc.h"

CLeftView::CLeftView(CKestrelDoc& doc, CMainFrame* frame, QWidget* parent)
    : QTreeWidget(parent), m_doc(doc), m_frame(frame)
{
    setObjectName(QStringLiteral("leftView"));
    setHeaderHidden(true);
}

void CLeftView::initialUpdate()
{
    clear();
    if (m_doc.Connect() != 0) return;
    m_doc.installNoticeReceiver();
}

bool CLeftView::handlesCommand(int id) const
{
    switch (id) {
    case Cmd::SqlWindow:
    case Cmd::UserCreate:
    case Cmd::DatabaseCreate:
    case Cmd::CsvImport:
        return true;
    default:
        return false;
    }
}

void CLeftView::runCommand(int) {}
