#pragma once

class CKestrelDoc;
class QWidget;

// The commands that the object tree and the list view serve with the same action
// ("ＳＱＬ発行画面", "ユーザ登録", "新規データベース作成", "CSVファイルのインポート"), so they
// work from whichever of the two is active.
bool IsSharedViewCommand(int id);
// Runs one of them with dialogs modal to `parent`.
void RunSharedViewCommand(int id, CKestrelDoc& doc, QWidget* parent);
