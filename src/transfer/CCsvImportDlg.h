#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <vector>

#include "transfer/CsvImport.h"
#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTimer;
class RecordCountFeed;
class TableRowCounter;

// "CSVのインポート": settings, preview and field settings of a CSV import, and the run, whose
// worker alone uses the connection while it lives (every control that could reach the
// connection is disabled meanwhile, "中断" excepted).
class CCsvImportDlg : public QDialog {
    Q_OBJECT
public:
    CCsvImportDlg(Connection& conn, QWidget* parent = nullptr);
    ~CCsvImportDlg() override;

    // The table "参照": gives the chosen name, which replaces "テーブル名". The second form
    // also keeps the chosen table's schema, so a table outside the search path is addressed
    // exactly (for as long as the box shows its caption).
    void setTableChooser(std::function<std::optional<QString>()> chooser);
    void setTableObjectChooser(std::function<std::optional<ObjectName>()> chooser);

    // A file chosen through "参照": the path goes into "ファイル名", then detection, preview
    // and field settings.
    void chooseFile(const QString& path);

    QString delimiter() const;
    QString quote() const;
    // The table the name in "テーブル名" reaches.
    ObjectName targetTable() const;
    bool runActive() const { return m_job.running() || m_inRun; }
    // Typing in "テーブル名" waits for a rest before the table check; until then it is pending.
    bool tableCheckPending() const;
    // The exact count "現在のレコード数" shows when it answers (for tests).
    TableRowCounter* rowCounter() const;

    void reject() override;

signals:
    // A run ended (COMMIT or ROLLBACK sent, controls enabled again).
    void runFinished(bool committed);

private:
    void detectFormat(const QString& fileName);
    void fillPreview(const QString& fileName);
    void fillFieldSettings();
    void setFieldRows(const std::vector<QStringList>& rows, bool exact);
    void loadColumns();
    void tableNameChanged();
    void settleTableCheck();
    void checkTable();
    void followCount(const ObjectName& table);
    void browseFile();
    void browseTable();
    void startRun();
    void finishRun(const ImportOutcome& outcome);
    void showCounters();
    void setRunning(bool running);

    Connection& m_conn;
    QLineEdit* m_fileName;
    QLineEdit* m_executed;
    QLineEdit* m_errors;
    QRadioButton* m_delimiterDefault;
    QComboBox* m_delimiterList;
    QRadioButton* m_delimiterUser;
    QLineEdit* m_delimiterBox;
    QRadioButton* m_quoteDefault;
    QComboBox* m_quoteList;
    QRadioButton* m_quoteUser;
    QLineEdit* m_quoteBox;
    QLineEdit* m_tableName;
    QLineEdit* m_recordCount;
    QCheckBox* m_create;
    QCheckBox* m_delete;
    QCheckBox* m_stopOnError;
    QCheckBox* m_header;
    QTableWidget* m_fieldList;
    QTableWidget* m_preview;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QPushButton* m_stop;
    QPushButton* m_autoSet;
    std::vector<QWidget*> m_runDisabled;
    QTimer* m_checkTimer;
    RecordCountFeed* m_counts;

    bool m_fieldNamesExact = false;
    std::optional<ObjectName> m_chosenTable;
    std::function<std::optional<QString>()> m_chooser;
    std::function<std::optional<ObjectName>()> m_objectChooser;
    ImportJob m_job;
    bool m_inRun = false;
};
