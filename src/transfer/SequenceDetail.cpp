#include "transfer/SequenceDetail.h"

#include "workspace/Catalogue.h"

SequenceDetail LoadSequenceDetail(Connection& conn, const ObjectName& sequence)
{
    SequenceDetail d;
    const Result r = conn.read(Catalogue::SequenceRowStatement(sequence));
    if (!r.tuplesOk()) return d;
    for (size_t i = 0; i < kSequenceValueColumns.size(); ++i) {
        const int f = r.fieldNumber(kSequenceValueColumns[i]);
        if (f >= 0) d.values[i] = r.value(0, f);
    }
    return d;
}
