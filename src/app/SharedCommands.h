#pragma once

class CKestrelDoc;
class QWidget;

// Runs one of the commands the tree and the list view share (IsSharedViewCommand) with
// dialogs modal to `parent`.
void RunSharedViewCommand(int id, CKestrelDoc& doc, QWidget* parent);

// "ＳＱＬ発行画面": opens the query dialog on the workspace's connection, modal to `parent`;
// its "CSV出力" opens the export of the statement typed there.
void OpenQueryDialog(CKestrelDoc& doc, QWidget* parent);
