#include "browser/TreeImages.h"

#include <QPainter>
#include <array>

#include "workspace/BrowseRules.h"

namespace TreeImages {

namespace {

constexpr int kSide = 16;

// A database drum: the server itself and the nodes that stand for whole groups of objects.
void drawDrum(QPainter& p, const QColor& body, const QColor& edge)
{
    p.setPen(QPen(edge, 1));
    p.setBrush(body);
    p.drawRect(QRectF(3.5, 4.5, 9, 8));
    p.drawEllipse(QRectF(3.5, 10.5, 9, 4));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(4, 5, 8, 7.5));
    p.setPen(QPen(edge, 1));
    p.setBrush(body.lighter(130));
    p.drawEllipse(QRectF(3.5, 2.5, 9, 4));
    p.setPen(QPen(body.darker(140), 1));
    p.drawArc(QRectF(3.5, 6.5, 9, 4), 180 * 16, 180 * 16);
}

// A sheet of rows and columns with a coloured heading: tables, views and catalogue relations.
void drawSheet(QPainter& p, const QColor& heading, const QColor& cells, const QColor& edge)
{
    const QRectF frame(1.5, 2.5, 13, 11);
    p.setPen(Qt::NoPen);
    p.setBrush(cells);
    p.drawRect(frame);
    p.setBrush(heading);
    p.drawRect(QRectF(1.5, 2.5, 13, 3));
    p.setPen(QPen(edge, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(frame);
    for (qreal y : {8.5, 11.0}) p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
    for (qreal x : {6.0, 10.5}) p.drawLine(QPointF(x, 5.5), QPointF(x, 13.5));
}

void drawFolder(QPainter& p, bool open)
{
    const QColor back(214, 160, 40), front(250, 206, 90), edge(140, 95, 20);
    p.setPen(QPen(edge, 1));
    p.setBrush(back);
    p.drawPolygon(QPolygonF({{1.5, 13.5}, {1.5, 3.5}, {6.0, 3.5}, {7.5, 5.0}, {14.5, 5.0},
                             {14.5, 13.5}}));
    p.setBrush(front);
    if (open) {
        p.drawPolygon(QPolygonF({{1.5, 13.5}, {4.0, 7.5}, {15.5, 7.5}, {13.0, 13.5}}));
    } else {
        p.drawRect(QRectF(1.5, 6.5, 13, 7));
    }
}

QPixmap draw(int index)
{
    QPixmap pm(kSide, kSide);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const bool selected = index % 2 == 1;
    switch (index - index % 2) {
    case Browse::ServerImage:
        drawDrum(p, selected ? QColor(250, 190, 60) : QColor(96, 140, 200),
                 selected ? QColor(150, 90, 0) : QColor(40, 70, 120));
        break;
    case Browse::RelationImage:
        drawSheet(p, selected ? QColor(90, 90, 90) : QColor(150, 150, 150),
                  selected ? QColor(220, 220, 220) : QColor(245, 245, 245), QColor(80, 80, 80));
        break;
    case Browse::FolderImage:
        drawFolder(p, selected);
        break;
    case Browse::PostgresObjectImage:
        drawSheet(p, selected ? QColor(20, 60, 150) : QColor(60, 110, 210),
                  selected ? QColor(200, 220, 255) : Qt::white, QColor(30, 60, 120));
        break;
    case Browse::OtherObjectImage:
        drawSheet(p, selected ? QColor(20, 110, 40) : QColor(60, 170, 80),
                  selected ? QColor(205, 240, 210) : Qt::white, QColor(30, 100, 40));
        break;
    default:
        break;
    }
    return pm;
}

const std::array<QPixmap, Browse::ImageCount>& images()
{
    static const std::array<QPixmap, Browse::ImageCount> all = [] {
        std::array<QPixmap, Browse::ImageCount> a;
        for (int i = 0; i < Browse::ImageCount; ++i) a[i] = draw(i);
        return a;
    }();
    return all;
}

}  // namespace

QPixmap image(int index)
{
    if (index < 0 || index >= Browse::ImageCount) return {};
    return images()[index];
}

QIcon nodeIcon(int index)
{
    QIcon icon;
    icon.addPixmap(image(index), QIcon::Normal);
    icon.addPixmap(image(index + 1), QIcon::Selected);
    return icon;
}

}  // namespace TreeImages
