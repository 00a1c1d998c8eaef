#pragma once

#include <QDialog>

class QLineEdit;

// The paging bar: the page to show (1-based in its box) and the rows per page for the table
// or view whose rows the list shows. It does not talk to the server; the list view takes the
// values when it is accepted.
class CPageBarDlg : public QDialog {
    Q_OBJECT
public:
    CPageBarDlg(int pageIndex, int pageLength, QWidget* parent = nullptr);

    int pageIndex() const { return m_pageIndex; }
    int pageLength() const { return m_pageLength; }

private:
    void step(int by);
    void onOk();

    int m_pageIndex;
    int m_pageLength;
    QLineEdit* m_pageBox;
    QLineEdit* m_pageLengthBox;
};
