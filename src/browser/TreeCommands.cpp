#include "browser/TreeCommands.h"

#include "widgets/CommandTarget.h"
#include "workspace/CKestrelDoc.h"

namespace Browse {

bool TreeCommandEnabled(int commandId, const CKestrelDoc& doc)
{
    switch (commandId) {
    case Cmd::TableCreate:
        return doc.tableFlag || doc.folderFlag;
    case Cmd::TableEdit:
    case Cmd::CsvExport:
        return doc.tableFlag || doc.viewFlag || doc.catalogueFlag;
    case Cmd::TableDrop:
        return doc.tableFlag != 0;
    default:
        return true;
    }
}

}  // namespace Browse
