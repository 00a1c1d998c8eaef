#include "listview/CKestrelView.h"

#include "app/CMainFrame.h"
#include "workspace/CKestrelDoc.h"
#include "workspace/Settings.h"

CKestrelView::CKestrelView(CKestrelDoc& doc, CMainFrame* frame, QWidget* parent)
    : ResultList(parent), m_doc(doc), m_frame(frame)
{
    setObjectName(QStringLiteral("listView"));
}

void CKestrelView::initialUpdate() { m_doc.pageLength = Settings::pageLength(); }

bool CKestrelView::handlesCommand(int id) const
{
    switch (id) {
    case Cmd::SqlWindow:
    case Cmd::UserCreate:
    case Cmd::DatabaseCreate:
    case Cmd::CsvImport:
    case Cmd::RecordDelete:
    case Cmd::Copy:
    case Cmd::PageSetting:
    case Cmd::NextPage:
    case Cmd::PreviousPage:
    case Cmd::Refresh:
    case Cmd::TableDetail:
    case Cmd::RecordEdit:
        return true;
    default:
        return false;
    }
}

void CKestrelView::runCommand(int) {}
