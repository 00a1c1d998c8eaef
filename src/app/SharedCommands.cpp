#include "app/SharedCommands.h"

#include "app/CommandTarget.h"
#include "browser/BrowseRules.h"
#include "console/QueryCommand.h"

bool IsSharedViewCommand(int id)
{
    return id == Cmd::SqlWindow || id == Cmd::UserCreate || id == Cmd::DatabaseCreate ||
           id == Cmd::CsvImport;
}

// User registration, database creation and CSV import have no dialog yet: the commands are
// served and checked, and open nothing.
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
    default:
        break;
    }
}
