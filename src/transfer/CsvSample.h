#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "transfer/CsvExport.h"

// What the export's sample is made of, read once from the server and rendered again for every
// change of a setting without asking the server anew: at most ten rows, each value's bytes as
// the server sent them, with the field names; or, instead, the one text the sample shows
// whatever the settings (the server's failure; empty for a statement that returns no rows).
struct CsvSampleRows {
    std::optional<QString> shown = QString();
    QStringList fieldNames;
    std::vector<std::vector<QByteArray>> rows;
};

// Reads the sample's rows with the statements BuildCsvSample sends.
CsvSampleRows ReadCsvSample(Connection& conn, const ExportSource& source);
// The sample text of held rows: the lines as the file would hold them (CR LF line ends), CP932
// checked. The settings' own CP932 check is the caller's (BuildCsvSample makes it first).
QString RenderCsvSample(const CsvSampleRows& sample, const CsvSettings& settings);
