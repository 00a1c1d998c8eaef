#include "app/FeatureWiring.h"

#include "accounts/CUserEditDlg.h"
#include "app/SharedCommands.h"
#include "design/CFieldEditDlg.h"
#include "design/CTableCreateDlg.h"
#include "design/CTableRenameDlg.h"
#include "transfer/CCsvExportDlg.h"
#include "transfer/CSequenceInfoDlg.h"
#include "transfer/CTableInfoDlg.h"

FeatureDialogs AppFeatureDialogs()
{
    FeatureDialogs d;
    d.sharedCommand = RunSharedViewCommand;
    d.tableDetail = [](Connection& conn, const ObjectName& table, const QString& databaseName,
                       QWidget* parent) {
        return CTableInfoDlg::open(conn, table, databaseName, parent, AppFeatureDialogs());
    };
    d.sequenceDetail = [](Connection& conn, const ObjectName& sequence, QWidget* parent) {
        CSequenceInfoDlg(conn, sequence, parent).exec();
    };
    d.userEdit = [](Connection& conn, const QString& userName, QWidget* parent) {
        CUserEditDlg(conn, userName, parent).exec();
    };
    d.tableCreate = [](Connection& conn, QWidget* parent) -> std::optional<ObjectName> {
        CTableCreateDlg dlg(conn, parent);
        if (dlg.exec() != QDialog::Accepted) return std::nullopt;
        return dlg.table();
    };
    d.tableExport = [](Connection& conn, const ObjectName& table, QWidget* parent) {
        CCsvExportDlg(conn, table, parent).exec();
    };
    d.tableRename = [](Connection& conn, const ObjectName& table,
                       QWidget* parent) -> std::optional<ObjectName> {
        CTableRenameDlg dlg(conn, table, parent);
        if (dlg.exec() != QDialog::Accepted) return std::nullopt;
        return dlg.table();
    };
    d.fieldEdit = [](Connection& conn, const ObjectName& table, const QString& column,
                     const QString& currentDefault, QWidget* parent) {
        CFieldEditDlg(conn, table, column, currentDefault, parent).exec();
    };
    return d;
}
