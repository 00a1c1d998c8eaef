#include "transfer/CTableInfoDlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "transfer/CCsvExportDlg.h"
#include "transfer/TableDetail.h"
#include "widgets/DialogControls.h"
#include "workspace/Prompter.h"
#include "workspace/RecordCount.h"

namespace {

// The four marks of both lists: a plain sheet, and a key in gold (primary), blue (unique)
// or green (other index).
QIcon columnIcon(int image)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (image == PlainColumnImage) {
        p.setPen(QColor(90, 90, 90));
        p.setBrush(QColor(235, 235, 235));
        p.drawRect(QRectF(2.5, 3.5, 11, 9));
        p.drawLine(QPointF(2.5, 6.5), QPointF(13.5, 6.5));
        return QIcon(pixmap);
    }
    const QColor colours[] = {{}, {214, 160, 20}, {40, 100, 210}, {40, 150, 70}};
    p.setPen(QPen(colours[image].darker(150), 1));
    p.setBrush(colours[image]);
    p.drawEllipse(QRectF(1.5, 4.5, 7, 7));
    p.drawRect(QRectF(8, 7, 7, 2));
    p.drawRect(QRectF(12, 9, 2, 3));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(3.5, 6.5, 3, 3));
    return QIcon(pixmap);
}

QTableWidget* reportList(QWidget* parent, const char* name)
{
    auto* list = new QTableWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->verticalHeader()->setVisible(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setShowGrid(true);
    list->setMouseTracking(true);
    list->setIconSize(QSize(16, 16));
    return list;
}

struct ColumnSpec {
    const char16_t* heading;
    int width;
    bool right;
};

const ColumnSpec kIndexColumns[] = {
    {u"インデックス名", 200, false}, {u"PRI", 50, false}, {u"UNI", 50, false},
    {u"INDEX", 50, false},          {u"対象フィールド", 300, false}};
const ColumnSpec kFieldColumns[] = {
    {u"フィールド", 150, false}, {u"データ型", 70, false}, {u"サイズ", 50, true},
    {u"NOT NULL", 70, false},    {u"ﾃﾞﾌｫﾙﾄ値", 100, false}, {u"配列", 50, true},
    {u"散布統計値", 80, true},   {u"Cache", 50, true},       {u"手順", 50, true},
    {u"直値", 50, true}};

Qt::Alignment alignment(bool right)
{
    return (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

template <size_t N>
void setColumns(QTableWidget* list, const ColumnSpec (&columns)[N])
{
    list->clear();
    list->setRowCount(0);
    list->setColumnCount(int(N));
    for (int c = 0; c < int(N); ++c) {
        auto* heading = new QTableWidgetItem(QString::fromUtf16(columns[c].heading));
        heading->setTextAlignment(alignment(columns[c].right));
        list->setHorizontalHeaderItem(c, heading);
        list->setColumnWidth(c, columns[c].width);
    }
}

template <size_t N>
void addRow(QTableWidget* list, const ColumnSpec (&columns)[N], const QStringList& cells, int image)
{
    const int row = list->rowCount();
    list->insertRow(row);
    for (int c = 0; c < int(N); ++c) {
        auto* item = new QTableWidgetItem(cells.value(c));
        item->setTextAlignment(alignment(columns[c].right));
        list->setItem(row, c, item);
    }
    list->item(row, 0)->setIcon(columnIcon(image));
    list->item(row, 0)->setData(Qt::UserRole, image);
}

void setIfPresent(QLineEdit* box, const std::optional<QString>& value)
{
    if (value) box->setText(*value);
}

}  // namespace

CTableInfoDlg::CTableInfoDlg(Connection& conn, const ObjectName& table, const QString& databaseName,
                             QWidget* parent)
    : QDialog(parent), m_conn(conn), m_table(table), m_databaseName(databaseName),
      m_counts(new RecordCountFeed(this))
{
    setObjectName(QStringLiteral("tableInfoDlg"));
    setWindowTitle(QStringLiteral("テーブル明細"));

    auto box = [this](const char* name, bool right) {
        QLineEdit* b = NamedBox(this, name, true);
        if (right) b->setAlignment(Qt::AlignRight);
        return b;
    };
    m_databaseBox = box("databaseBox", false);
    m_oidBox = box("oidBox", true);
    m_lastSysOidBox = box("lastSysOidBox", true);
    m_ownerIdBox = box("ownerIdBox", true);
    m_ownerNameBox = box("ownerNameBox", false);
    m_encodingBox = box("encodingBox", false);
    m_templateBox = box("templateBox", false);
    m_allowConnBox = box("allowConnBox", false);
    m_tableNameBox = box("tableNameBox", false);
    m_countBox = box("countBox", true);
    m_ownerBox = box("ownerBox", false);
    m_recordLengthBox = box("recordLengthBox", true);
    m_fieldCountBox = box("fieldCountBox", true);

    auto* database = new QGroupBox(QStringLiteral("データベース情報"), this);
    auto* dbGrid = new QGridLayout(database);
    auto label = [](QGroupBox* g, const char16_t* text) { return new QLabel(QString::fromUtf16(text), g); };
    dbGrid->addWidget(label(database, u"データベース"), 0, 0);
    dbGrid->addWidget(m_databaseBox, 0, 1, 1, 2);
    dbGrid->addWidget(label(database, u"oid"), 1, 0);
    dbGrid->addWidget(m_oidBox, 1, 1);
    dbGrid->addWidget(label(database, u"最終ｼｽﾃﾑoid"), 2, 0);
    dbGrid->addWidget(m_lastSysOidBox, 2, 1);
    dbGrid->addWidget(label(database, u"特権ﾕｰｻﾞｼｽﾃﾑID"), 3, 0);
    dbGrid->addWidget(m_ownerIdBox, 3, 1);
    dbGrid->addWidget(m_ownerNameBox, 3, 2);
    dbGrid->addWidget(label(database, u"ｴﾝｺｰﾃﾞｨﾝｸﾞ"), 4, 0);
    dbGrid->addWidget(m_encodingBox, 4, 1);
    dbGrid->addWidget(label(database, u"テンプレート"), 5, 0);
    dbGrid->addWidget(m_templateBox, 5, 1);
    dbGrid->addWidget(label(database, u"接続許可"), 6, 0);
    dbGrid->addWidget(m_allowConnBox, 6, 1);

    auto* tableGroup = new QGroupBox(QStringLiteral("テーブル情報"), this);
    auto* tGrid = new QGridLayout(tableGroup);
    const std::pair<const char16_t*, QLineEdit*> tableRows[] = {
        {u"テーブル名", m_tableNameBox}, {u"件数", m_countBox}, {u"所有者", m_ownerBox},
        {u"レコード長", m_recordLengthBox}, {u"フィールド数", m_fieldCountBox}};
    for (int r = 0; r < 5; ++r) {
        tGrid->addWidget(label(tableGroup, tableRows[r].first), r, 0);
        tGrid->addWidget(tableRows[r].second, r, 1);
    }

    m_indexList = reportList(this, "indexList");
    m_fieldList = reportList(this, "fieldList");
    m_fieldList->setContextMenuPolicy(Qt::CustomContextMenu);

    m_columnMenu = new QMenu(this);
    m_columnMenu->setObjectName(QStringLiteral("columnMenu"));
    QAction* add = m_columnMenu->addAction(QStringLiteral("追加"));
    add->setObjectName(QStringLiteral("addAction"));
    QAction* change = m_columnMenu->addAction(QStringLiteral("変更"));
    change->setObjectName(QStringLiteral("changeAction"));
    QAction* reload = m_columnMenu->addAction(QStringLiteral("最新のデータに更新"));
    reload->setObjectName(QStringLiteral("reloadAction"));

    QPushButton* refresh = NamedButton(this, QStringLiteral("更新"), "refreshButton");
    refresh->setDefault(true);
    QPushButton* cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");
    QPushButton* vacuum = NamedButton(this, QStringLiteral("ゴミ掃除"), "vacuumButton");
    QPushButton* analyze = NamedButton(this, QStringLiteral("統計情報の更新"), "analyzeButton");
    QPushButton* rename = NamedButton(this, QStringLiteral("テーブル名変更"), "renameButton");
    QPushButton* exportCsv = NamedButton(this, QStringLiteral("CSV出力"), "csvButton");

    auto* top = new QHBoxLayout;
    top->addWidget(database);
    top->addWidget(tableGroup);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {vacuum, analyze, rename, exportCsv}) buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(refresh);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(new QLabel(QStringLiteral("インデックス情報"), this));
    layout->addWidget(m_indexList, 1);
    layout->addWidget(new QLabel(QStringLiteral("フィールド情報"), this));
    layout->addWidget(m_fieldList, 2);
    layout->addLayout(buttons);
    resize(820, 640);

    connect(refresh, &QPushButton::clicked, this, &CTableInfoDlg::load);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(vacuum, &QPushButton::clicked, this, [this] { maintain(false); });
    connect(analyze, &QPushButton::clicked, this, [this] { maintain(true); });
    connect(rename, &QPushButton::clicked, this, &CTableInfoDlg::renameTable);
    connect(exportCsv, &QPushButton::clicked, this, [this] {
        // The table under its current name: a rename made here is already in m_table.
        if (m_exportRunner)
            m_exportRunner(m_table);
        else
            CCsvExportDlg(m_conn, m_table, this).exec();
    });
    connect(m_fieldList, &QWidget::customContextMenuRequested, this, &CTableInfoDlg::showColumnMenu);
    connect(change, &QAction::triggered, this, &CTableInfoDlg::changeField);
    connect(reload, &QAction::triggered, this, &CTableInfoDlg::load);
    connect(m_counts, &RecordCountFeed::textChanged, m_countBox, &QLineEdit::setText);

    load();
}

CTableInfoDlg::~CTableInfoDlg() = default;

std::optional<ObjectName> CTableInfoDlg::open(Connection& conn, const ObjectName& table,
                                              const QString& databaseName, QWidget* parent,
                                              const FeatureDialogs& dialogs)
{
    CTableInfoDlg dlg(conn, table, databaseName, parent);
    dlg.setFeatureDialogs(dialogs);
    dlg.exec();
    if (!dlg.renamed()) return std::nullopt;
    return dlg.table();
}

TableRowCounter* CTableInfoDlg::rowCounter() const { return m_counts->counter(); }

int CTableInfoDlg::columnImage(int row) const
{
    const QTableWidgetItem* item = m_fieldList->item(row, 0);
    return item ? item->data(Qt::UserRole).toInt() : -1;
}

void CTableInfoDlg::buildLists()
{
    setColumns(m_indexList, kIndexColumns);
    setColumns(m_fieldList, kFieldColumns);
}

// Both lists are emptied on every load; the boxes are overwritten only by what the load
// reached, so after a load that stopped early some keep the previous values.
void CTableInfoDlg::load()
{
    m_counts->cancel();
    ShowName(m_tableNameBox, m_table.caption());
    buildLists();
    const TableDetail detail = LoadTableDetail(m_conn, m_table, m_databaseName);
    showDetail(detail);
    if (detail.tableFound) m_counts->start(m_conn, *detail.rowEstimate, Catalogue::CountStatement(m_table));
}

void CTableInfoDlg::showDetail(const TableDetail& d)
{
    for (size_t r = 0; r < d.columns.rows.size(); ++r)
        addRow(m_fieldList, kFieldColumns, d.columns.rows[r], d.columnImages[r]);
    WidenColumnsToContents(m_fieldList);
    setIfPresent(m_fieldCountBox, d.fieldCount);
    setIfPresent(m_recordLengthBox, d.recordLength);
    if (!d.tableFound) return;
    setIfPresent(m_ownerBox, d.owner);
    if (!d.ownerRead) return;
    m_databaseBox->setText(m_databaseName);
    if (!d.databaseRead) return;
    setIfPresent(m_oidBox, d.database.oid);
    setIfPresent(m_lastSysOidBox, d.database.lastSystemOid);
    setIfPresent(m_encodingBox, d.database.encoding);
    setIfPresent(m_ownerIdBox, d.database.ownerId);
    setIfPresent(m_ownerNameBox, d.database.ownerName);
    setIfPresent(m_templateBox, d.database.isTemplate);
    setIfPresent(m_allowConnBox, d.database.allowConnections);
    for (const IndexFacts& index : d.indexes) {
        const QString yes = QStringLiteral("TRUE");
        addRow(m_indexList, kIndexColumns,
               {index.name, index.primary ? yes : QString(), index.unique ? yes : QString(),
                !index.primary && !index.unique ? yes : QString(), index.keyText},
               PlainColumnImage);
    }
    WidenColumnsToContents(m_indexList);
}

void CTableInfoDlg::maintain(bool analyze)
{
    const QString question = analyze ? QStringLiteral("テーブルの統計情報を更新しますか？")
                                     : QStringLiteral("テーブルのゴミ清掃を行いますか？");
    if (!prompter().askYesNo(BoxKind::Application, question, QStringLiteral("警告"))) return;
    const MaintenanceOutcome outcome = RunMaintenance(
        m_conn, analyze ? MaintenanceKind::VacuumAnalyze : MaintenanceKind::Vacuum, m_table);
    if (!outcome.done) {
        prompter().tell(BoxKind::Window, outcome.message);
        return;
    }
    prompter().tell(BoxKind::Window, kMaintenanceDone);
    load();
}

void CTableInfoDlg::renameTable()
{
    if (!m_dialogs.tableRename) return;
    const std::optional<ObjectName> renamed = m_dialogs.tableRename(m_conn, m_table, this);
    if (!renamed) return;
    m_table = *renamed;
    load();
    m_renamed = true;
}

void CTableInfoDlg::changeField()
{
    const QTableWidgetItem* name = m_menuRow >= 0 ? m_fieldList->item(m_menuRow, 0) : nullptr;
    const QTableWidgetItem* value = m_menuRow >= 0 ? m_fieldList->item(m_menuRow, 4) : nullptr;
    if (m_dialogs.fieldEdit)
        m_dialogs.fieldEdit(m_conn, m_table, name ? name->text() : QString(),
                            value ? value->text() : QString(), this);
    load();
}

void CTableInfoDlg::showColumnMenu(const QPoint& pos)
{
    m_menuRow = m_fieldList->rowAt(pos.y());
    m_columnMenu->exec(m_fieldList->viewport()->mapToGlobal(pos));
}
