#pragma once

#include <QString>
#include <memory>
#include <vector>

// The directory of saved hosts as the login dialog shows it: folders and hosts below one root
// folder. Children are kept in order of their names; every insertion finds its place. The
// login dialog mirrors this tree in its tree control through the Observer.
class HostDirectory {
public:
    // Picture indices: a node shows its image while unselected and image + 1 while selected.
    static constexpr int kFolderImage = 0;
    static constexpr int kHostImage = 2;
    static inline const QString kRootName = QStringLiteral("ホスト");

    class Node {
    public:
        const QString& name() const { return m_name; }
        int image() const { return m_image; }
        bool isFolder() const { return m_image < kHostImage; }
        bool isHost() const { return !isFolder(); }
        int itemData() const { return m_itemData; }
        Node* parent() const { return m_parent; }
        const std::vector<std::unique_ptr<Node>>& children() const { return m_children; }
        int row() const;

    private:
        friend class HostDirectory;
        QString m_name;
        int m_image = kFolderImage;
        int m_itemData = -1;
        Node* m_parent = nullptr;
        std::vector<std::unique_ptr<Node>> m_children;
    };

    // Told of every change, after an insertion or renaming and before a removal.
    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void nodeInserted(Node& node) = 0;
        virtual void nodeRemoving(Node& node) = 0;
        virtual void nodeRenamed(Node& node) = 0;
    };

    HostDirectory() = default;
    HostDirectory(const HostDirectory&) = delete;
    HostDirectory& operator=(const HostDirectory&) = delete;

    void setObserver(Observer* observer) { m_observer = observer; }

    // The root folder; null before createRoot() and after the root was removed.
    Node* root() const { return m_root.get(); }
    Node& createRoot();

    // Inserts below `parent` before the first child whose name sorts after `name`.
    Node& insert(Node& parent, const QString& name, int image, int itemData = -1);
    // Removes the node with everything below it (the root too).
    void remove(Node& node);
    void rename(Node& node, const QString& name);

    // How many nodes there are below the root.
    int countBelowRoot() const;

private:
    std::unique_ptr<Node> m_root;
    Observer* m_observer = nullptr;
};
