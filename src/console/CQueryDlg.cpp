#include "console/CQueryDlg.h"

#include <QApplication>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/LargeResultList.h"

CQueryDlg::CQueryDlg(CKestrelDoc& doc, QWidget* parent) : QDialog(parent), m_console(doc)
{
    setObjectName(QStringLiteral("queryDlg"));
    setWindowTitle(QStringLiteral("クエリー発行（簡易版）"));

    m_query = new QLineEdit(this);
    m_query->setObjectName(QStringLiteral("queryEdit"));
    m_response = new QLineEdit(this);
    m_response->setObjectName(QStringLiteral("responseEdit"));
    m_response->setReadOnly(true);

    auto* run = new QPushButton(QStringLiteral("実行"), this);
    run->setObjectName(QStringLiteral("executeButton"));
    run->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    auto* csv = new QPushButton(QStringLiteral("CSV出力"), this);
    csv->setObjectName(QStringLiteral("csvButton"));
    csv->setAutoDefault(false);

    m_list = new LargeResultList(this);
    m_list->setObjectName(QStringLiteral("resultList"));
    m_list->setModel(&m_console.rows());

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("クエリー"), this), 0, 0);
    fields->addWidget(m_query, 0, 1);
    fields->addWidget(run, 0, 2);
    fields->addWidget(new QLabel(QStringLiteral("応答"), this), 1, 0);
    fields->addWidget(m_response, 1, 1);
    fields->addWidget(cancel, 1, 2);
    fields->addWidget(csv, 2, 2);
    auto* top = new QVBoxLayout(this);
    top->addLayout(fields);
    top->addWidget(m_list, 1);
    resize(720, 480);

    connect(run, &QPushButton::clicked, this, &CQueryDlg::execute);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(csv, &QPushButton::clicked, this, &CQueryDlg::requestCsvExport);

    // Up and Down recall history whichever control has the focus, the list included, so the
    // keys are taken before any control of this dialog sees them. The filter goes with the
    // dialog.
    qApp->installEventFilter(this);
}

CQueryDlg::~CQueryDlg()
{
    if (!m_saved) m_console.save();
    // The console, and the rows with it, go before the list does.
    m_list->setModel(nullptr);
}

void CQueryDlg::done(int result)
{
    saveHistory();
    QDialog::done(result);
}

void CQueryDlg::saveHistory()
{
    m_console.save();
    m_saved = true;
}

void CQueryDlg::execute()
{
    m_saved = false;
    m_response->clear();
    showAnswer(m_console.execute(m_query->text()));
}

void CQueryDlg::showAnswer(const ConsoleAnswer& answer)
{
    m_response->setText(answer.response);
    m_response->setCursorPosition(0);
}

void CQueryDlg::requestCsvExport()
{
    const QString sql = m_query->text();
    if (const std::optional<QString> refusal = QueryConsole::csvRefusal(sql)) {
        m_response->setText(*refusal);
        return;
    }
    emit csvExportRequested(sql);
}

bool CQueryDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            m_query->setText(key == Qt::Key_Up ? m_console.recallUp() : m_console.recallDown());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
