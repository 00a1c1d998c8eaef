#include "app/CMainFrame.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

#include "app/AppIcon.h"
#include "app/FeatureWiring.h"
#include "browser/CLeftView.h"
#include "console/CDebugView.h"
#include "listview/CKestrelView.h"
#include "workspace/CKestrelDoc.h"
#include "workspace/Prompter.h"

namespace {

// A flat 18 x 18 tool bar picture: a glyph on a tinted square.
QIcon toolIcon(const QString& glyph, QColor tint)
{
    QPixmap pm(18, 18);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(tint.lighter(170));
    p.setPen(tint.darker(130));
    p.drawRoundedRect(QRectF(0.5, 0.5, 17, 17), 3, 3);
    QFont f = p.font();
    f.setPixelSize(glyph.size() > 1 ? 8 : 12);
    f.setBold(true);
    p.setFont(f);
    p.setPen(tint.darker(200));
    p.drawText(QRect(0, 0, 18, 18), Qt::AlignCenter, glyph);
    return QIcon(pm);
}

}  // namespace

CMainFrame::CMainFrame(CKestrelDoc& doc, CommandTarget* application, QWidget* parent)
    : QMainWindow(parent), m_doc(doc), m_application(application)
{
    setObjectName(QStringLiteral("mainFrame"));
    setWindowTitle(kAppTitle);
    setWindowIcon(ApplicationIcon());
    createActions();
    createMenus();
    createToolBar();
    createStatusBar();
    createViews();

    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::onFocusChanged);
    connect(&m_doc, &CKestrelDoc::statusPanesChanged, this, &CMainFrame::onStatusPanesChanged);
    // The last pane tells whether the session is encrypted, whether a transaction is open or
    // failed, and whether the session was lost.
    connect(&m_doc, &CKestrelDoc::sessionStateChanged, this, [this] {
        const QString text = m_doc.sessionStateText();
        m_panes[4]->setText(text);
        m_panes[4]->setFrameShadow(QFrame::Raised);
        m_panes[4]->setMinimumWidth(m_panes[4]->fontMetrics().horizontalAdvance(text) + 16);
    });
    connect(&m_doc, &CKestrelDoc::viewsUpdateRequested, this, [this](QObject* sender) {
        for (KestrelView* v : {static_cast<KestrelView*>(m_leftView),
                               static_cast<KestrelView*>(m_listView),
                               static_cast<KestrelView*>(m_debugView)}) {
            if (dynamic_cast<QObject*>(v) != sender) v->onUpdate();
        }
        updateCommandStates();
    });
    updateCommandStates();
}

// The views and the tool bars are destroyed by QWidget's destructor, after this one: focus
// moving out of a dying view would otherwise run the focus slot on a frame half gone.
CMainFrame::~CMainFrame()
{
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(&m_doc, nullptr, this, nullptr);
    disconnect(m_leftView, nullptr, this, nullptr);
    disconnect(m_listView, nullptr, this, nullptr);
}

QAction* CMainFrame::addCommand(int id, const QString& label, const QString& prompt)
{
    auto* a = new QAction(label, this);
    a->setObjectName(QStringLiteral("command%1").arg(id));
    a->setData(id);
    if (!prompt.isEmpty()) a->setStatusTip(prompt);
    connect(a, &QAction::triggered, this, [this, id] { routeCommand(id); });
    m_actions.insert(id, a);
    return a;
}

void CMainFrame::createActions()
{
    addCommand(Cmd::NewConnection, QStringLiteral("新規接続"), QStringLiteral("新規に接続を行う。"))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    addCommand(Cmd::CsvImport, QStringLiteral("CSVファイルのインポート"),
               QStringLiteral("CSVファイルをテーブルに取り込みます"));
    addCommand(Cmd::Print, QStringLiteral("印刷(&P)...\tCtrl+P"), QStringLiteral("印刷します"));
    addCommand(Cmd::PrintPreview, QStringLiteral("印刷ﾌﾟﾚﾋﾞｭｰ(&V)"),
               QStringLiteral("印刷イメージを表示します"));
    addCommand(Cmd::PrintSetup, QStringLiteral("ﾌﾟﾘﾝﾀの設定(&R)..."),
               QStringLiteral("プリンタの設定を変更します"));
    addCommand(Cmd::RecentFile, QStringLiteral("最近使ったﾌｧｲﾙ"));
    addCommand(Cmd::Exit, QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)"),
               QStringLiteral("アプリケーションを終了します"));
    addCommand(Cmd::Undo, QStringLiteral("元に戻す(&U)\tCtrl+Z"), QStringLiteral("直前の操作を元に戻します"));
    addCommand(Cmd::Cut, QStringLiteral("切り取り(&T)\tCtrl+X"),
               QStringLiteral("選択範囲を切り取ってクリップボードに移動します"));
    QAction* copy = addCommand(Cmd::Copy, QStringLiteral("ｺﾋﾟｰ(&C)\tCtrl+C"),
                               QStringLiteral("選択範囲をコピーしてクリップボードに保存します"));
    copy->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    addCommand(Cmd::Paste, QStringLiteral("貼り付け(&P)\tCtrl+V"),
               QStringLiteral("クリップボードの内容を挿入します"));
    addCommand(Cmd::RecordDelete, QStringLiteral("削除(&D)\tDel"),
               QStringLiteral("選択したレコードを削除します"));
    addCommand(Cmd::UserCreate, QStringLiteral("ユーザ登録"), QStringLiteral("新規ユーザを登録します"));
    addCommand(Cmd::DatabaseCreate, QStringLiteral("新規データベース作成"),
               QStringLiteral("新規にデータベースを作成します"));
    QAction* tb = addCommand(Cmd::ViewToolBar, QStringLiteral("ﾂｰﾙ ﾊﾞｰ(&T)"),
                             QStringLiteral("ツール バーの表示/非表示を切り替えます"));
    tb->setCheckable(true);
    tb->setChecked(true);
    QAction* sb = addCommand(Cmd::ViewStatusBar, QStringLiteral("ｽﾃｰﾀｽ ﾊﾞｰ(&S)"),
                             QStringLiteral("ステータス バーの表示/非表示を切り替えます"));
    sb->setCheckable(true);
    sb->setChecked(true);
    addCommand(Cmd::SqlWindow, QStringLiteral("ＳＱＬ発行画面"), QStringLiteral("SQL文を発行します"));
    addCommand(Cmd::About, QStringLiteral("マーロウKestrel のﾊﾞｰｼﾞｮﾝ情報(&A)..."),
               QStringLiteral("プログラムの情報、バージョン、著作権を表示します"));
    addCommand(Cmd::PageSetting, QStringLiteral("ページ設定"),
               QStringLiteral("表示するページと1ページの件数を設定します"));
    addCommand(Cmd::NextPage, QStringLiteral("次ページ"), QStringLiteral("次のページを表示します"));
    addCommand(Cmd::PreviousPage, QStringLiteral("前ページ"), QStringLiteral("前のページを表示します"));

    // F6 and Shift+F6: next and previous pane.
    auto* next = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(next, &QShortcut::activated, this, [this] { focusPane(1); });
    auto* prev = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), this);
    connect(prev, &QShortcut::activated, this, [this] { focusPane(-1); });
}

void CMainFrame::createMenus()
{
    QMenuBar* bar = menuBar();
    auto add = [this](QMenu* menu, std::initializer_list<int> ids) {
        for (int id : ids) {
            if (id == 0) menu->addSeparator();
            else menu->addAction(m_actions.value(id));
        }
    };
    QMenu* file = bar->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    add(file, {Cmd::NewConnection, 0, Cmd::CsvImport, 0, Cmd::Print, Cmd::PrintPreview,
               Cmd::PrintSetup, 0, Cmd::RecentFile, 0, Cmd::Exit});
    QMenu* edit = bar->addMenu(QStringLiteral("編集(&E)"));
    add(edit, {Cmd::Undo, 0, Cmd::Cut, Cmd::Copy, Cmd::Paste, Cmd::RecordDelete, 0,
               Cmd::UserCreate, Cmd::DatabaseCreate});
    QMenu* view = bar->addMenu(QStringLiteral("表示(&V)"));
    add(view, {Cmd::ViewToolBar, Cmd::ViewStatusBar, 0, Cmd::SqlWindow});
    QMenu* help = bar->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    add(help, {Cmd::About});
    for (QMenu* m : {file, edit, view, help})
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);
}

void CMainFrame::createToolBar()
{
    m_toolBar = addToolBar(QStringLiteral("ToolBar"));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setIconSize(QSize(18, 18));
    m_toolBar->setMovable(true);
    struct Button {
        int id;
        const char16_t* glyph;
        QColor tint;
        const char16_t* tip;
    };
    const Button buttons[] = {
        {Cmd::NewConnection, u"接", QColor(40, 110, 200), u"新規接続"},
        {Cmd::UserCreate, u"人", QColor(40, 150, 60), u"ユーザ登録"},
        {Cmd::DatabaseCreate, u"DB", QColor(150, 90, 30), u"新規データベース作成"},
        {Cmd::SqlWindow, u"SQL", QColor(120, 60, 160), u"ＳＱＬ発行画面"},
        {0, nullptr, {}, nullptr},
        {Cmd::Cut, u"✂", QColor(110, 110, 110), u"切り取り"},
        {Cmd::Copy, u"写", QColor(110, 110, 110), u"コピー"},
        {Cmd::Paste, u"貼", QColor(110, 110, 110), u"貼り付け"},
        {0, nullptr, {}, nullptr},
        {Cmd::Print, u"印", QColor(110, 110, 110), u"印刷"},
        {0, nullptr, {}, nullptr},
        {Cmd::PageSetting, u"頁", QColor(200, 140, 20), u"ページ設定"},
        {Cmd::NextPage, u"▶", QColor(200, 140, 20), u"次ページ"},
        {Cmd::PreviousPage, u"◀", QColor(200, 140, 20), u"前ページ"},
        {0, nullptr, {}, nullptr},
        {Cmd::About, u"?", QColor(40, 110, 200), u"バージョン情報"},
    };
    for (const Button& b : buttons) {
        if (b.id == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction* a = m_actions.value(b.id);
        a->setIcon(toolIcon(QString::fromUtf16(b.glyph), b.tint));
        a->setToolTip(QString::fromUtf16(b.tip));
        m_toolBar->addAction(a);
    }
    // The second band: an empty dialog bar.
    m_dialogBar = addToolBar(QStringLiteral("DialogBar"));
    m_dialogBar->setObjectName(QStringLiteral("dialogBar"));
    auto* empty = new QWidget(m_dialogBar);
    empty->setFixedSize(330 * 2, 16 * 2);
    m_dialogBar->addWidget(empty);
}

void CMainFrame::createStatusBar()
{
    QStatusBar* sb = statusBar();
    m_panes[0] = new QLabel(QStringLiteral("ﾚﾃﾞｨ"), sb);
    sb->addWidget(m_panes[0], 1);
    const char16_t* indicators[] = {u"ｶﾅ", u"CAP", u"NUM", u"SCRL"};
    for (int i = 1; i <= 4; ++i) {
        m_panes[i] = new QLabel(QString::fromUtf16(indicators[i - 1]), sb);
        m_panes[i]->setAlignment(Qt::AlignCenter);
        m_panes[i]->setFrameShape(QFrame::Panel);
        m_panes[i]->setFrameShadow(QFrame::Sunken);
        m_panes[i]->setMinimumWidth(40);
        sb->addPermanentWidget(m_panes[i]);
    }
    for (int i = 0; i <= 4; ++i) m_panes[i]->setObjectName(QStringLiteral("statusPane%1").arg(i));
}

QLabel* CMainFrame::statusPane(int index) const
{
    return index >= 0 && index < 5 ? m_panes[index] : nullptr;
}

void CMainFrame::onStatusPanesChanged(const QString& login, const QString& host,
                                      const QString& speed)
{
    const QString texts[] = {login, host, speed};
    const int widths[] = {150, 150, 170};
    for (int i = 0; i < 3; ++i) {
        QLabel* pane = m_panes[i + 1];
        pane->setText(texts[i]);
        pane->setFrameShadow(QFrame::Raised);
        pane->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        pane->setFixedWidth(widths[i]);
    }
}

void CMainFrame::createViews()
{
    m_mainSplitter = new QSplitter(Qt::Horizontal, this);
    m_mainSplitter->setObjectName(QStringLiteral("mainSplitter"));
    m_mainSplitter->setChildrenCollapsible(false);
    m_leftView = new CLeftView(m_doc, m_mainSplitter);
    m_rightSplitter = new QSplitter(Qt::Vertical, m_mainSplitter);
    m_rightSplitter->setObjectName(QStringLiteral("rightSplitter"));
    m_rightSplitter->setChildrenCollapsible(false);
    m_listView = new CKestrelView(m_doc, m_rightSplitter);
    m_debugView = new CDebugView(m_doc, m_rightSplitter);
    m_leftView->setFeatureDialogs(AppFeatureDialogs());
    m_listView->setFeatureDialogs(AppFeatureDialogs());
    m_mainSplitter->addWidget(m_leftView);
    m_mainSplitter->addWidget(m_rightSplitter);
    m_rightSplitter->addWidget(m_listView);
    m_rightSplitter->addWidget(m_debugView);
    m_mainSplitter->setSizes({250, 1000});
    m_mainSplitter->setStretchFactor(1, 1);
    m_rightSplitter->setSizes({500, 100});
    m_rightSplitter->setStretchFactor(0, 1);
    setCentralWidget(m_mainSplitter);
    m_activeView = m_leftView;
    connect(m_leftView, &CLeftView::commandStatesChanged, this, &CMainFrame::updateCommandStates);
    connect(m_listView, &CKestrelView::commandStatesChanged, this, &CMainFrame::updateCommandStates);
}

void CMainFrame::initialUpdateViews()
{
    m_leftView->initialUpdate();
    m_listView->initialUpdate();
    m_debugView->initialUpdate();
    updateCommandStates();
}

KestrelView* CMainFrame::viewOf(QWidget* w) const
{
    for (; w; w = w->parentWidget()) {
        if (w == m_leftView) return m_leftView;
        if (w == m_listView) return m_listView;
        if (w == m_debugView) return m_debugView;
    }
    return nullptr;
}

void CMainFrame::onFocusChanged(QWidget*, QWidget* now)
{
    if (KestrelView* v = viewOf(now)) setActiveView(v);
}

void CMainFrame::setActiveView(KestrelView* view)
{
    if (view == m_activeView) return;
    m_activeView = view;
    updateCommandStates();
}

void CMainFrame::focusPane(int step)
{
    QWidget* panes[] = {m_leftView, m_listView, m_debugView};
    int current = 0;
    for (int i = 0; i < 3; ++i) {
        if (dynamic_cast<KestrelView*>(panes[i]) == m_activeView) current = i;
    }
    QWidget* target = panes[(current + step + 3) % 3];
    target->setFocus(Qt::ShortcutFocusReason);
    setActiveView(viewOf(target));
}

bool CMainFrame::handlesCommand(int id) const
{
    return id == Cmd::ViewToolBar || id == Cmd::ViewStatusBar || id == Cmd::Exit;
}

void CMainFrame::runCommand(int id)
{
    switch (id) {
    case Cmd::ViewToolBar: {
        // The tool bar band alone: the dialog bar stays as it is.
        m_toolBar->setVisible(m_toolBar->isHidden());
        break;
    }
    case Cmd::ViewStatusBar:
        statusBar()->setVisible(statusBar()->isHidden());
        break;
    case Cmd::Exit:
        close();
        break;
    default:
        break;
    }
    updateCommandStates();
}

bool CMainFrame::isCommandEnabled(int id) const
{
    if (m_activeView && m_activeView->handlesCommand(id)) return m_activeView->commandEnabled(id);
    // The workspace serves no command of its own.
    if (handlesCommand(id)) return commandEnabled(id);
    if (m_application && m_application->handlesCommand(id)) return m_application->commandEnabled(id);
    return false;
}

void CMainFrame::routeCommand(int id)
{
    if (!isCommandEnabled(id)) return;
    if (m_activeView && m_activeView->handlesCommand(id)) m_activeView->runCommand(id);
    else if (handlesCommand(id)) runCommand(id);
    else if (m_application && m_application->handlesCommand(id)) m_application->runCommand(id);
    updateCommandStates();
}

void CMainFrame::updateCommandStates()
{
    for (auto it = m_actions.constBegin(); it != m_actions.constEnd(); ++it)
        it.value()->setEnabled(isCommandEnabled(it.key()));
    if (QAction* tb = m_actions.value(Cmd::ViewToolBar)) tb->setChecked(!m_toolBar->isHidden());
    if (QAction* sb = m_actions.value(Cmd::ViewStatusBar)) sb->setChecked(!statusBar()->isHidden());
}
