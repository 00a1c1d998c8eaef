#pragma once

#include <QObject>
#include <memory>

#include "widgets/CommandTarget.h"

class CKestrelDoc;
class CMainFrame;
class QtPrompter;
class QtWaiter;

// The application: creates the one workspace and the main window, runs the first login and
// serves the application's commands (new connection, printer setup, about).
class CKestrelApp : public QObject, public CommandTarget {
    Q_OBJECT
public:
    CKestrelApp();
    ~CKestrelApp() override;

    // Start-up: settings keys, the workspace, the hidden main window, every view's initial
    // update (the tree's runs the login), then the window shown maximised.
    bool InitInstance();

    CKestrelDoc& doc() const { return *m_doc; }
    CMainFrame* mainFrame() const { return m_frame.get(); }

    bool handlesCommand(int id) const override;
    void runCommand(int id) override;

private:
    std::unique_ptr<QtPrompter> m_prompter;
    std::unique_ptr<QtWaiter> m_waiter;
    std::unique_ptr<CKestrelDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
};
