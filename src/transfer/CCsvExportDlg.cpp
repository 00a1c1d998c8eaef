#include "transfer/CCsvExportDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

#include "transfer/ExportChecks.h"
#include "workspace/Prompter.h"

namespace {

const QString kWriting = QStringLiteral("出力中・・・");

CCsvExportDlg::DocumentOpener& documentOpener()
{
    static CCsvExportDlg::DocumentOpener opener;
    return opener;
}

bool openWithDesktop(const QString& fileName)
{
    if (const CCsvExportDlg::DocumentOpener& opener = documentOpener()) return opener(fileName);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(fileName).absoluteFilePath()));
}

// One group of the dialog: "デフォルト" with a fixed list, or "ユーザ指定" with a box.
QGroupBox* choiceGroup(QWidget* parent, const QString& title, const char* name,
                       const QStringList& choices, QRadioButton*& byDefault, QComboBox*& list,
                       QRadioButton*& byUser, QLineEdit*& text)
{
    auto* group = new QGroupBox(title, parent);
    const QString base = QString::fromLatin1(name);
    byDefault = new QRadioButton(QStringLiteral("デフォルト"), group);
    byDefault->setObjectName(base + QStringLiteral("DefaultRadio"));
    byDefault->setChecked(true);
    list = new QComboBox(group);
    list->setObjectName(base + QStringLiteral("List"));
    list->addItems(choices);
    list->setCurrentIndex(0);
    byUser = new QRadioButton(QStringLiteral("ユーザ指定"), group);
    byUser->setObjectName(base + QStringLiteral("UserRadio"));
    text = new QLineEdit(group);
    text->setObjectName(base + QStringLiteral("UserEdit"));
    auto* exclusive = new QButtonGroup(group);
    exclusive->addButton(byDefault);
    exclusive->addButton(byUser);
    auto* grid = new QGridLayout(group);
    grid->addWidget(byDefault, 0, 0);
    grid->addWidget(list, 0, 1);
    grid->addWidget(byUser, 1, 0);
    grid->addWidget(text, 1, 1);
    return group;
}

}  // namespace

CCsvExportDlg::CCsvExportDlg(Connection& conn, const ObjectName& table, QWidget* parent)
    : CCsvExportDlg(conn, ExportSource{table, QString()}, parent)
{
}

CCsvExportDlg::CCsvExportDlg(Connection& conn, const QString& sqlText, QWidget* parent)
    : CCsvExportDlg(conn, ExportSource{ObjectName{}, sqlText}, parent)
{
}

CCsvExportDlg::CCsvExportDlg(Connection& conn, ExportSource source, QWidget* parent)
    : QDialog(parent), m_conn(conn), m_source(std::move(source)), m_job(conn)
{
    setObjectName(QStringLiteral("csvExportDlg"));
    setWindowTitle(QStringLiteral("CSV形式ファイルの出力"));

    m_tableName = new QLineEdit(this);
    m_tableName->setObjectName(QStringLiteral("tableNameEdit"));
    m_tableName->setReadOnly(true);
    m_tableName->setText(m_source.sqlMode() ? QStringLiteral("SQL文モード")
                                            : m_source.table.caption());
    m_fileName = new QLineEdit(this);
    m_fileName->setObjectName(QStringLiteral("fileNameEdit"));
    m_browse = new QPushButton(QStringLiteral("参照"), this);
    m_browse->setObjectName(QStringLiteral("browseButton"));
    m_browse->setAutoDefault(false);

    QGroupBox* delimiters =
        choiceGroup(this, QStringLiteral("フィールド区切り記号"), "delimiter",
                    {QStringLiteral("カンマ"), QStringLiteral("タブ")}, m_delimiterDefault,
                    m_delimiterList, m_delimiterUser, m_delimiterText);
    QGroupBox* quotes =
        choiceGroup(this, QStringLiteral("クォート記号"), "quote",
                    {QStringLiteral("ダブル"), QStringLiteral("シングル")}, m_quoteDefault,
                    m_quoteList, m_quoteUser, m_quoteText);
    m_header = new QCheckBox(QStringLiteral("先頭行をフィールド名にする"), this);
    m_header->setObjectName(QStringLiteral("headerCheck"));
    m_sample = new QPlainTextEdit(this);
    m_sample->setObjectName(QStringLiteral("sampleEdit"));
    m_sample->setReadOnly(true);
    m_sample->setLineWrapMode(QPlainTextEdit::NoWrap);

    m_output = new QPushButton(QStringLiteral("出力"), this);
    m_output->setObjectName(QStringLiteral("outputButton"));
    m_output->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_cancel->setAutoDefault(false);
    m_launch = new QPushButton(QStringLiteral("アプリケーションを起動"), this);
    m_launch->setObjectName(QStringLiteral("launchButton"));
    m_launch->setAutoDefault(false);
    m_launch->setEnabled(false);

    auto* names = new QGridLayout;
    names->addWidget(new QLabel(QStringLiteral("テーブル名"), this), 0, 0);
    names->addWidget(m_tableName, 0, 1, 1, 2);
    names->addWidget(new QLabel(QStringLiteral("ファイル名"), this), 1, 0);
    names->addWidget(m_fileName, 1, 1);
    names->addWidget(m_browse, 1, 2);
    auto* groups = new QHBoxLayout;
    groups->addWidget(delimiters);
    groups->addWidget(quotes);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_launch);
    buttons->addStretch(1);
    buttons->addWidget(m_output);
    buttons->addWidget(m_cancel);
    auto* top = new QVBoxLayout(this);
    top->addLayout(names);
    top->addLayout(groups);
    top->addWidget(m_header);
    top->addWidget(new QLabel(QStringLiteral("見本"), this));
    top->addWidget(m_sample, 1);
    top->addLayout(buttons);
    resize(640, 480);

    for (QRadioButton* radio : {m_delimiterDefault, m_delimiterUser, m_quoteDefault, m_quoteUser})
        connect(radio, &QRadioButton::clicked, this, &CCsvExportDlg::refreshSample);
    for (QComboBox* list : {m_delimiterList, m_quoteList})
        connect(list, &QComboBox::currentIndexChanged, this, &CCsvExportDlg::refreshSample);
    for (QLineEdit* box : {m_delimiterText, m_quoteText})
        connect(box, &QLineEdit::textChanged, this, &CCsvExportDlg::refreshSample);
    connect(m_header, &QCheckBox::clicked, this, &CCsvExportDlg::refreshSample);
    connect(m_browse, &QPushButton::clicked, this, &CCsvExportDlg::browse);
    connect(m_output, &QPushButton::clicked, this, &CCsvExportDlg::startExport);
    connect(m_cancel, &QPushButton::clicked, this, &CCsvExportDlg::reject);
    connect(m_launch, &QPushButton::clicked, this, &CCsvExportDlg::launch);
    connect(&m_job, &CsvExportJob::progress, this, [this](qint64 rows) {
        if (m_job.running()) m_sample->setPlainText(kWriting + QStringLiteral(" %1行").arg(rows));
    });
    connect(&m_job, &CsvExportJob::finished, this, &CCsvExportDlg::exportEnded);
}

CCsvExportDlg::~CCsvExportDlg() = default;

void CCsvExportDlg::setDocumentOpener(DocumentOpener opener) { documentOpener() = std::move(opener); }

bool CCsvExportDlg::exporting() const { return m_job.running(); }

void CCsvExportDlg::reject()
{
    // "ｷｬﾝｾﾙ" or closing during an export stops it; the dialog stays to say so.
    if (m_job.running()) {
        m_job.cancel();
        return;
    }
    QDialog::reject();
}

CsvSettings CCsvExportDlg::settings() const
{
    CsvSettings s;
    s.delimiter = m_delimiterUser->isChecked() ? m_delimiterText->text()
                                               : DefaultDelimiter(m_delimiterList->currentIndex());
    s.quote = m_quoteUser->isChecked() ? m_quoteText->text()
                                       : DefaultQuote(m_quoteList->currentIndex());
    s.header = m_header->isChecked();
    return s;
}

void CCsvExportDlg::refreshSample()
{
    if (m_job.running()) return;
    const CsvSettings s = settings();
    if (std::optional<QString> bad = UnencodableSetting(s)) {
        m_sample->setPlainText(*bad);
        return;
    }
    if (!m_sampleRows) m_sampleRows = ReadCsvSample(m_conn, m_source);
    m_sample->setPlainText(RenderCsvSample(*m_sampleRows, s));
}

void CCsvExportDlg::browse()
{
    QFileDialog chooser(this);
    chooser.setObjectName(QStringLiteral("saveFileChooser"));
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setDefaultSuffix(QStringLiteral("csv"));
    chooser.setNameFilter(QStringLiteral("CSV FILE (*.csv)"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
    m_fileName->setText(QDir::toNativeSeparators(chooser.selectedFiles().first()));
}

void CCsvExportDlg::startExport()
{
    if (m_job.running()) return;
    const QString fileName = m_fileName->text();
    const CsvSettings s = settings();
    if (std::optional<QString> refusal = CsvExportRefusal(fileName, s)) {
        prompter().tell(BoxKind::Window, *refusal);
        return;
    }
    // Shown before the statement is sent: a query's first answer may keep it waiting.
    const QString sample = m_sample->toPlainText();
    m_sample->setPlainText(kWriting);
    if (!m_job.start(m_source, fileName, s)) {
        m_sample->setPlainText(sample);
        prompter().tell(BoxKind::Window, m_job.failure());
        return;
    }
    setControlsEnabled(false);
}

void CCsvExportDlg::exportEnded(bool ok)
{
    setControlsEnabled(true);
    if (ok) {
        m_sample->setPlainText(QStringLiteral("出力完了"));
        m_launchable = true;
        m_launch->setEnabled(true);
        prompter().tell(BoxKind::Window, QStringLiteral("出力が完了しました"));
    } else {
        m_sample->setPlainText(m_job.failure());
        prompter().tell(BoxKind::Window, m_job.failure());
    }
    emit exportFinished(ok);
}

void CCsvExportDlg::launch()
{
    const QString fileName = m_fileName->text();
    if (!openWithDesktop(fileName))
        prompter().tell(BoxKind::Window,
                        QStringLiteral("プログラムの実行に失敗しました。\n\nFile = ") + fileName);
}

void CCsvExportDlg::setControlsEnabled(bool enabled)
{
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w != m_sample && !qobject_cast<QLabel*>(w)) w->setEnabled(enabled);
    }
    // Disabled at opening, enabled by the first completed export and never disabled again.
    m_launch->setEnabled(enabled && m_launchable);
    // A running export can always be stopped.
    m_cancel->setEnabled(true);
}
