#pragma once

#include <QString>
#include <optional>

#include "hosts/HostEntry.h"

// Host.DAT: the saved connections, opened by bare name in the working directory (the start
// directory at every login). Each operation opens the file, does its work and closes it.
// Lookups compare display names byte for byte in CP932 and take the first record in file order.
namespace HostFile {

inline const QString kFileName = QStringLiteral("Host.DAT");

enum class Outcome {
    Written,
    NoRecord,  // nothing under that name (or no file): nothing was written
    Failed,    // the file could not be opened or written, or the entry does not fit its record
};

std::optional<HostEntry> find(const QString& displayName);

// Adds a record at the end, creating the file (owner read/write only: it holds passwords).
Outcome append(const HostEntry& entry);

// Overwrites in place the first record named previousName; the entry may carry a new name.
Outcome replace(const QString& previousName, const HostEntry& entry);

// Turns the first record with that name into a deletion mark. The file never shrinks.
Outcome erase(const QString& displayName);

// Why the host dialog's entry cannot be stored: a display name the folder file cannot carry
// or that is the deletion mark "*", or a value too long for its field; nothing when it can.
std::optional<QString> entryProblem(const HostEntry& entry);

// The host dialog's write: a new host (empty previousName) is appended; an edited one replaces
// the record under its previous name, or is appended when that record is gone, so what the
// operator confirmed is never dropped.
Outcome store(const QString& previousName, const HostEntry& entry);

}  // namespace HostFile

// What the operator is told when one of the host directory files could not be written.
QString CannotWriteMessage(const QString& fileName);
