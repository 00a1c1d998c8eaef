#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class QTableWidget;
class QWidget;

// Selection under a resting pointer for a report list: the row under the pointer becomes the
// selected, current row once the pointer has rested on it for the platform's hover time (the
// tool-tip wake-up delay of the style); a pointer that only crosses rows on its way elsewhere
// changes nothing. A double-click below the last row calls `belowRows` (the current row
// stays the one to act on).
//
// Owned by the list. The list is reached only while it is whole: from the moment it starts
// going away (its destroyed(), sent before its children go) the filter is off its viewport
// and m_list is null, so an event its viewport still gets while being torn down never calls
// into a list that is only a QWidget by then.
class HoverRowSelect : public QObject {
public:
    HoverRowSelect(QTableWidget* list, std::function<void()> belowRows);
    static int hoverMillis();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void listGoing();

    QTableWidget* m_list;
    QWidget* m_viewport;
    std::function<void()> m_belowRows;
    QTimer m_rest;
    int m_row = -1;  // the row under the pointer, waiting for the rest
};
