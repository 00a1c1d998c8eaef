#include "console/QueryCommand.h"

#include "console/CQueryDlg.h"
#include "transfer/CCsvExportDlg.h"
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
