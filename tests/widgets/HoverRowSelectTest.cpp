#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTableWidget>

#include "widgets/HoverRowSelect.h"

// While a list is being destroyed its viewport still gets events; the hover selection must
// then leave the list alone (it is only a QWidget by that time): a double-click below the rows
// during the teardown reaches nothing, where before it reached the list's own handling.
TEST(HoverRowSelect, AListBeingDestroyedIsNeverReached)
{
    auto* list = new QTableWidget(2, 1);
    int belowRows = 0;
    new HoverRowSelect(list, [&belowRows] { ++belowRows; });
    list->resize(200, 300);
    list->show();
    QWidget* viewport = list->viewport();
    auto doubleClickBelowRows = [viewport] {
        const QPoint at(10, viewport->height() - 5);
        QMouseEvent e(QEvent::MouseButtonDblClick, at, viewport->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &e);
    };
    doubleClickBelowRows();
    EXPECT_EQ(belowRows, 1);

    // Connected after the hover selection's own handler, so it runs once the list has begun
    // to go and before its viewport goes.
    QObject::connect(list, &QObject::destroyed, [&] { doubleClickBelowRows(); });
    delete list;
    EXPECT_EQ(belowRows, 1);
}
