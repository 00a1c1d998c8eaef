#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTableWidget>

#include "widgets/HoverRowSelect.h"

// While a list is being destroyed its viewport still gets events; the hover selection must
// leave the list (only a QWidget by then) alone: a double-click below the rows then reaches
// nothing, where before the teardown it reaches the list's handling.
TEST(HoverRowSelect, AListBeingDestroyedIsNeverReached)
{
    auto* list = new QTableWidget(2, 1);
    int belowRows = 0;
    new HoverRowSelect(list, [&belowRows] { ++belowRows; });
    list->resize(200, 300);
    auto doubleClickBelowRows = [viewport = list->viewport()] {
        QMouseEvent e(QEvent::MouseButtonDblClick, QPoint(10, 290), viewport->mapToGlobal(QPoint(10, 290)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &e);
    };
    doubleClickBelowRows();
    ASSERT_EQ(belowRows, 1);
    // After the hover selection's own handler: the list has begun to go, its viewport not yet.
    QObject::connect(list, &QObject::destroyed, doubleClickBelowRows);
    delete list;
    EXPECT_EQ(belowRows, 1);
}
