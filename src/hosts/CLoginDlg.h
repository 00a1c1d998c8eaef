#pragma once

#include <QDialog>
#include <QHash>
#include <functional>
#include <optional>

#include "hosts/ConnectionEdits.h"
#include "hosts/HostDirectory.h"
#include "workspace/Connection.h"

class QTreeWidget;
class QTreeWidgetItem;

// The login screen: the seven connection parameters, typed by hand or taken from a saved host,
// and the host directory, maintained in place. It never connects by itself.
//
// The tree control mirrors m_directory: every change goes to the directory, which tells this
// dialog to insert, remove or rename the matching item. Each insertion selects its item, and
// selecting a host fills the form from its Host.DAT record.
class CLoginDlg : public QDialog, private HostDirectory::Observer {
    Q_OBJECT
public:
    // With `inUse` (the login of the connection in use) the dialog opens on the first saved
    // host, in the tree's order, that reaches what it reaches, the form filled from it; when no
    // saved host does, on the root folder with the form showing `inUse`. Without it the dialog
    // opens as the directory's loading leaves it: on its last host.
    explicit CLoginDlg(QWidget* parent = nullptr,
                       const std::optional<LoginParameters>& inUse = std::nullopt);
    ~CLoginDlg() override;

    LoginParameters parameters() const { return m_fields.parameters(); }

    // Shows the dialog modally; the seven texts when it was accepted.
    static std::optional<LoginParameters> run(QWidget* parent,
                                              const std::optional<LoginParameters>& inUse = std::nullopt);
    // The workspace's login: the dialog for every login, each after the first opened on the
    // login the previous one accepted (the connection in use, after "新規接続").
    static std::function<std::optional<LoginParameters>()> runner(QWidget* parent);

private:
    void nodeInserted(HostDirectory::Node& node) override;
    void nodeRemoving(HostDirectory::Node& node) override;
    void nodeRenamed(HostDirectory::Node& node) override;
    void forget(const HostDirectory::Node& node);

    HostDirectory::Node* selectedNode() const;
    HostDirectory::Node* selectedFolder() const;
    HostDirectory::Node* selectedHost() const;
    void selectInUse(const LoginParameters& inUse);
    void showHost(const HostDirectory::Node* node);
    void saveTree();

    void onCurrentItemChanged(QTreeWidgetItem* current);
    void onItemDoubleClicked(QTreeWidgetItem* item);
    void onCreateFolder();
    void onDeleteFolder();
    void onEditFolder();
    void onNewHost();
    void onDeleteHost();
    void onEditHost();
    void onOk();

    ConnectionEdits m_fields;
    QTreeWidget* m_tree;
    HostDirectory m_directory;
    QHash<const HostDirectory::Node*, QTreeWidgetItem*> m_items;
    QHash<const QTreeWidgetItem*, HostDirectory::Node*> m_nodes;
};
