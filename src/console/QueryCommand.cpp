#include "console/QueryCommand.h"

#include "console/CQueryDlg.h"
#include "workspace/CKestrelDoc.h"

void OpenQueryDialog(CKestrelDoc& doc, QWidget* parent)
{
    CQueryDlg dlg(doc, parent);
    dlg.exec();
}
