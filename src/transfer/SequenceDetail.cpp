#include "transfer/SequenceDetail.h"

QString SequenceDetailStatement(const ObjectName& sequence)
{
    return QStringLiteral(
               "select c.relname as sequence_name, s.last_value, p.seqincrement as increment_by, "
               "p.seqmax as max_value, p.seqmin as min_value, p.seqcache as cache_value, "
               "s.log_cnt, p.seqcycle as is_cycled, s.is_called from %1 s, pg_sequence p, "
               "pg_class c where p.seqrelid = s.tableoid and c.oid = s.tableoid")
        .arg(sequence.sql());
}

SequenceDetail LoadSequenceDetail(Connection& conn, const ObjectName& sequence)
{
    SequenceDetail d;
    const Result r = conn.exec(SequenceDetailStatement(sequence));
    if (!r.tuplesOk()) return d;
    for (size_t i = 0; i < kSequenceValueColumns.size(); ++i) {
        const int f = r.fieldNumber(kSequenceValueColumns[i]);
        if (f >= 0) d.values[i] = r.value(0, f);
    }
    return d;
}
