#include "hosts/HostFile.h"

#include <QFile>
#include <functional>

#include "hosts/FolderFile.h"
#include "workspace/TextCodec.h"

namespace HostFile {

namespace {

// Reads whole records from the current position; the index of the first one named `name`.
std::optional<qint64> locate(QFile& file, const QByteArray& name, QByteArray* record)
{
    for (qint64 index = 0;; ++index) {
        QByteArray r = file.read(HostEntry::kRecordSize);
        // A trailing piece shorter than a record is not a record.
        if (r.size() < HostEntry::kRecordSize) return std::nullopt;
        if (HostEntry::storedName(r) == name) {
            if (record) *record = r;
            return index;
        }
    }
}

// Opens the existing file for an in-place change and finds the record named `name`.
Outcome rewriteRecord(const QString& name, const std::function<void(QByteArray&)>& change)
{
    const std::optional<QByteArray> key = Cp932::encode(name);
    if (!key) return Outcome::NoRecord;
    QFile file(kFileName);
    if (!file.exists()) return Outcome::NoRecord;
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) return Outcome::Failed;
    QByteArray record;
    const std::optional<qint64> index = locate(file, *key, &record);
    if (!index) return Outcome::NoRecord;
    change(record);
    if (!file.seek(*index * HostEntry::kRecordSize)) return Outcome::Failed;
    if (file.write(record) != HostEntry::kRecordSize || !file.flush()) return Outcome::Failed;
    return Outcome::Written;
}

}  // namespace

std::optional<HostEntry> find(const QString& displayName)
{
    const std::optional<QByteArray> key = Cp932::encode(displayName);
    if (!key) return std::nullopt;
    QFile file(kFileName);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray record;
    if (!locate(file, *key, &record)) return std::nullopt;
    return HostEntry::fromRecord(record);
}

Outcome append(const HostEntry& entry)
{
    const std::optional<QByteArray> record = entry.toRecord();
    if (!record) return Outcome::Failed;
    QFile file(kFileName);
    if (!file.open(QIODevice::ReadWrite, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return Outcome::Failed;
    // After the last whole record: a trailing piece left by an interrupted write is covered,
    // so the new record is read back at a record boundary.
    const qint64 end = file.size() - file.size() % HostEntry::kRecordSize;
    if (!file.seek(end)) return Outcome::Failed;
    if (file.write(*record) != HostEntry::kRecordSize || !file.flush()) return Outcome::Failed;
    return Outcome::Written;
}

Outcome replace(const QString& previousName, const HostEntry& entry)
{
    const std::optional<QByteArray> fresh = entry.toRecord();
    if (!fresh) return Outcome::Failed;
    return rewriteRecord(previousName, [&](QByteArray& record) { record = *fresh; });
}

Outcome erase(const QString& displayName)
{
    return rewriteRecord(displayName, [](QByteArray& record) { HostEntry::markDeleted(record); });
}

std::optional<QString> entryProblem(const HostEntry& entry)
{
    const QString field = QStringLiteral("表示名");
    if (auto problem = FolderFile::nameProblem(field, entry.displayName)) return problem;
    // Deleted records carry this name; a host so named would find them.
    if (entry.displayName == QLatin1String("*"))
        return QStringLiteral("「%1」に「*」だけの名前は使えません。").arg(field);
    return entry.fitProblem();
}

Outcome store(const QString& previousName, const HostEntry& entry)
{
    if (!previousName.isEmpty()) {
        const Outcome replaced = replace(previousName, entry);
        if (replaced != Outcome::NoRecord) return replaced;
    }
    return append(entry);
}

}  // namespace HostFile

QString CannotWriteMessage(const QString& fileName)
{
    return QStringLiteral("%1 に書き込めませんでした。").arg(fileName);
}
