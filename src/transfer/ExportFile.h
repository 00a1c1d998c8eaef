#pragma once

#include <QObject>
#include <QSaveFile>
#include <QString>
#include <memory>

#include "transfer/FileWriteback.h"

// The file an export writes. The bytes go to a temporary file beside the target, put on disk
// while they are written, and the temporary file takes the target's place only at commit(),
// once every byte of it is on disk: a failure or a stop leaves an existing target as it was,
// and no partial file.
// Owns: the temporary file and its writeback. Neither write() nor commit() waits for the disk:
// commit() ends in committed(), from the event loop of the thread that owns the object.
class ExportFile : public QObject {
    Q_OBJECT
public:
    explicit ExportFile(QObject* parent = nullptr) : QObject(parent) {}
    ~ExportFile() override;

    // Creates the temporary file for the target `fileName` (a file of that name is left as it
    // is); false when it cannot (errorString()).
    bool open(const QString& fileName);
    bool write(const char* data, qsizetype size);
    // The temporary file goes (also while committing); the target stays as it was.
    void discard();
    // Once every byte is on disk, the temporary file takes the target's place; committed(ok)
    // follows (false: errorString() says why, and the target is as it was).
    void commit();

    bool committing() const { return m_committing; }
    QString fileName() const { return m_file.fileName(); }
    const QString& errorString() const { return m_error; }

signals:
    void committed(bool ok);

private:
    void replaceTarget(quint64 commitNumber, int writeError);

    QSaveFile m_file;
    std::unique_ptr<FileWriteback> m_writeback;
    qint64 m_size = 0;
    bool m_committing = false;
    quint64 m_commits = 0;  // tells an answer of a commit discarded since from the current one
    QString m_error;
};
