#include "hosts/HostTreePictures.h"

#include <QPainter>
#include <QPolygon>

namespace {

QPixmap folder(bool open)
{
    QPixmap pix(16, 16);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    const QColor edge(120, 90, 0), back(230, 190, 60), front(255, 225, 110);
    p.setPen(edge);
    p.setBrush(back);
    p.drawPolygon(QPolygon({{1, 3}, {6, 3}, {7, 5}, {14, 5}, {14, 13}, {1, 13}}));
    p.setBrush(front);
    if (open)
        p.drawPolygon(QPolygon({{3, 7}, {15, 7}, {13, 13}, {1, 13}}));
    else
        p.drawRect(1, 6, 13, 7);
    return pix;
}

QPixmap computer(bool highlighted)
{
    QPixmap pix(16, 16);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(190, 190, 190));
    p.drawRect(1, 1, 13, 10);
    p.drawRect(3, 13, 9, 2);
    p.fillRect(6, 12, 4, 1, QColor(100, 100, 100));
    p.fillRect(3, 3, 10, 7, highlighted ? QColor(90, 230, 255) : QColor(0, 40, 130));
    if (highlighted) p.fillRect(4, 4, 3, 2, Qt::white);
    return pix;
}

}  // namespace

QPixmap HostTreePicture(int index)
{
    switch (index) {
        case 0:
            return folder(false);
        case 1:
            return folder(true);
        case 2:
            return computer(false);
        default:
            return computer(true);
    }
}

QIcon HostTreeIcon(int image)
{
    QIcon icon;
    icon.addPixmap(HostTreePicture(image), QIcon::Normal);
    icon.addPixmap(HostTreePicture(image + 1), QIcon::Selected);
    return icon;
}
