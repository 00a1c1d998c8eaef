#include "hosts/CHostDlg.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "hosts/HostFile.h"
#include "workspace/Prompter.h"

CHostDlg::CHostDlg(const QString& displayName, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("hostDlg"));
    setWindowTitle(QStringLiteral("接続情報入力"));

    auto* nameForm = new QFormLayout;
    m_displayName =
        AddFormField(*nameForm, this, QStringLiteral("表示名"), QStringLiteral("displayNameEdit"));
    auto* frame = new QGroupBox(QStringLiteral("接続情報"), this);
    auto* form = new QFormLayout(frame);
    m_fields = ConnectionEdits::addTo(*form, frame);

    auto* left = new QVBoxLayout;
    left->addLayout(nameForm);
    left->addWidget(frame);
    auto* top = new QHBoxLayout(this);
    top->addLayout(left, 1);
    connect(AddOkCancelColumn(*this, *top), &QPushButton::clicked, this, &CHostDlg::onOk);

    if (displayName.isEmpty()) return;
    setWindowTitle(QStringLiteral("ホスト編集"));
    m_displayName->setText(displayName);
    m_previousName = displayName;
    m_edit = true;
    if (const std::optional<HostEntry> stored = HostFile::find(displayName)) m_fields.show(*stored);
}

HostEntry CHostDlg::entry() const
{
    HostEntry e;
    e.displayName = m_displayName->text();
    m_fields.readInto(e);
    return e;
}

void CHostDlg::onOk()
{
    const HostEntry e = entry();
    if (auto problem = HostFile::entryProblem(e)) {
        prompter().tell(BoxKind::Window, *problem);
        return;
    }
    if (!prompter().ask(BoxKind::Application, QStringLiteral("本当によろしいですか？"))) return;
    if (HostFile::store(m_edit ? m_previousName : QString(), e) != HostFile::Outcome::Written) {
        prompter().tell(BoxKind::Window, CannotWriteMessage(HostFile::kFileName));
        return;
    }
    accept();
}
