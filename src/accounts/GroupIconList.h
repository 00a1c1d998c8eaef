#pragma once

#include <QListWidget>

// A list of groups as icons (the group picture labelled with the group name), in the order
// given. A double-click anywhere reports the name under the pointer, an empty one when it hit
// no icon.
class GroupIconList : public QListWidget {
    Q_OBJECT
public:
    GroupIconList(QWidget* parent, const char* name);
    void setGroups(const QStringList& names);
    QStringList groups() const;

signals:
    void groupDoubleClicked(const QString& name);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
