#pragma once

class CKestrelDoc;
class QWidget;

// "ＳＱＬ発行画面": opens the query dialog on the workspace's connection, modal to `parent`.
// Served the same way by the object tree and the list view.
void OpenQueryDialog(CKestrelDoc& doc, QWidget* parent);
