#include "app/SharedCommands.h"

#include "app/CommandTarget.h"
#include "browser/BrowseRules.h"
#include "console/QueryCommand.h"
#include "transfer/CCsvImportDlg.h"
#include "workspace/CKestrelDoc.h"

bool IsSharedViewCommand(int id)
{
    return id == Cmd::SqlWindow || id == Cmd::UserCreate || id == Cmd::DatabaseCreate ||
           id == Cmd::CsvImport;
}

// User registration and database creation have no dialog yet: the commands are served and
// checked, and open nothing.
void RunSharedViewCommand(int id, CKestrelDoc& doc, QWidget* parent)
{
    switch (id) {
    case Cmd::SqlWindow:
        OpenQueryDialog(doc, parent);
        break;
    case Cmd::UserCreate:
    case Cmd::DatabaseCreate:
        Browse::RequireSuperUser(doc);
        break;
    case Cmd::CsvImport:
        if (Connection* conn = doc.connection(); conn && !conn->isBad()) {
            CCsvImportDlg dlg(*conn, parent);
            dlg.exec();
        }
        break;
    default:
        break;
    }
}
