#include "design/CTableSelectDlg.h"

#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "design/TableSelection.h"
#include "widgets/DialogControls.h"
#include "workspace/Catalogue.h"
#include "workspace/RecordCount.h"
#include "workspace/SqlQuote.h"

namespace {

// A 32 by 32 picture of a table: a header band over a grid of cells.
QIcon tablePicture()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(40, 40, 90));
    p.fillRect(3, 5, 26, 22, Qt::white);
    p.fillRect(3, 5, 26, 6, QColor(70, 100, 170));
    p.drawRect(3, 5, 26, 22);
    for (int y = 11; y < 27; y += 5) p.drawLine(3, y, 29, y);
    for (int x = 12; x < 29; x += 9) p.drawLine(x, 11, x, 27);
    return QIcon(pixmap);
}

QLineEdit* infoBox(QWidget* parent, const char* name, bool rightAligned)
{
    QLineEdit* b = NamedBox(parent, name, true);
    if (rightAligned) b->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return b;
}

}  // namespace

CTableSelectDlg::CTableSelectDlg(Connection& conn, QWidget* parent) : QDialog(parent), m_conn(conn)
{
    setObjectName(QStringLiteral("tableSelectDlg"));
    setWindowTitle(QStringLiteral("テーブルの選択"));

    m_tableList = new QListWidget(this);
    m_tableList->setObjectName(QStringLiteral("tableList"));
    m_tableList->setViewMode(QListView::IconMode);
    m_tableList->setIconSize(QSize(32, 32));
    m_tableList->setMovement(QListView::Static);
    m_tableList->setResizeMode(QListView::Adjust);
    m_tableList->setWordWrap(true);
    m_tableList->viewport()->installEventFilter(this);

    m_nameBox = new QLineEdit(this);
    m_nameBox->setObjectName(QStringLiteral("tableNameBox"));
    auto* nameRow = new QFormLayout;
    nameRow->addRow(QStringLiteral("テーブル名"), m_nameBox);

    auto* info = new QGroupBox(QStringLiteral("テーブル情報"), this);
    m_countBox = infoBox(info, "countBox", true);
    ReserveBoxWidth(m_countBox, WidestCountText());
    m_ownerBox = infoBox(info, "ownerBox", false);
    m_recordLengthBox = infoBox(info, "recordLengthBox", true);
    m_fieldCountBox = infoBox(info, "fieldCountBox", true);
    auto* infoLayout = new QFormLayout(info);
    infoLayout->addRow(QStringLiteral("件数"), m_countBox);
    infoLayout->addRow(QStringLiteral("所有者"), m_ownerBox);
    infoLayout->addRow(QStringLiteral("レコード長"), m_recordLengthBox);
    infoLayout->addRow(QStringLiteral("フィールド数"), m_fieldCountBox);

    auto* fields = new QGroupBox(QStringLiteral("フィールド情報"), this);
    m_fieldList = new QTreeWidget(fields);
    m_fieldList->setObjectName(QStringLiteral("fieldList"));
    m_fieldList->setColumnCount(1);
    m_fieldList->setHeaderLabels({QStringLiteral("field")});
    m_fieldList->setHeaderHidden(true);
    m_fieldList->setColumnWidth(0, 100);
    m_fieldList->setRootIsDecorated(false);
    auto* fieldsLayout = new QVBoxLayout(fields);
    fieldsLayout->addWidget(m_fieldList);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);

    auto* right = new QVBoxLayout;
    right->addWidget(info);
    right->addWidget(fields, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* top = new QHBoxLayout;
    top->addWidget(m_tableList, 2);
    top->addLayout(right, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(nameRow);
    layout->addLayout(buttons);
    resize(620, 420);

    connect(ok, &QPushButton::clicked, this, &CTableSelectDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    // The result of a double click is the table its first click chose.
    connect(m_tableList, &QListWidget::itemDoubleClicked, this, [this] {
        m_chosenName = m_clickedName;
        m_chosenTable = m_clickedTable;
        QDialog::accept();
    });

    m_counts = new RecordCountFeed(this);
    connect(m_counts, &RecordCountFeed::textChanged, m_countBox, &QLineEdit::setText);

    m_tables = ListTables(m_conn);
    const QIcon picture = tablePicture();
    for (const QString& caption : Captions(m_tables)) m_tableList->addItem(new QListWidgetItem(picture, caption));
}

// A press on the icon list is a click on the item under it, or on no item.
bool CTableSelectDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_tableList->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton) clickAt(m_tableList->itemAt(press->position().toPoint()));
    }
    return QDialog::eventFilter(watched, event);
}

void CTableSelectDlg::clickAt(QListWidgetItem* item)
{
    const int row = item ? m_tableList->row(item) : -1;
    m_clickedTable = row >= 0 ? m_tables.at(row) : ObjectName{};
    m_clickedName = item ? item->text() : QString();
    m_nameBox->setText(m_clickedName);
    // No name, no table: the boxes keep what they show.
    if (!m_clickedName.isEmpty()) showInformation(m_clickedTable);
}

// Each step that fails leaves the boxes it would have filled, and those after it, as they
// were: nothing is emptied in advance.
void CTableSelectDlg::showInformation(const ObjectName& table)
{
    // A count still running for the table clicked before is dropped; its box keeps what it
    // showed until this table's estimate replaces it.
    m_counts->cancel();
    const TableInformation info = ReadTableInformation(m_conn, table);
    if (info.stepsDone >= 1) m_counts->start(m_conn, info.recordEstimate, Catalogue::CountStatement(table));
    if (info.stepsDone >= 2 && info.owner) m_ownerBox->setText(*info.owner);
    if (info.stepsDone < 3) return;
    m_fieldList->clear();
    if (!info.columns.isEmpty()) m_fieldCountBox->setText(QString::number(info.columns.size()));
    for (const QString& column : info.columns) new QTreeWidgetItem(m_fieldList, {column});
    m_recordLengthBox->setText(info.recordLength);
}

TableRowCounter* CTableSelectDlg::rowCounter() const { return m_counts->counter(); }

ObjectName CTableSelectDlg::tableForText(const QString& text) const
{
    if (!m_clickedName.isEmpty() && text == m_clickedName) return m_clickedTable;
    for (int row = 0; row < m_tableList->count(); ++row)
        if (m_tableList->item(row)->text() == text) return m_tables.at(row);
    return {QString(), FoldTypedName(text), true};
}

void CTableSelectDlg::accept()
{
    m_chosenName = m_nameBox->text();
    m_chosenTable = tableForText(m_chosenName);
    QDialog::accept();
}
