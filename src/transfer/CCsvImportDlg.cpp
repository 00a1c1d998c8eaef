#include "transfer/CCsvImportDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "widgets/DialogControls.h"
#include "workspace/Catalogue.h"
#include "workspace/RecordCount.h"
#include "workspace/Prompter.h"
#include "workspace/SqlQuote.h"
#include "workspace/Transaction.h"

namespace {

constexpr int kPreviewLines = 300;
// How long typing in "テーブル名" must rest before the table check runs.
constexpr int kTableCheckRestMs = 300;

QLineEdit* box(QWidget* parent, const char* name, bool readOnly = false, bool right = false)
{
    QLineEdit* e = NamedBox(parent, name, readOnly);
    if (right) e->setAlignment(Qt::AlignRight);
    return e;
}

QTableWidget* reportList(QWidget* parent, const char* name)
{
    auto* t = new QTableWidget(parent);
    t->setObjectName(QLatin1String(name));
    t->setShowGrid(true);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setMouseTracking(true);
    t->verticalHeader()->hide();
    return t;
}

void setCell(QTableWidget* t, int row, int column, const QString& text, bool right = false)
{
    auto* item = new QTableWidgetItem(text);
    if (right) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    t->setItem(row, column, item);
}

struct FieldColumn {
    const char16_t* heading;
    int width;
    bool right;
};
const FieldColumn kFieldColumns[] = {
    {u"フィールド", 150, false}, {u"データ型", 70, false}, {u"サイズ", 50, true},
    {u"NOT NULL", 70, false},    {u"ﾃﾞﾌｫﾙﾄ値", 100, false}, {u"配列", 50, true},
    {u"散布統計値", 80, true},   {u"Cache", 50, true},     {u"手順", 50, true},
    {u"直値", 50, true},
};

}  // namespace

CCsvImportDlg::CCsvImportDlg(Connection& conn, QWidget* parent) : QDialog(parent), m_conn(conn)
{
    setWindowTitle(QStringLiteral("CSVのインポート"));
    auto* top = new QVBoxLayout(this);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(QStringLiteral("ファイル名"), this));
    m_fileName = box(this, "fileNameBox");
    fileRow->addWidget(m_fileName, 1);
    auto* fileBrowse = NamedButton(this, QStringLiteral("参照"), "fileBrowseButton");
    fileRow->addWidget(fileBrowse);
    m_autoSet = NamedButton(this, QStringLiteral("自動設定"), "autoSetButton");
    m_autoSet->setEnabled(false);
    fileRow->addWidget(m_autoSet);
    fileRow->addWidget(new QLabel(QStringLiteral("実行件数"), this));
    m_executed = box(this, "executedBox", true, true);
    fileRow->addWidget(m_executed);
    fileRow->addWidget(new QLabel(QStringLiteral("エラー件数"), this));
    m_errors = box(this, "errorBox", true, true);
    fileRow->addWidget(m_errors);
    top->addLayout(fileRow);

    auto* settingsRow = new QHBoxLayout;
    auto choiceGroup = [this](const QString& title, const char* prefix, const QStringList& items,
                              QRadioButton*& def, QComboBox*& list, QRadioButton*& user,
                              QLineEdit*& userBox) {
        auto* g = new QGroupBox(title, this);
        auto* grid = new QGridLayout(g);
        def = new QRadioButton(QStringLiteral("デフォルト"), g);
        def->setObjectName(QLatin1String(prefix) + QStringLiteral("DefaultRadio"));
        list = new QComboBox(g);
        list->setObjectName(QLatin1String(prefix) + QStringLiteral("List"));
        list->addItems(items);
        list->setCurrentIndex(-1);
        user = new QRadioButton(QStringLiteral("ユーザ指定"), g);
        user->setObjectName(QLatin1String(prefix) + QStringLiteral("UserRadio"));
        userBox = new QLineEdit(g);
        userBox->setObjectName(QLatin1String(prefix) + QStringLiteral("Box"));
        userBox->setMaxLength(255);
        auto* radios = new QButtonGroup(g);
        radios->addButton(def);
        radios->addButton(user);
        grid->addWidget(def, 0, 0);
        grid->addWidget(list, 0, 1);
        grid->addWidget(user, 1, 0);
        grid->addWidget(userBox, 1, 1);
        return g;
    };
    settingsRow->addWidget(choiceGroup(QStringLiteral("フィールド区切り記号"), "delimiter",
                                       {QStringLiteral("カンマ"), QStringLiteral("タブ")},
                                       m_delimiterDefault, m_delimiterList, m_delimiterUser,
                                       m_delimiterBox));
    settingsRow->addWidget(choiceGroup(QStringLiteral("クォート記号"), "quote",
                                       {QStringLiteral("ダブル"), QStringLiteral("シングル")},
                                       m_quoteDefault, m_quoteList, m_quoteUser, m_quoteBox));

    auto* tableGroup = new QGroupBox(QStringLiteral("テーブル設定"), this);
    auto* tg = new QGridLayout(tableGroup);
    tg->addWidget(new QLabel(QStringLiteral("テーブル名"), tableGroup), 0, 0);
    m_tableName = box(tableGroup, "tableNameBox");
    tg->addWidget(m_tableName, 0, 1);
    auto* tableBrowse = NamedButton(tableGroup, QStringLiteral("参照"), "tableBrowseButton");
    tg->addWidget(tableBrowse, 0, 2);
    tg->addWidget(new QLabel(QStringLiteral("現在のレコード数"), tableGroup), 1, 0);
    m_recordCount = box(tableGroup, "recordCountBox", true, true);
    ReserveBoxWidth(m_recordCount, WidestCountText());
    tg->addWidget(m_recordCount, 1, 1);
    auto check = [](QWidget* parent, const QString& text, const char* name) {
        auto* c = new QCheckBox(text, parent);
        c->setObjectName(QLatin1String(name));
        return c;
    };
    m_create = check(tableGroup, QStringLiteral("テーブルを新たに作る"), "createCheck");
    m_delete = check(tableGroup, QStringLiteral("現在のレコードをすべて削除する"), "deleteCheck");
    m_stopOnError = check(tableGroup, QStringLiteral("エラーがあった場合、中断する"), "stopOnErrorCheck");
    tg->addWidget(m_create, 2, 0, 1, 3);
    tg->addWidget(m_delete, 3, 0, 1, 3);
    tg->addWidget(m_stopOnError, 4, 0, 1, 3);
    settingsRow->addWidget(tableGroup);
    top->addLayout(settingsRow);

    auto* fieldGroup = new QGroupBox(QStringLiteral("フィールド設定"), this);
    auto* fg = new QVBoxLayout(fieldGroup);
    m_header = check(fieldGroup, QStringLiteral("先頭行をカラム名にする"), "headerCheck");
    fg->addWidget(m_header);
    m_fieldList = reportList(fieldGroup, "fieldList");
    m_fieldList->setColumnCount(10);
    for (int i = 0; i < 10; ++i) {
        auto* h = new QTableWidgetItem(QString::fromUtf16(kFieldColumns[i].heading));
        h->setTextAlignment(kFieldColumns[i].right ? Qt::AlignRight | Qt::AlignVCenter
                                                   : Qt::AlignLeft | Qt::AlignVCenter);
        m_fieldList->setHorizontalHeaderItem(i, h);
        m_fieldList->setColumnWidth(i, kFieldColumns[i].width);
    }
    fg->addWidget(m_fieldList);
    top->addWidget(fieldGroup, 1);

    m_preview = reportList(this, "previewList");
    top->addWidget(m_preview, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_ok = NamedButton(this, QStringLiteral("OK"), "okButton");
    m_ok->setDefault(true);
    m_cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");
    m_stop = NamedButton(this, QStringLiteral("中断"), "stopButton");
    m_stop->setEnabled(false);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_stop);
    top->addLayout(buttons);

    m_runDisabled = {m_fileName,     fileBrowse,       m_delimiterDefault, m_delimiterList,
                     m_delimiterUser, m_delimiterBox,  m_quoteDefault,     m_quoteList,
                     m_quoteUser,    m_quoteBox,       m_tableName,        tableBrowse,
                     m_create,       m_delete,         m_stopOnError,      m_header,
                     m_fieldList,    m_preview,        m_ok,               m_cancel};

    m_checkTimer = new QTimer(this);
    m_checkTimer->setSingleShot(true);
    m_checkTimer->setInterval(kTableCheckRestMs);
    m_counts = new RecordCountFeed(this);

    connect(fileBrowse, &QPushButton::clicked, this, &CCsvImportDlg::browseFile);
    connect(m_header, &QCheckBox::clicked, this, [this] {
        settleTableCheck();
        const QString f = m_fileName->text();
        detectFormat(f);
        fillPreview(f);
        fillFieldSettings();
    });
    connect(m_tableName, &QLineEdit::textChanged, this, &CCsvImportDlg::tableNameChanged);
    connect(m_tableName, &QLineEdit::editingFinished, this, &CCsvImportDlg::settleTableCheck);
    connect(m_checkTimer, &QTimer::timeout, this, &CCsvImportDlg::checkTable);
    connect(m_counts, &RecordCountFeed::textChanged, m_recordCount, &QLineEdit::setText);
    connect(m_create, &QCheckBox::clicked, this, [this] {
        settleTableCheck();
        fillFieldSettings();
    });
    connect(tableBrowse, &QPushButton::clicked, this, &CCsvImportDlg::browseTable);
    connect(m_ok, &QPushButton::clicked, this, &CCsvImportDlg::startRun);
    connect(m_cancel, &QPushButton::clicked, this, &CCsvImportDlg::reject);
    connect(m_stop, &QPushButton::clicked, this, [this] { m_job.requestStop(); });
    resize(900, 640);
}

CCsvImportDlg::~CCsvImportDlg()
{
    // A worker still running is stopped and waited for, and its transaction rolled back: left
    // open, the next COMMIT of the session would commit the half-run import.
    m_job.requestStop();
    m_job.join();
    if (m_inRun) RollBackTransaction(m_conn);
}

void CCsvImportDlg::setTableChooser(std::function<std::optional<QString>()> chooser)
{
    m_chooser = std::move(chooser);
}

void CCsvImportDlg::setTableObjectChooser(std::function<std::optional<ObjectName>()> chooser)
{
    m_objectChooser = std::move(chooser);
}

QString CCsvImportDlg::delimiter() const
{
    if (m_delimiterDefault->isChecked())
        return m_delimiterList->currentIndex() == 1 ? QStringLiteral("\t") : QStringLiteral(",");
    return m_delimiterBox->text();
}

QString CCsvImportDlg::quote() const
{
    if (m_quoteDefault->isChecked())
        return m_quoteList->currentIndex() == 1 ? QStringLiteral("'") : QStringLiteral("\"");
    return ImportQuote(m_quoteUser->isChecked() ? m_quoteBox->text() : QString());
}

ObjectName CCsvImportDlg::targetTable() const
{
    const QString text = m_tableName->text();
    if (m_chosenTable && m_chosenTable->caption() == text) return *m_chosenTable;
    return {QString(), FoldTypedName(text), true};
}

void CCsvImportDlg::reject()
{
    if (runActive()) return;  // the run ends through "中断"
    QDialog::reject();
}

void CCsvImportDlg::browseFile()
{
    QFileDialog chooser(this, QString(), QString(), QStringLiteral("CSV FILE (*.csv)"));
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
    chooseFile(chooser.selectedFiles().first());
}

void CCsvImportDlg::chooseFile(const QString& path)
{
    settleTableCheck();
    m_fileName->setText(path);
    detectFormat(path);
    fillPreview(path);
    fillFieldSettings();
}

void CCsvImportDlg::browseTable()
{
    if (m_objectChooser) {
        if (std::optional<ObjectName> t = m_objectChooser()) {
            m_chosenTable = *t;
            m_tableName->setText(t->caption());
        }
        return;
    }
    if (m_chooser) {
        if (std::optional<QString> name = m_chooser()) {
            m_chosenTable.reset();
            m_tableName->setText(*name);
        }
    }
}

void CCsvImportDlg::detectFormat(const QString& fileName)
{
    QByteArray line;
    if (!ReadFirstCsvLine(fileName, &line)) return;
    if (line.contains(',')) {
        m_delimiterDefault->setChecked(true);
        m_delimiterList->setCurrentIndex(0);
    } else if (line.contains('\t')) {
        m_delimiterDefault->setChecked(true);
        m_delimiterList->setCurrentIndex(1);
    }
    if (line.contains('"')) {
        m_quoteDefault->setChecked(true);
        m_quoteList->setCurrentIndex(0);
    } else if (line.contains('\'')) {
        m_quoteDefault->setChecked(true);
        m_quoteList->setCurrentIndex(1);
    }
}

void CCsvImportDlg::fillPreview(const QString& fileName)
{
    QFile f(fileName);
    if (fileName.isEmpty() || !f.open(QIODevice::ReadOnly)) return;
    m_preview->setRowCount(0);
    CsvRecordReader reader(f, CsvFormat::from(delimiter(), quote()));
    CsvRecord rec;
    // A record the run would refuse shows as the file holds it, marked with the reason.
    auto addRow = [this](const CsvRecord& r) {
        const int row = m_preview->rowCount();
        m_preview->insertRow(row);
        const int n = std::min(CountCsvFields(r), m_preview->columnCount());
        for (int i = 0; i < n; ++i) setCell(m_preview, row, i, r.text(i));
        if (r.valid) return;
        for (int i = 0; i < m_preview->columnCount(); ++i) {
            if (!m_preview->item(row, i)) setCell(m_preview, row, i, QString());
            m_preview->item(row, i)->setToolTip(r.problem);
            m_preview->item(row, i)->setForeground(Qt::red);
        }
    };
    for (int line = 0; line < kPreviewLines && reader.next(rec); ++line) {
        if (line == 0) {
            m_preview->setColumnCount(0);
            const int n = std::max(CountCsvFields(rec), 0);
            m_preview->setColumnCount(n);
            for (int i = 0; i < n; ++i) {
                const QString title =
                    m_header->isChecked() ? rec.text(i) : QStringLiteral("Col%1").arg(i + 1, 2, 10, QLatin1Char('0'));
                m_preview->setHorizontalHeaderItem(i, new QTableWidgetItem(title));
                m_preview->setColumnWidth(i, 100);
            }
            if (m_header->isChecked()) continue;
        }
        addRow(rec);
    }
}

void CCsvImportDlg::setFieldRows(const std::vector<QStringList>& rows, bool exact)
{
    m_fieldList->setRowCount(0);
    m_fieldNamesExact = exact;
    for (const QStringList& cells : rows) {
        const int row = m_fieldList->rowCount();
        m_fieldList->insertRow(row);
        for (int i = 0; i < 10; ++i) setCell(m_fieldList, row, i, cells.value(i), kFieldColumns[i].right);
    }
}

void CCsvImportDlg::loadColumns()
{
    setFieldRows(LoadColumnList(m_conn, targetTable()).rows, true);
}

void CCsvImportDlg::fillFieldSettings()
{
    if (!m_create->isChecked()) {
        loadColumns();
        return;
    }
    if (m_fileName->text().isEmpty()) return;
    if (auto rows = FieldRowsFromFile(m_fileName->text(), delimiter(), quote(), m_header->isChecked()))
        setFieldRows(*rows, false);
}

bool CCsvImportDlg::tableCheckPending() const { return m_checkTimer->isActive(); }

TableRowCounter* CCsvImportDlg::rowCounter() const { return m_counts->counter(); }

// A name being typed is checked once the typing rests; a name set whole (the table "参照")
// is checked at once. Either way the count still running for the name before is dropped.
void CCsvImportDlg::tableNameChanged()
{
    m_counts->cancel();
    if (m_tableName->isModified())
        m_checkTimer->start();
    else
        checkTable();
}

// Whatever reads or rebuilds the field settings settles a pending check first, so it acts on
// the name as it stands and in the order the edits came.
void CCsvImportDlg::settleTableCheck()
{
    if (m_checkTimer->isActive()) checkTable();
}

void CCsvImportDlg::checkTable()
{
    m_checkTimer->stop();
    const ObjectName table = targetTable();
    if (!ImportTableExists(m_conn, table)) {
        m_fieldList->setRowCount(0);
        fillFieldSettings();
        return;
    }
    followCount(table);
    loadColumns();
}

void CCsvImportDlg::followCount(const ObjectName& table)
{
    const std::optional<QString> estimate = ReadRowEstimate(m_conn, table);
    m_counts->start(m_conn, estimate.value_or(QString()), Catalogue::ImportCountStatement(table));
}

void CCsvImportDlg::setRunning(bool running)
{
    for (QWidget* w : m_runDisabled) w->setEnabled(!running);
    m_stop->setEnabled(running);
}

void CCsvImportDlg::showCounters()
{
    ImportRunState& st = m_job.state();
    if (!st.countersWritten) return;
    m_executed->setText(QString::number(st.executed.load()));
    m_errors->setText(QString::number(st.errors.load()));
}

void CCsvImportDlg::startRun()
{
    if (runActive()) return;
    settleTableCheck();
    ImportSettings s;
    s.fileName = m_fileName->text();
    s.table = targetTable();
    s.delimiter = delimiter();
    s.quote = quote();
    s.header = m_header->isChecked();
    s.createTable = m_create->isChecked();
    s.deleteRows = m_delete->isChecked();
    s.stopOnError = m_stopOnError->isChecked();
    s.fieldNamesExact = m_fieldNamesExact;
    for (int r = 0; r < m_fieldList->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < 3; ++c) cells << (m_fieldList->item(r, c) ? m_fieldList->item(r, c)->text() : QString());
        s.fields.push_back(cells);
    }
    m_inRun = true;
    setRunning(true);
    if (!BeginImport(m_conn, s)) {
        m_inRun = false;
        setRunning(false);
        emit runFinished(false);
        return;
    }
    // The worker's calls come back to this thread as queued calls; they are dropped if the
    // dialog is gone (its destructor waits for the worker).
    m_job.start(
        m_conn, std::move(s),
        [this] { QMetaObject::invokeMethod(this, [this] { showCounters(); }, Qt::QueuedConnection); },
        [this](ImportOutcome o) {
            QMetaObject::invokeMethod(this, [this, o] { finishRun(o); }, Qt::QueuedConnection);
        });
}

void CCsvImportDlg::finishRun(const ImportOutcome& outcome)
{
    m_job.join();
    showCounters();
    if (m_job.state().stopRequest) {
        // A stopped run keeps nothing: no count of it stays as if it had been stored.
        m_executed->clear();
        m_errors->clear();
    }
    const bool committed = FinishImport(m_conn, m_job.state(), outcome);
    m_inRun = false;
    setRunning(false);
    if (committed) {
        // The count the operator sees follows what the run stored (a rolled-back run changed
        // nothing).
        const ObjectName table = targetTable();
        if (ImportTableExists(m_conn, table)) followCount(table);
    }
    emit runFinished(committed);
}
