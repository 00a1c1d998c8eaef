#include "app/CKestrelApp.h"

#include <QGuiApplication>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>

#include "app/AppIcon.h"
#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "hosts/CLoginDlg.h"
#include "widgets/QtPrompter.h"
#include "widgets/QtWaiter.h"
#include "workspace/CKestrelDoc.h"
#include "workspace/Settings.h"

CKestrelApp::CKestrelApp() = default;

CKestrelApp::~CKestrelApp()
{
    m_frame.reset();
    installPrompter(nullptr);
}

bool CKestrelApp::InitInstance()
{
    Settings::registerKeys();
    QGuiApplication::setWindowIcon(ApplicationIcon());
    m_prompter = std::make_unique<QtPrompter>();
    installPrompter(m_prompter.get());
    m_doc = std::make_unique<CKestrelDoc>();
    // Every statement of the workspace's session is waited on visibly and can be stopped.
    m_waiter = std::make_unique<QtWaiter>();
    m_doc->setWaiter(m_waiter.get());
    m_frame = std::make_unique<CMainFrame>(*m_doc, this);
    m_doc->setLoginRunner(CLoginDlg::runner(m_frame.get()));
    m_frame->initialUpdateViews();
    // Without a window manager (a virtual display) "maximised" means nothing: cover the
    // screen's available area as well.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        m_frame->setGeometry(screen->availableGeometry());
    m_frame->showMaximized();
    return true;
}

bool CKestrelApp::handlesCommand(int id) const
{
    return id == Cmd::NewConnection || id == Cmd::PrintSetup || id == Cmd::About;
}

void CKestrelApp::runCommand(int id)
{
    switch (id) {
    case Cmd::NewConnection:
        // The same workspace and views, initialised again: the tree logs in anew.
        m_frame->initialUpdateViews();
        break;
    case Cmd::PrintSetup: {
        QPrinter printer;
        QPrintDialog dlg(&printer, m_frame.get());
        dlg.exec();
        break;
    }
    case Cmd::About: {
        CAboutDlg dlg(m_frame.get());
        dlg.exec();
        break;
    }
    default:
        break;
    }
}
