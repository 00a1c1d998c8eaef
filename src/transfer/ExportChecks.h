#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "transfer/Cp932Stream.h"
#include "transfer/CsvLine.h"
#include "workspace/Connection.h"

// What the sample and the export job both ask before and while they write (the refusal and
// the CP932 message of CsvExport.h are defined with them): the server's text
// for a failure, whether a statement is a query, and the CP932 checks with their messages.

// The server's text for a failed statement (or the connection's when there is no result),
// without its closing line feeds.
QString ServerFailureText(const Result& r, const Connection& conn);
QString WithoutClosingLineFeeds(QString text);

// Whether the statement is a query a cursor can be declared for (and COPY can copy).
bool IsCursorQuery(const QString& sql);

// A delimiter or quote text CP932 cannot hold: the message, or nothing.
std::optional<QString> UnencodableSetting(const CsvSettings& settings);

// Why a line of a result could not be converted: the first of its fields (the field names when
// row is -1) CP932 cannot hold, named with the record's number (0 for the line of field names).
QString UnencodableResultLine(Cp932Stream& cp932, const Result& r, int row, qint64 number);
// The same for a line held apart from its result: its values' bytes, or none for the line of
// field names.
QString UnencodableLine(Cp932Stream& cp932, const QStringList& names,
                        const std::vector<QByteArray>& values, qint64 number);
