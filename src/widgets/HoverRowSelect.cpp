#include "widgets/HoverRowSelect.h"

#include <QApplication>
#include <QMouseEvent>
#include <QStyle>
#include <QTableWidget>

HoverRowSelect::HoverRowSelect(QTableWidget* list, std::function<void()> belowRows)
    : QObject(list), m_list(list), m_viewport(list->viewport()), m_belowRows(std::move(belowRows))
{
    m_list->setMouseTracking(true);
    m_viewport->setMouseTracking(true);
    m_viewport->installEventFilter(this);
    m_rest.setSingleShot(true);
    connect(&m_rest, &QTimer::timeout, this, [this] {
        if (m_list && m_row >= 0 && m_row < m_list->rowCount()) m_list->selectRow(m_row);
    });
    connect(m_list, &QObject::destroyed, this, [this] { listGoing(); });
}

void HoverRowSelect::listGoing()
{
    m_rest.stop();
    // The viewport is still whole here: the list deletes its children after destroyed().
    if (m_viewport) m_viewport->removeEventFilter(this);
    m_viewport = nullptr;
    m_list = nullptr;
}

int HoverRowSelect::hoverMillis()
{
    return QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay);
}

bool HoverRowSelect::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_list || watched != m_viewport) return false;
    switch (event->type()) {
    case QEvent::MouseMove: {
        const int row = m_list->rowAt(static_cast<QMouseEvent*>(event)->position().toPoint().y());
        if (row != m_row) {
            // A new row: the rest starts again there; no row (below the rows) waits for none.
            m_row = row;
            if (row >= 0)
                m_rest.start(hoverMillis());
            else
                m_rest.stop();
        }
        break;
    }
    case QEvent::Leave:
        m_row = -1;
        m_rest.stop();
        break;
    case QEvent::MouseButtonDblClick:
        if (m_list->rowAt(static_cast<QMouseEvent*>(event)->position().toPoint().y()) < 0 && m_belowRows) {
            m_belowRows();
            return true;
        }
        break;
    default:
        break;
    }
    return false;
}
