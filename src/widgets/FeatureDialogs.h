#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "workspace/ObjectName.h"

class CKestrelDoc;
class Connection;
class QWidget;

// The dialogs of other folders that a view or a dialog opens. app/ fills them in and hands them
// over (AppFeatureDialogs), so a folder never includes another folder's dialogs. Each opener
// runs its dialog modal to `parent` and returns once it has closed; an opener left empty opens
// nothing.
struct FeatureDialogs {
    // The commands the object tree and the list view serve alike (IsSharedViewCommand).
    std::function<void(int command, CKestrelDoc& doc, QWidget* parent)> sharedCommand;
    // "テーブル明細" of one table: the table under its new name when it was renamed there.
    std::function<std::optional<ObjectName>(Connection& conn, const ObjectName& table,
                                            const QString& databaseName, QWidget* parent)>
        tableDetail;
    // The detail of one sequence.
    std::function<void(Connection& conn, const ObjectName& sequence, QWidget* parent)>
        sequenceDetail;
    // The editing of one login user, by name.
    std::function<void(Connection& conn, const QString& userName, QWidget* parent)> userEdit;
    // "テーブルの作成": the new table, in the schema the server put it in, once it is
    // committed; nothing when cancelled.
    std::function<std::optional<ObjectName>(Connection& conn, QWidget* parent)> tableCreate;
    // The CSV export of one table or view.
    std::function<void(Connection& conn, const ObjectName& table, QWidget* parent)> tableExport;
    // "テーブル名変更": the table under its new name after a rename, nothing when cancelled.
    std::function<std::optional<ObjectName>(Connection& conn, const ObjectName& table,
                                            QWidget* parent)>
        tableRename;
    // "フィールド変更" of one column with its current default.
    std::function<void(Connection& conn, const ObjectName& table, const QString& column,
                       const QString& currentDefault, QWidget* parent)>
        fieldEdit;
};
