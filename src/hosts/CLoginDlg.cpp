#include "hosts/CLoginDlg.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

#include "hosts/CFolderDlg.h"
#include "hosts/CHostDlg.h"
#include "hosts/FolderFile.h"
#include "hosts/HostFile.h"
#include "hosts/HostTreePictures.h"
#include "workspace/Prompter.h"

namespace {

const QString kReallyDelete = QStringLiteral("本当に削除してもよろしいですか？");

}  // namespace

CLoginDlg::CLoginDlg(QWidget* parent, const std::optional<LoginParameters>& inUse) : QDialog(parent)
{
    setObjectName(QStringLiteral("loginDlg"));
    setWindowTitle(QStringLiteral("ログイン画面"));

    auto* form = new QFormLayout;
    m_fields = ConnectionEdits::addTo(*form, this);
    auto* upper = new QHBoxLayout;
    upper->addLayout(form, 1);
    connect(AddOkCancelColumn(*this, *upper), &QPushButton::clicked, this, &CLoginDlg::onOk);

    auto* frame = new QGroupBox(this);
    m_tree = new QTreeWidget(frame);
    m_tree->setObjectName(QStringLiteral("hostTree"));
    m_tree->setHeaderHidden(true);
    // Plain items: no lines, no expand buttons; a folder opens and closes on double click.
    m_tree->setRootIsDecorated(false);
    m_tree->setStyleSheet(QStringLiteral("QTreeView::branch { image: none; border-image: none; }"));
    m_tree->setIconSize(QSize(16, 16));
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* actions = new QVBoxLayout;
    const struct {
        QString text;
        const char* name;
        void (CLoginDlg::*run)();
    } buttons[] = {
        {QStringLiteral("フォルダ作成"), "createFolderButton", &CLoginDlg::onCreateFolder},
        {QStringLiteral("フォルダ削除"), "deleteFolderButton", &CLoginDlg::onDeleteFolder},
        {QStringLiteral("フォルダ編集"), "editFolderButton", &CLoginDlg::onEditFolder},
        {QStringLiteral("新規ホスト"), "newHostButton", &CLoginDlg::onNewHost},
        {QStringLiteral("ホスト削除"), "deleteHostButton", &CLoginDlg::onDeleteHost},
        {QStringLiteral("ホスト編集"), "editHostButton", &CLoginDlg::onEditHost},
    };
    for (const auto& b : buttons) {
        if (b.run == &CLoginDlg::onNewHost) actions->addSpacing(12);
        auto* button = new QPushButton(b.text, frame);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, b.run);
        actions->addWidget(button);
    }
    actions->addStretch();
    auto* lower = new QHBoxLayout(frame);
    lower->addWidget(m_tree, 1);
    lower->addLayout(actions);

    auto* top = new QVBoxLayout(this);
    top->addLayout(upper);
    top->addWidget(frame, 1);

    connect(m_tree, &QTreeWidget::currentItemChanged, this, &CLoginDlg::onCurrentItemChanged);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, &CLoginDlg::onItemDoubleClicked);

    m_directory.setObserver(this);
    FolderFile::load(m_directory, m_directory.createRoot());
    if (inUse) selectInUse(*inUse);
}

CLoginDlg::~CLoginDlg()
{
    m_directory.setObserver(nullptr);
}

std::optional<LoginParameters> CLoginDlg::run(QWidget* parent,
                                              const std::optional<LoginParameters>& inUse)
{
    CLoginDlg dlg(parent, inUse);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return dlg.parameters();
}

std::function<std::optional<LoginParameters>()> CLoginDlg::runner(QWidget* parent)
{
    auto last = std::make_shared<std::optional<LoginParameters>>();
    return [parent, last] {
        std::optional<LoginParameters> accepted = run(parent, *last);
        if (accepted) *last = accepted;
        return accepted;
    };
}

void CLoginDlg::selectInUse(const LoginParameters& inUse)
{
    HostDirectory::Node* found = nullptr;
    // In the tree's order, folders before what follows them.
    std::function<void(HostDirectory::Node&)> visit = [&](HostDirectory::Node& node) {
        if (found) return;
        if (node.isHost()) {
            const std::optional<HostEntry> stored = HostFile::find(node.name());
            if (stored && stored->reaches(inUse)) found = &node;
            return;
        }
        for (const auto& child : node.children()) visit(*child);
    };
    if (HostDirectory::Node* root = m_directory.root()) visit(*root);
    if (found) {
        m_tree->setCurrentItem(m_items.value(found));
        m_tree->scrollToItem(m_items.value(found));
        return;
    }
    if (HostDirectory::Node* root = m_directory.root()) m_tree->setCurrentItem(m_items.value(root));
    m_fields.show(HostEntry::fromLogin(inUse));
}

void CLoginDlg::nodeInserted(HostDirectory::Node& node)
{
    auto* item = new QTreeWidgetItem(QStringList{node.name()});
    item->setIcon(0, HostTreeIcon(node.image()));
    if (node.parent())
        m_items.value(node.parent())->insertChild(node.row(), item);
    else
        m_tree->addTopLevelItem(item);
    m_items.insert(&node, item);
    m_nodes.insert(item, &node);
    m_tree->setCurrentItem(item);
    m_tree->scrollToItem(item);
}

void CLoginDlg::nodeRemoving(HostDirectory::Node& node)
{
    QTreeWidgetItem* item = m_items.value(&node);
    // Unmapped first: deleting the item moves the selection, and the handler must not find
    // the nodes that are going away.
    forget(node);
    delete item;
}

void CLoginDlg::forget(const HostDirectory::Node& node)
{
    m_nodes.remove(m_items.take(&node));
    for (const auto& child : node.children()) forget(*child);
}

void CLoginDlg::nodeRenamed(HostDirectory::Node& node)
{
    m_items.value(&node)->setText(0, node.name());
}

HostDirectory::Node* CLoginDlg::selectedNode() const
{
    return m_nodes.value(m_tree->currentItem());
}

HostDirectory::Node* CLoginDlg::selectedFolder() const
{
    HostDirectory::Node* node = selectedNode();
    return node && node->isFolder() ? node : nullptr;
}

HostDirectory::Node* CLoginDlg::selectedHost() const
{
    HostDirectory::Node* node = selectedNode();
    return node && node->isHost() ? node : nullptr;
}

void CLoginDlg::showHost(const HostDirectory::Node* node)
{
    if (!node || !node->isHost()) return;
    // Read afresh on every selection: the dialogs of this login may have changed the file.
    if (const std::optional<HostEntry> stored = HostFile::find(node->name()))
        m_fields.show(*stored);
}

void CLoginDlg::saveTree()
{
    if (!FolderFile::save(m_directory)) {
        prompter().tell(BoxKind::Window, CannotWriteMessage(FolderFile::kFileName));
    }
}

void CLoginDlg::onCurrentItemChanged(QTreeWidgetItem* current)
{
    if (!current) return;
    current->setSelected(true);
    showHost(m_nodes.value(current));
}

void CLoginDlg::onItemDoubleClicked(QTreeWidgetItem* item)
{
    const HostDirectory::Node* node = m_nodes.value(item);
    // A folder opens or closes by the tree's own double-click handling.
    if (!node || !node->isHost()) return;
    showHost(node);
    accept();
}

void CLoginDlg::onCreateFolder()
{
    HostDirectory::Node* folder = selectedFolder();
    if (!folder) return;
    const std::optional<QString> name = CFolderDlg::ask(this, QString());
    if (!name) return;
    // Kept until the next save of the tree.
    m_directory.insert(*folder, *name, HostDirectory::kFolderImage);
}

void CLoginDlg::onDeleteFolder()
{
    if (!prompter().ask(BoxKind::Application, kReallyDelete)) return;
    // The hosts below keep their records in Host.DAT; the tree is saved by the next save.
    if (HostDirectory::Node* folder = selectedFolder()) m_directory.remove(*folder);
}

void CLoginDlg::onEditFolder()
{
    HostDirectory::Node* folder = selectedFolder();
    if (!folder) return;
    if (const std::optional<QString> name = CFolderDlg::ask(this, folder->name()))
        m_directory.rename(*folder, *name);
    saveTree();
}

void CLoginDlg::onNewHost()
{
    HostDirectory::Node* folder = selectedFolder();
    if (!folder) return;
    CHostDlg dlg(QString(), this);
    if (dlg.exec() != QDialog::Accepted) return;
    const HostEntry entry = dlg.entry();
    m_directory.insert(*folder, entry.displayName, HostDirectory::kHostImage);
    m_fields.show(entry);
    saveTree();
}

void CLoginDlg::onDeleteHost()
{
    HostDirectory::Node* host = selectedHost();
    if (!host) return;
    if (!prompter().ask(BoxKind::Application, kReallyDelete)) return;
    if (HostFile::erase(host->name()) == HostFile::Outcome::Failed) {
        prompter().tell(BoxKind::Window, CannotWriteMessage(HostFile::kFileName));
        return;
    }
    m_directory.remove(*host);
    saveTree();
}

void CLoginDlg::onEditHost()
{
    HostDirectory::Node* host = selectedHost();
    if (!host) return;
    CHostDlg dlg(host->name(), this);
    if (dlg.exec() != QDialog::Accepted) return;
    const HostEntry entry = dlg.entry();
    m_fields.show(entry);
    m_directory.rename(*host, entry.displayName);
    saveTree();
}

void CLoginDlg::onOk()
{
    saveTree();
    accept();
}
