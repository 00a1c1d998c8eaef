// Host.DAT: records of a fixed size back to back, as HostFile reads them. Every record reads;
// a record whose fields can be written again reads back as the same entry.
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "hosts/HostEntry.h"
#include "workspace/TextCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    // Short inputs are padded to one record, so the fields' own bytes get fuzzed too.
    const QByteArray padded = file.size() < HostEntry::kRecordSize
                                  ? file + QByteArray(HostEntry::kRecordSize - file.size(), '\0')
                                  : file;
    for (qsizetype at = 0; at + HostEntry::kRecordSize <= padded.size(); at += HostEntry::kRecordSize) {
        const QByteArray record = padded.mid(at, HostEntry::kRecordSize);
        const HostEntry entry = HostEntry::fromRecord(record);
        const QByteArray name = HostEntry::storedName(record);
        FUZZ_CHECK(name.size() <= HostEntry::kRecordSize && !name.contains('\0'));
        FUZZ_CHECK(entry.displayName == Cp932::decodeKept(name));
        if (const std::optional<QByteArray> again = entry.toRecord()) {
            FUZZ_CHECK(again->size() == HostEntry::kRecordSize);
            FUZZ_CHECK(HostEntry::fromRecord(*again) == entry);
            QByteArray marked = *again;
            HostEntry::markDeleted(marked);
            FUZZ_CHECK(HostEntry::storedName(marked) == "*");
        }
    }
    return 0;
}
