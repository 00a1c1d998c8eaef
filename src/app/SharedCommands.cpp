#include "app/SharedCommands.h"

#include "accounts/CDatabaseCreateDlg.h"
#include "accounts/CUserCreateDlg.h"
#include "app/CommandTarget.h"
#include "browser/BrowseRules.h"
#include "console/QueryCommand.h"
#include "workspace/CKestrelDoc.h"

bool IsSharedViewCommand(int id)
{
    return id == Cmd::SqlWindow || id == Cmd::UserCreate || id == Cmd::DatabaseCreate ||
           id == Cmd::CsvImport;
}

// CSV import has no dialog yet: the command is served and opens nothing.
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
    default:
        break;
    }
}
