#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include "widgets/CommandTarget.h"

class QAction;
class QLabel;
class QSplitter;
class QToolBar;
class CKestrelDoc;
class CLeftView;
class CKestrelView;
class CDebugView;

// The main window: menus, tool bar, status bar, and the client area split into the object
// tree (left), the list view (top right) and the log view (bottom right). It routes every
// command: active view, then workspace, main window, application.
class CMainFrame : public QMainWindow, public CommandTarget {
    Q_OBJECT
public:
    // `application` serves the application's commands (new connection, printer setup, about).
    CMainFrame(CKestrelDoc& doc, CommandTarget* application, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CKestrelDoc& doc() const { return m_doc; }
    CLeftView* leftView() const { return m_leftView; }
    CKestrelView* listView() const { return m_listView; }
    CDebugView* debugView() const { return m_debugView; }

    // The initial update of every view: the tree (which logs in), the list, the log.
    void initialUpdateViews();

    QAction* commandAction(int id) const { return m_actions.value(id); }
    // Sends a command along the route; nothing happens when nobody serves it.
    void routeCommand(int id);
    bool isCommandEnabled(int id) const;
    // Re-reads which commands are enabled (after a focus or browse-state change).
    void updateCommandStates();

    // The view that last had the keyboard focus (the tree until another view takes it).
    KestrelView* activeView() const { return m_activeView; }
    void setActiveView(KestrelView* view);

    // Status bar panes: 0 the message pane, 1 to 4 the indicator / information panes.
    QLabel* statusPane(int index) const;

    bool handlesCommand(int id) const override;
    void runCommand(int id) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void createViews();
    void focusPane(int step);
    void onFocusChanged(QWidget* old, QWidget* now);
    void onStatusPanesChanged(const QString& login, const QString& host, const QString& speed);
    QAction* addCommand(int id, const QString& label, const QString& prompt = {});
    KestrelView* viewOf(QWidget* w) const;

    CKestrelDoc& m_doc;
    CommandTarget* m_application;
    QHash<int, QAction*> m_actions;
    QToolBar* m_toolBar = nullptr;
    QToolBar* m_dialogBar = nullptr;
    QLabel* m_panes[5] = {};
    QSplitter* m_mainSplitter = nullptr;
    QSplitter* m_rightSplitter = nullptr;
    CLeftView* m_leftView = nullptr;
    CKestrelView* m_listView = nullptr;
    CDebugView* m_debugView = nullptr;
    KestrelView* m_activeView = nullptr;
};
