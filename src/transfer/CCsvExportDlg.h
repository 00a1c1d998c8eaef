#pragma once

#include <QDialog>
#include <functional>

#include "transfer/CsvExport.h"
#include "transfer/CsvSample.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

// "CSV形式ファイルの出力": writes the rows of one table (table mode) or of one statement (SQL
// mode) to a delimited file, with a sample of the output built on every change of a setting:
// the sample's rows are read once, at the first refresh, and every later change renders the
// rows held (the source never changes while the dialog lives).
// Built for one modal run on a connection its opener owns. An export streams from the event
// loop (the job reads rows as the socket delivers them), so the dialog keeps painting and shows
// the count of rows written; while it runs every control but "ｷｬﾝｾﾙ" is disabled, and "ｷｬﾝｾﾙ" or
// closing stops it (the file is removed).
class CCsvExportDlg : public QDialog {
    Q_OBJECT
public:
    // Table mode: the rows of `table`, addressed in the schema it was listed in.
    CCsvExportDlg(Connection& conn, const ObjectName& table, QWidget* parent = nullptr);
    // SQL mode: the rows of the statement, which an export runs once as it stands.
    CCsvExportDlg(Connection& conn, const QString& sqlText, QWidget* parent = nullptr);
    ~CCsvExportDlg() override;

    // Opens a file with the application the desktop associates with it; true on success.
    using DocumentOpener = std::function<bool(const QString& fileName)>;
    // Replaces the desktop's opener (nullptr restores it), for runs without a desktop.
    static void setDocumentOpener(DocumentOpener opener);

    bool exporting() const;
    void reject() override;

signals:
    // An export ended: ok when the file is complete ("出力完了").
    void exportFinished(bool ok);

private:
    CCsvExportDlg(Connection& conn, ExportSource source, QWidget* parent);
    CsvSettings settings() const;
    void refreshSample();
    void browse();
    void startExport();
    void exportEnded(bool ok);
    void launch();
    void setControlsEnabled(bool enabled);

    Connection& m_conn;
    ExportSource m_source;
    std::optional<CsvSampleRows> m_sampleRows;  // read at the first refresh
    CsvExportJob m_job;
    QLineEdit* m_tableName;
    QLineEdit* m_fileName;
    QRadioButton* m_delimiterDefault;
    QComboBox* m_delimiterList;
    QRadioButton* m_delimiterUser;
    QLineEdit* m_delimiterText;
    QRadioButton* m_quoteDefault;
    QComboBox* m_quoteList;
    QRadioButton* m_quoteUser;
    QLineEdit* m_quoteText;
    QCheckBox* m_header;
    QPlainTextEdit* m_sample;
    QPushButton* m_output;
    QPushButton* m_cancel;
    QPushButton* m_launch;
    QPushButton* m_browse;
    bool m_launchable = false;
};
