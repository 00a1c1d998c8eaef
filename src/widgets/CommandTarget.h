#pragma once

#include <QString>

// Command numbers of the menus, tool bar, accelerators and context menus.
namespace Cmd {
enum : int {
    SqlWindow = 32771,
    UserCreate = 32772,
    DatabaseCreate = 32773,
    CsvImport = 32780,
    TableCreate = 32782,
    TableEdit = 32783,
    TableDrop = 32784,
    CsvExport = 32786,
    RecordAdd = 32787,
    TableDetail = 32790,
    Refresh = 32791,
    PageSetting = 32792,
    NextPage = 32793,
    PreviousPage = 32794,
    RecordEdit = 32795,
    RecordDelete = 32797,
    NewConnection = 57600,
    PrintSetup = 57606,
    Print = 57607,
    PrintPreview = 57609,
    RecentFile = 57616,
    Copy = 57634,
    Cut = 57635,
    Paste = 57637,
    Undo = 57643,
    About = 57664,
    Exit = 57665,
    ViewToolBar = 59392,
    ViewStatusBar = 59393,
};
}  // namespace Cmd

// The commands that the object tree and the list view serve with the same action
// ("ＳＱＬ発行画面", "ユーザ登録", "新規データベース作成", "CSVファイルのインポート"), so they
// work from whichever of the two is active. app/ runs them (FeatureDialogs::sharedCommand).
inline bool IsSharedViewCommand(int id)
{
    return id == Cmd::SqlWindow || id == Cmd::UserCreate || id == Cmd::DatabaseCreate ||
           id == Cmd::CsvImport;
}

// Something a command can be routed to. A command goes to the active view first, then the
// workspace, the main window and the application; the first that serves it runs it. A command
// nobody serves is shown disabled.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // Whether this target serves the command at all.
    virtual bool handlesCommand(int id) const = 0;
    // Whether a served command is enabled in the current state.
    virtual bool commandEnabled(int id) const
    {
        (void)id;
        return true;
    }
    virtual void runCommand(int id) = 0;
};

// The three views of the main window.
class KestrelView : public CommandTarget {
public:
    // At start-up and on "新規接続".
    virtual void initialUpdate() = 0;
    // The workspace's browse state changed.
    virtual void onUpdate() {}
};
