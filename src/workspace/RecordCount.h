#pragma once

#include <QObject>
#include <QString>
#include <optional>

#include "workspace/ObjectName.h"

class Connection;
class TableRowCounter;

// The record count boxes of the table detail, the table selection and the CSV import: the
// catalogue's estimate (reltuples) shows at once, the exact count follows from a second
// session when it answers, so no dialog waits on count(*) of a large table.

// The estimate as shown until the exact count arrives.
QString RowEstimateText(const QString& reltuples);
// What a count box shows once the exact count was refused (the reason is in the log pane).
QString CountFailedText();
// The widest text a count box is made wide enough for: the estimate of ten billion rows.
QString WidestCountText();

// The estimate of one relation, read on `conn` (a quick catalogue question); nothing when the
// catalogue has no such relation or the query failed.
std::optional<QString> ReadRowEstimate(Connection& conn, const ObjectName& table);

// The exact count ("RecordCount") on `conn` itself, for when no second session can be had;
// nothing when the query failed.
std::optional<QString> CountOnSession(Connection& conn, const QString& countStatement);
std::optional<QString> CountRows(Connection& conn, const ObjectName& table);

// What one count box shows, as a stream of texts: the estimate, then the exact count or
// CountFailedText(). Starting again or cancel() drops the count in flight, so a late answer
// about a previous table never reaches the box. The feed owns its counter and its session.
class RecordCountFeed : public QObject {
    Q_OBJECT
public:
    explicit RecordCountFeed(QObject* parent = nullptr);

    // Shows `estimateText` (unless empty: the box then keeps what it shows) and starts the exact count like `conn`. Without a second session
    // the count runs on `conn` itself and its answer is shown before this returns.
    void start(Connection& conn, const QString& estimateText, const QString& countStatement);
    void cancel();
    TableRowCounter* counter() const { return m_counter; }

signals:
    void textChanged(const QString& text);

private:
    TableRowCounter* m_counter;
};
