#include "accounts/GroupIconList.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

// Three people, the one in front larger: the picture of a group.
QIcon groupPicture()
{
    static const QIcon icon = [] {
        QPixmap pm(32, 32);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const struct {
            double x, y, scale;
            QColor colour;
        } people[] = {{4, 6, 0.8, QColor(70, 110, 180)},
                      {18, 6, 0.8, QColor(60, 150, 90)},
                      {10, 10, 1.0, QColor(200, 120, 40)}};
        for (const auto& m : people) {
            p.setPen(QPen(m.colour.darker(150), 1));
            p.setBrush(m.colour);
            const double s = m.scale;
            p.drawEllipse(QRectF(m.x + 2 * s, m.y, 8 * s, 8 * s));
            p.drawRoundedRect(QRectF(m.x, m.y + 9 * s, 12 * s, 12 * s), 4 * s, 4 * s);
        }
        return QIcon(pm);
    }();
    return icon;
}

}  // namespace

GroupIconList::GroupIconList(QWidget* parent, const char* name) : QListWidget(parent)
{
    setObjectName(QLatin1String(name));
    setViewMode(QListView::IconMode);
    setIconSize(QSize(32, 32));
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void GroupIconList::setGroups(const QStringList& names)
{
    clear();
    for (const QString& n : names) addItem(new QListWidgetItem(groupPicture(), n));
}

QStringList GroupIconList::groups() const
{
    QStringList names;
    for (int i = 0; i < count(); ++i) names << item(i)->text();
    return names;
}

void GroupIconList::mouseDoubleClickEvent(QMouseEvent* event)
{
    QListWidget::mouseDoubleClickEvent(event);
    QListWidgetItem* it = itemAt(event->position().toPoint());
    emit groupDoubleClicked(it ? it->text() : QString());
}
