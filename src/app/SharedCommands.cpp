#include "app/SharedCommands.h"

#include "accounts/CDatabaseCreateDlg.h"
#include "accounts/CUserCreateDlg.h"
#include "console/CQueryDlg.h"
#include "design/CTableSelectDlg.h"
#include "transfer/CCsvExportDlg.h"
#include "transfer/CCsvImportDlg.h"
#include "widgets/CommandTarget.h"
#include "workspace/BrowseRules.h"
#include "workspace/CKestrelDoc.h"

void OpenQueryDialog(CKestrelDoc& doc, QWidget* parent)
{
    CQueryDlg dlg(doc, parent);
    QObject::connect(&dlg, &CQueryDlg::csvExportRequested, &dlg, [&doc, &dlg](const QString& sql) {
        if (Connection* conn = doc.connection()) {
            CCsvExportDlg exportDlg(*conn, sql, &dlg);
            exportDlg.exec();
        }
    });
    dlg.exec();
}

void RunSharedViewCommand(int id, CKestrelDoc& doc, QWidget* parent)
{
    switch (id) {
    case Cmd::SqlWindow:
        OpenQueryDialog(doc, parent);
        break;
    case Cmd::UserCreate:
        if (Browse::RequireSuperUser(doc) && doc.connection())
            CUserCreateDlg(*doc.connection(), parent).exec();
        break;
    case Cmd::DatabaseCreate:
        if (Browse::RequireSuperUser(doc) && doc.connection())
            CDatabaseCreateDlg(*doc.connection(), parent).exec();
        break;
    case Cmd::CsvImport:
        if (Connection* conn = doc.connection(); conn && !conn->isBad()) {
            CCsvImportDlg dlg(*conn, parent);
            dlg.setTableObjectChooser([conn, &dlg]() -> std::optional<ObjectName> {
                CTableSelectDlg chooser(*conn, &dlg);
                if (chooser.exec() != QDialog::Accepted) return std::nullopt;
                return chooser.chosenTable();
            });
            dlg.exec();
        }
        break;
    default:
        break;
    }
}
