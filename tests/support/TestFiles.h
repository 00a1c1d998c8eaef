#pragma once

#include <QByteArray>
#include <QString>

// Files of a test. readFile: the bytes of a file the test expects (it fails when the file
// cannot be read); fileBytes: the bytes of one that may be missing (empty then); writeFile:
// puts the bytes in place of whatever was there (the test fails when it cannot).
QByteArray readFile(const QString& path);
QByteArray fileBytes(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

// The process works in `path` while this lives (in the folder it was in, when none is given)
// and returns to the folder it was in before.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const QString& path = {});
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    QString m_saved;
};
