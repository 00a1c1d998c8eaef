#pragma once

#include <QDialog>

#include "design/TableDesign.h"

class Connection;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QCheckBox;

// "フィールド設定": one column of a table being designed. Opened for a new column (an empty
// record) or for a row of the table creation list (edit mode: the record has a name). It only
// reads from the server (the type list and the length rule); on OK field() holds the column.
class CFieldDefDlg : public QDialog {
    Q_OBJECT
public:
    CFieldDefDlg(Connection& conn, const FieldDefinition& field, QWidget* parent = nullptr);

    const FieldDefinition& field() const { return m_field; }
    bool editMode() const { return m_editMode; }

    inline static const QString kNoName = QStringLiteral("フィールド名を設定してください");
    inline static const QString kNoType = QStringLiteral("フィールドのタイプを設定してください");

private:
    QWidget* buildConstraintGroup();
    void fillTypeList();
    void selectTypeByPrefix(const QString& typeName);
    void typeUpdate();
    void accept() override;

    Connection& m_conn;
    FieldDefinition m_field;
    bool m_editMode = false;

    QLineEdit* m_nameBox = nullptr;
    QComboBox* m_typeList = nullptr;
    QLineEdit* m_categoryBox = nullptr;
    QLineEdit* m_sizeBox = nullptr;
    QPlainTextEdit* m_descriptionBox = nullptr;
    QLineEdit* m_lengthBox = nullptr;
    QLineEdit* m_defaultBox = nullptr;
    QRadioButton* m_nullAllowed = nullptr;
    QRadioButton* m_nullRefused = nullptr;
    QCheckBox* m_constraintCheck = nullptr;
    QList<QWidget*> m_constraintControls;
};
