#include "app/SharedCommands.h"

#include "accounts/CDatabaseCreateDlg.h"
#include "accounts/CUserCreateDlg.h"
#include "app/CommandTarget.h"
#include "browser/BrowseRules.h"
#include "console/QueryCommand.h"
#include "design/CTableSelectDlg.h"
#include "transfer/CCsvImportDlg.h"
#include "workspace/CKestrelDoc.h"

bool IsSharedViewCommand(int id)
{
    return id == Cmd::SqlWindow || id == Cmd::UserCreate || id == Cmd::DatabaseCreate ||
           id == Cmd::CsvImport;
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
