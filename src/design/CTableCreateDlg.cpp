#include "design/CTableCreateDlg.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

#include "design/CFieldDefDlg.h"
#include "widgets/HoverRowSelect.h"
#include "design/CTableSelectDlg.h"
#include "widgets/DialogControls.h"
#include "workspace/Prompter.h"

namespace {

constexpr int kKeyRole = Qt::UserRole;
constexpr int kExactNameRole = Qt::UserRole + 1;

struct Column {
    const char16_t* heading;
    int width;
};

const Column kFieldColumns[kFieldColumnCount] = {
    {u"フィールド名", 150}, {u"データ型", 70}, {u"長さ", 50},       {u"NOT NULL", 80},
    {u"ﾃﾞﾌｫﾙﾄ", 80},      {u"制約名", 100},  {u"NULL", 50},       {u"UNIQUE", 50},
    {u"PRIMARY", 50},     {u"CHECK", 50},    {u"参照先テーブル", 100}, {u"カラム", 100},
    {u"MATCH", 80},       {u"DELETE", 80},   {u"UPDATE", 80},     {u"遅延可能", 80},
    {u"INITIALLY", 80},
};

const Column kForeignColumns[] = {
    {u"制約名", 150},        {u"UNIQUE", 80},  {u"PRIMARY", 80}, {u"CHECK", 100},
    {u"参照先テーブル", 100}, {u"カラム", 100}, {u"MATCH", 80},   {u"DELETE", 80},
    {u"UPDATE", 80},         {u"遅延可能", 100}, {u"INITIALLY", 100},
};

template <size_t N>
QTableWidget* reportList(QWidget* parent, const char* name, const Column (&columns)[N])
{
    auto* list = new QTableWidget(0, int(N), parent);
    list->setObjectName(QLatin1String(name));
    QStringList headings;
    for (const Column& c : columns) headings << QString::fromUtf16(c.heading);
    list->setHorizontalHeaderLabels(headings);
    for (size_t i = 0; i < N; ++i) list->setColumnWidth(int(i), columns[i].width);
    list->horizontalHeader()->setSectionsClickable(false);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->verticalHeader()->setVisible(false);
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return list;
}

QPushButton* button(QWidget* parent, const QString& label, const char* name, bool enabled = true)
{
    QPushButton* b = NamedButton(parent, label, name);
    b->setEnabled(enabled);
    return b;
}

// A small key: a ring with a bit and two teeth, in the marking's colour.
QPixmap keyPicture(const QColor& colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    if (!colour.isValid()) return pixmap;
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour.darker(160), 1));
    p.setBrush(colour);
    p.drawEllipse(QRectF(1, 4, 7, 7));
    p.drawRect(QRectF(7, 6.5, 8, 2));
    p.drawRect(QRectF(11, 8.5, 1.5, 3));
    p.drawRect(QRectF(13.5, 8.5, 1.5, 2));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(3, 6, 3, 3));
    return pixmap;
}

}  // namespace

QIcon CTableCreateDlg::keyIcon(KeyKind key)
{
    static const QIcon blank(keyPicture(QColor()));
    static const QIcon yellow(keyPicture(QColor(240, 200, 0)));
    static const QIcon blue(keyPicture(QColor(40, 90, 230)));
    switch (key) {
    case KeyKind::PrimaryKey:
        return yellow;
    case KeyKind::Unique:
        return blue;
    default:
        return blank;
    }
}

CTableCreateDlg::CTableCreateDlg(Connection& conn, QWidget* parent) : QDialog(parent), m_conn(conn)
{
    setObjectName(QStringLiteral("tableCreateDlg"));
    setWindowTitle(QStringLiteral("テーブルの作成"));

    m_nameBox = new QLineEdit(this);
    m_nameBox->setObjectName(QStringLiteral("tableNameBox"));
    QPushButton* copy = button(this, QStringLiteral("テーブルのコピー"), "copyTableButton");
    QPushButton* add = button(this, QStringLiteral("フィールド追加"), "addFieldButton");
    QPushButton* edit = button(this, QStringLiteral("フィールド編集"), "editFieldButton");
    QPushButton* remove = button(this, QStringLiteral("フィールド削除"), "deleteFieldButton");
    QPushButton* constraint = button(this, QStringLiteral("カラム制約"), "constraintButton", false);
    QPushButton* ok = button(this, QStringLiteral("OK"), "okButton");
    ok->setDefault(true);
    QPushButton* cancel = button(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");

    m_fieldList = reportList(this, "fieldList", kFieldColumns);
    m_fieldList->setContextMenuPolicy(Qt::CustomContextMenu);

    auto* inherit = new QListWidget(this);
    inherit->setObjectName(QStringLiteral("inheritList"));
    QPushButton* inheritCopy =
        button(this, QStringLiteral("テーブルのコピー"), "inheritCopyButton", false);

    auto* foreign = new QGroupBox(QStringLiteral("外部参照オプション"), this);
    auto* foreignCheck = new QCheckBox(QStringLiteral("外部参照オプションを有効にする"), foreign);
    foreignCheck->setObjectName(QStringLiteral("foreignCheck"));
    foreignCheck->setEnabled(false);
    QTableWidget* foreignList = reportList(foreign, "foreignList", kForeignColumns);
    auto* foreignButtons = new QHBoxLayout;
    foreignButtons->addStretch();
    foreignButtons->addWidget(button(foreign, QStringLiteral("追加"), "foreignAddButton", false));
    foreignButtons->addWidget(button(foreign, QStringLiteral("編集"), "foreignEditButton", false));
    foreignButtons->addWidget(button(foreign, QStringLiteral("削除"), "foreignDeleteButton", false));
    auto* foreignLayout = new QVBoxLayout(foreign);
    foreignLayout->addWidget(foreignCheck);
    foreignLayout->addWidget(foreignList);
    foreignLayout->addLayout(foreignButtons);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(QStringLiteral("テーブル名"), this));
    nameRow->addWidget(m_nameBox, 1);
    nameRow->addWidget(copy);
    auto* fieldButtons = new QHBoxLayout;
    for (QPushButton* b : {add, edit, remove, constraint}) fieldButtons->addWidget(b);
    fieldButtons->addStretch();
    auto* inheritLayout = new QVBoxLayout;
    inheritLayout->addWidget(new QLabel(QStringLiteral("継承"), this));
    inheritLayout->addWidget(inherit);
    inheritLayout->addWidget(inheritCopy);
    auto* lower = new QHBoxLayout;
    lower->addLayout(inheritLayout);
    lower->addWidget(foreign, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nameRow);
    layout->addWidget(m_fieldList, 1);
    layout->addLayout(fieldButtons);
    layout->addLayout(lower);
    layout->addLayout(buttons);
    resize(900, 600);

    connect(copy, &QPushButton::clicked, this, &CTableCreateDlg::takeOverTable);
    connect(add, &QPushButton::clicked, this, &CTableCreateDlg::addField);
    connect(edit, &QPushButton::clicked, this, &CTableCreateDlg::editField);
    connect(remove, &QPushButton::clicked, this, &CTableCreateDlg::deleteField);
    connect(ok, &QPushButton::clicked, this, &CTableCreateDlg::createTable);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_fieldList, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row >= 0) m_currentRow = row;
    });
    // The row under the resting pointer becomes the selected, current row; a double-click on
    // a row, or below the rows, edits the current row.
    new HoverRowSelect(m_fieldList, [this] { editField(); });
    connect(m_fieldList, &QTableWidget::cellDoubleClicked, this, [this] { editField(); });
    connect(m_fieldList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        std::unique_ptr<QMenu> menu(contextMenuFor(m_fieldList->rowAt(pos.y())));
        menu->exec(m_fieldList->viewport()->mapToGlobal(pos));
    });
}

QMenu* CTableCreateDlg::contextMenuFor(int row)
{
    m_currentRow = row;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("fieldMenu"));
    QAction* primary = menu->addAction(QStringLiteral("プライマリーキー設定"));
    primary->setObjectName(QStringLiteral("primaryKeyAction"));
    connect(primary, &QAction::triggered, this, [this] { toggleKey(KeyKind::PrimaryKey); });
    QAction* unique = menu->addAction(QStringLiteral("ユニークキー設定"));
    unique->setObjectName(QStringLiteral("uniqueKeyAction"));
    connect(unique, &QAction::triggered, this, [this] { toggleKey(KeyKind::Unique); });
    menu->addSeparator();
    // The buttons do this work; these entries are shown and do nothing.
    menu->addAction(QStringLiteral("フィールドの追加"));
    menu->addAction(QStringLiteral("フィールドの編集"));
    menu->addAction(QStringLiteral("フィールドの削除"));
    return menu;
}

void CTableCreateDlg::writeRow(int row, const FieldDefinition& field)
{
    const QStringList cells = FieldCells(field);
    for (int c = 0; c < kFieldColumnCount; ++c) {
        QTableWidgetItem* item = m_fieldList->item(row, c);
        if (!item) m_fieldList->setItem(row, c, item = new QTableWidgetItem);
        item->setText(cells.at(c));
    }
    m_fieldList->item(row, 0)->setData(kExactNameRole, field.exactName);
}

void CTableCreateDlg::appendRow(const FieldDefinition& field)
{
    const int row = m_fieldList->rowCount();
    m_fieldList->insertRow(row);
    writeRow(row, field);
    QTableWidgetItem* first = m_fieldList->item(row, 0);
    first->setData(kKeyRole, int(KeyKind::None));
    first->setIcon(keyIcon(KeyKind::None));
}

// The cells are the data: a row reads back from its seventeen texts, its key and whether its
// name came from the server.
FieldDefinition CTableCreateDlg::rowField(int row) const
{
    QStringList cells;
    for (int c = 0; c < kFieldColumnCount; ++c) {
        const QTableWidgetItem* item = m_fieldList->item(row, c);
        cells << (item ? item->text() : QString());
    }
    FieldDefinition f = FieldFromCells(cells);
    if (const QTableWidgetItem* first = m_fieldList->item(row, 0)) {
        f.key = KeyKind(first->data(kKeyRole).toInt());
        f.exactName = first->data(kExactNameRole).toBool();
    }
    return f;
}

std::vector<FieldDefinition> CTableCreateDlg::columns() const
{
    std::vector<FieldDefinition> out;
    for (int row = 0; row < m_fieldList->rowCount(); ++row) out.push_back(rowField(row));
    return out;
}

bool CTableCreateDlg::hasCurrentRow() const
{
    return m_currentRow >= 0 && m_currentRow < m_fieldList->rowCount();
}

void CTableCreateDlg::addField()
{
    CFieldDefDlg dlg(m_conn, FieldDefinition{}, this);
    if (dlg.exec() == QDialog::Accepted) appendRow(dlg.field());
}

void CTableCreateDlg::editField()
{
    if (!hasCurrentRow() || rowField(m_currentRow).name.isEmpty()) return;
    CFieldDefDlg dlg(m_conn, rowField(m_currentRow), this);
    if (dlg.exec() == QDialog::Accepted) writeRow(m_currentRow, dlg.field());
}

// The current row number stays as it was, so it then names the row that moved up into the
// deleted row's place, if any.
void CTableCreateDlg::deleteField()
{
    if (!prompter().ask(BoxKind::Application, kDeleteQuestion)) return;
    if (!hasCurrentRow()) return;
    const int row = m_currentRow;
    {
        const QSignalBlocker quiet(m_fieldList);
        m_fieldList->removeRow(row);
    }
    m_currentRow = row;
    if (hasCurrentRow()) m_fieldList->selectRow(row);
}

// A row marked with `key` loses the marking; any other row gets it.
void CTableCreateDlg::toggleKey(KeyKind key)
{
    QTableWidgetItem* first = hasCurrentRow() ? m_fieldList->item(m_currentRow, 0) : nullptr;
    if (!first) {
        prompter().tell(BoxKind::Window, kNoRowData);
        return;
    }
    const KeyKind now = KeyKind(first->data(kKeyRole).toInt()) == key ? KeyKind::None : key;
    first->setData(kKeyRole, int(now));
    first->setIcon(keyIcon(now));
}

void CTableCreateDlg::takeOverTable()
{
    CTableSelectDlg select(m_conn, this);
    if (select.exec() != QDialog::Accepted) return;
    m_fieldList->setRowCount(0);
    const auto taken = TakeOverColumns(m_conn, select.chosenTable());
    if (!taken) return;
    for (const FieldDefinition& f : *taken) appendRow(f);
}

void CTableCreateDlg::createTable()
{
    const std::optional<ObjectName> created = CreateTable(m_conn, m_nameBox->text(), columns());
    if (!created) return;
    m_table = *created;
    QDialog::accept();
}
