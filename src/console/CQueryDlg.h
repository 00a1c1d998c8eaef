#pragma once

#include <QDialog>

#include "console/QueryConsole.h"

class QLineEdit;
class QPushButton;
class CKestrelDoc;
class LargeResultList;

// "クエリー発行（簡易版）": one statement typed and run as it stands on the workspace's
// connection, its rows or the server's answer shown, and the history recalled with Up and
// Down from anywhere in the dialog. Built for one modal run; the history file is rewritten
// when the run ends.
class CQueryDlg : public QDialog {
    Q_OBJECT
public:
    explicit CQueryDlg(CKestrelDoc& doc, QWidget* parent = nullptr);
    ~CQueryDlg() override;

    const QueryConsole& console() const { return m_console; }
    QueryConsole& console() { return m_console; }

    // The display half of "実行": the response field shows the answer (the list shows the
    // console's rows from the moment they arrive).
    void showAnswer(const ConsoleAnswer& answer);

    void done(int result) override;

signals:
    // "CSV出力" with a statement in the query field. The statement is neither run nor
    // recorded here.
    void csvExportRequested(const QString& sql);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void execute();
    void requestCsvExport();
    void saveHistory();

    QueryConsole m_console;
    QLineEdit* m_query;
    QLineEdit* m_response;
    LargeResultList* m_list;
    bool m_saved = false;
};
