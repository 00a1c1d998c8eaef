#pragma once

#include <QString>
#include <array>

#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

// The six values of the sequence detail, in the order of its boxes, by result column name.
inline const std::array<const char*, 6> kSequenceValueColumns = {
    "last_value", "increment_by", "max_value", "min_value", "cache_value", "log_cnt"};

struct SequenceDetail {
    // As the server returned the texts; empty where the column or row is missing.
    std::array<QString, 6> values;
};

// The sequence's row (Catalogue::SequenceRowStatement, as the sequences listing reads it). A failed query (not a sequence, no such name) gives six empty values.
SequenceDetail LoadSequenceDetail(Connection& conn, const ObjectName& sequence);
