#include "hosts/CFolderDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "hosts/ConnectionEdits.h"
#include "hosts/FolderFile.h"
#include "workspace/Prompter.h"

namespace {
const QString kNameLabel = QStringLiteral("フォルダ名");
}

CFolderDlg::CFolderDlg(const QString& name, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("folderDlg"));
    setWindowTitle(QStringLiteral("フォルダ作成"));
    auto* form = new QFormLayout;
    m_name = AddFormField(*form, this, kNameLabel, QStringLiteral("folderNameEdit"));
    m_name->setText(name);

    auto* top = new QHBoxLayout(this);
    top->addLayout(form, 1);
    connect(AddOkCancelColumn(*this, *top), &QPushButton::clicked, this, &CFolderDlg::onOk);
}

QString CFolderDlg::folderName() const
{
    return m_name->text();
}

void CFolderDlg::onOk()
{
    // The folder file keeps names as single short words; refuse here, while the text can
    // still be corrected, rather than lose the folder's place in the tree on the next load.
    if (auto problem = FolderFile::nameProblem(kNameLabel, folderName())) {
        prompter().tell(BoxKind::Window, *problem);
        return;
    }
    accept();
}

std::optional<QString> CFolderDlg::ask(QWidget* parent, const QString& name)
{
    CFolderDlg dlg(name, parent);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return dlg.folderName();
}
