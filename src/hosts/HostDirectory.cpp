#include "hosts/HostDirectory.h"

#include <algorithm>

namespace {

int countBelow(const HostDirectory::Node& node)
{
    int n = 0;
    for (const auto& child : node.children()) n += 1 + countBelow(*child);
    return n;
}

}  // namespace

int HostDirectory::Node::row() const
{
    if (!m_parent) return 0;
    const auto& siblings = m_parent->m_children;
    const auto it = std::find_if(siblings.begin(), siblings.end(),
                                 [this](const auto& sibling) { return sibling.get() == this; });
    return int(it - siblings.begin());
}

HostDirectory::Node& HostDirectory::createRoot()
{
    if (m_root) remove(*m_root);
    m_root = std::make_unique<Node>();
    m_root->m_name = kRootName;
    if (m_observer) m_observer->nodeInserted(*m_root);
    return *m_root;
}

HostDirectory::Node& HostDirectory::insert(Node& parent, const QString& name, int image,
                                           int itemData)
{
    auto node = std::make_unique<Node>();
    node->m_name = name;
    node->m_image = image;
    node->m_itemData = itemData;
    node->m_parent = &parent;
    auto& siblings = parent.m_children;
    const auto at = std::find_if(siblings.begin(), siblings.end(),
                                 [&name](const auto& sibling) { return sibling->m_name > name; });
    Node& inserted = **siblings.insert(at, std::move(node));
    if (m_observer) m_observer->nodeInserted(inserted);
    return inserted;
}

void HostDirectory::remove(Node& node)
{
    if (m_observer) m_observer->nodeRemoving(node);
    if (&node == m_root.get()) {
        m_root.reset();
        return;
    }
    auto& siblings = node.m_parent->m_children;
    siblings.erase(siblings.begin() + node.row());
}

void HostDirectory::rename(Node& node, const QString& name)
{
    node.m_name = name;
    if (m_observer) m_observer->nodeRenamed(node);
}

int HostDirectory::countBelowRoot() const
{
    return m_root ? countBelow(*m_root) : 0;
}
