#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class QTableWidget;

// Selection under a resting pointer for a report list: the row under the pointer becomes the
// selected, current row once the pointer has rested on it for the platform's hover time (the
// tool-tip wake-up delay of the style); a pointer that only crosses rows on its way elsewhere
// changes nothing. A double-click below the last row calls `belowRows` (the current row
// stays the one to act on).
class HoverRowSelect : public QObject {
public:
    HoverRowSelect(QTableWidget* list, std::function<void()> belowRows);
    static int hoverMillis();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableWidget* m_list;
    std::function<void()> m_belowRows;
    QTimer m_rest;
    int m_row = -1;  // the row under the pointer, waiting for the rest
};
