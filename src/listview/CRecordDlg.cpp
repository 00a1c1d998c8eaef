#include "listview/CRecordDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "listview/RecordEditing.h"
#include "widgets/DialogControls.h"

namespace {
const QString kNullText = QStringLiteral("NULL");
// On the "データ" cell: the value is NULL. On the "NOT NULL" cell: the column takes NULL.
constexpr int kIsNullRole = Qt::UserRole + 1;
constexpr int kNullableRole = Qt::UserRole + 2;
}  // namespace

CRecordDlg::CRecordDlg(Connection& conn, const ObjectName& table, const QStringList& rowValues,
                       const RowIdentity& identity, QWidget* parent)
    : QDialog(parent), m_conn(conn), m_table(table), m_values(rowValues), m_identity(identity)
{
    setObjectName(QStringLiteral("recordDlg"));
    setWindowTitle(QStringLiteral("レコード明細"));

    m_fieldList = new QTableWidget(0, 6, this);
    m_fieldList->setObjectName(QStringLiteral("fieldList"));
    m_fieldList->setHorizontalHeaderLabels({QStringLiteral("フィールド名"), QStringLiteral("データ型"),
                                            QStringLiteral("長さ"), QStringLiteral("NOT NULL"),
                                            QStringLiteral("ﾃﾞﾌｫﾙﾄ"), QStringLiteral("データ")});
    const int widths[] = {150, 70, 50, 80, 80, 200};
    for (int c = 0; c < 6; ++c) m_fieldList->setColumnWidth(c, widths[c]);
    m_fieldList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_fieldList->verticalHeader()->setVisible(false);
    m_fieldList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_fieldList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_fieldList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_fieldList->setShowGrid(true);

    m_oidBox = NamedBox(this, "oidBox", true);
    m_fieldNameBox = NamedBox(this, "fieldNameBox", true);
    m_typeBox = NamedBox(this, "typeBox", true);
    m_dataBox = NamedBox(this, "dataBox", false);
    m_nullBox = new QCheckBox(QStringLiteral("NULL"), this);
    m_nullBox->setObjectName(QStringLiteral("nullBox"));
    m_nullBox->hide();

    m_updateButton = NamedButton(this, QStringLiteral("更新"), "updateButton");
    QPushButton* refresh = NamedButton(this, QStringLiteral("表示の更新"), "refreshButton");
    refresh->setDefault(true);
    QPushButton* remove = NamedButton(this, QStringLiteral("削除"), "deleteButton");
    QPushButton* cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");

    auto* fields = new QGridLayout;
    const std::pair<const char16_t*, QLineEdit*> rows[] = {{u"OID", m_oidBox},
                                                           {u"フィールド名", m_fieldNameBox},
                                                           {u"タイプ名", m_typeBox},
                                                           {u"データ", m_dataBox}};
    for (int r = 0; r < 4; ++r) {
        fields->addWidget(new QLabel(QString::fromUtf16(rows[r].first), this), r, 0);
        fields->addWidget(rows[r].second, r, 1);
    }
    fields->addWidget(m_nullBox, 3, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_updateButton);
    buttons->addWidget(refresh);
    buttons->addWidget(remove);
    buttons->addStretch();
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_fieldList, 1);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    resize(640, 470);

    connect(m_fieldList, &QTableWidget::currentCellChanged, this,
            [this](int row) { chooseField(row); });
    connect(m_updateButton, &QPushButton::clicked, this, &CRecordDlg::updateField);
    connect(refresh, &QPushButton::clicked, this, &CRecordDlg::fillFieldList);
    connect(remove, &QPushButton::clicked, this, &CRecordDlg::deleteRecord);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_nullBox, &QCheckBox::toggled, this, [this](bool isNull) { m_dataBox->setEnabled(!isNull); });

    fillFieldList();
    // No field is chosen until the operator picks one, focus or not.
    m_fieldList->setCurrentIndex({});
    m_updateButton->hide();
}

void CRecordDlg::fillFieldList()
{
    const RecordDetail detail = LoadRecordDetail(m_conn, m_table, m_identity);
    // The row as the server holds it now is what the list takes back; a row that changed or
    // went since it was listed gives nothing, and the list keeps its own values.
    if (detail.values.size() == m_values.size()) m_values = detail.values;
    m_fieldList->setRowCount(0);
    m_fieldList->setRowCount(int(detail.fields.size()));
    for (int r = 0; r < int(detail.fields.size()); ++r) {
        const FieldLine& f = detail.fields[size_t(r)];
        const QString cells[] = {f.name, f.type, f.length, f.nullSetting, f.defaultValue, f.data};
        for (int c = 0; c < 6; ++c) m_fieldList->setItem(r, c, new QTableWidgetItem(cells[c]));
        m_fieldList->item(r, 3)->setData(kNullableRole, f.nullable);
        if (f.dataIsNull) {
            // NULL is not a text: drawn apart from one, so that '' and a text 'NULL' differ.
            QTableWidgetItem* data = m_fieldList->item(r, 5);
            data->setText(kNullText);
            data->setData(kIsNullRole, true);
            QFont italic = data->font();
            italic.setItalic(true);
            data->setFont(italic);
            data->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
        }
    }
}

void CRecordDlg::chooseField(int row)
{
    if (row < 0 || row >= m_fieldList->rowCount()) return;
    m_selectedField = row;
    m_oidBox->setText(m_values.value(0));
    m_fieldNameBox->setText(m_fieldList->item(row, 0)->text());
    m_typeBox->setText(m_fieldList->item(row, 1)->text());
    const bool isNull = m_fieldList->item(row, 5)->data(kIsNullRole).toBool();
    m_dataBox->setText(isNull ? QString() : m_fieldList->item(row, 5)->text());
    m_nullBox->setVisible(m_fieldList->item(row, 3)->data(kNullableRole).toBool());
    m_nullBox->setChecked(isNull && m_nullBox->isVisibleTo(this));
    m_dataBox->setEnabled(!m_nullBox->isChecked());
    m_updateButton->show();
}

void CRecordDlg::updateField()
{
    const bool toNull = m_nullBox->isVisibleTo(this) && m_nullBox->isChecked();
    // The list shows NULL as an empty cell.
    const QString data = toNull ? QString() : m_dataBox->text();
    const std::optional<RowIdentity> changed = UpdateRecordField(
        m_conn, m_table, m_fieldNameBox->text(), toNull ? std::nullopt : std::optional(data), m_identity);
    if (!changed) return;
    // The update made a new version of the row: later updates and the list address that.
    m_identity = *changed;
    if (!m_values.isEmpty()) m_values[0] = changed->ctid;
    const int field = m_selectedField;
    if (field + 1 < m_values.size()) m_values[field + 1] = data;
    fillFieldList();
    if (field >= 0 && field < m_fieldList->rowCount()) {
        m_fieldList->setCurrentCell(field, 0);
        chooseField(field);
    }
}

void CRecordDlg::deleteRecord()
{
    if (!DeleteRecord(m_conn, m_table, m_identity)) return;
    m_deleted = true;
    accept();
}
