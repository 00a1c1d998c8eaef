#include "transfer/ExportFile.h"

#include <QFile>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

ExportFile::~ExportFile()
{
    // First, so that the writeback calls nothing back any more.
    m_writeback.reset();
}

bool ExportFile::open(const QString& fileName)
{
    discard();
    m_file.setFileName(fileName);
    m_size = 0;
    m_error.clear();
    // Unbuffered: what write() took is with the kernel, for the writeback to follow.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    m_writeback = std::make_unique<FileWriteback>(m_file.handle());
    return true;
}

bool ExportFile::write(const char* data, qsizetype size)
{
    if (m_file.write(data, size) != size) {
        m_error = m_file.errorString();
        return false;
    }
    m_size += size;
    m_writeback->written(m_size);
    return true;
}

void ExportFile::discard()
{
    m_writeback.reset();
    m_committing = false;
    if (!m_file.isOpen()) return;
    m_file.cancelWriting();
    m_file.commit();  // with the writing cancelled: only removes the temporary file
}

void ExportFile::commit()
{
    m_committing = true;
    const quint64 number = ++m_commits;
    m_writeback->finish([this, number](int error) {
        QMetaObject::invokeMethod(
            this, [this, number, error] { replaceTarget(number, error); }, Qt::QueuedConnection);
    });
}

void ExportFile::replaceTarget(quint64 commitNumber, int writeError)
{
    if (!m_committing || commitNumber != m_commits) return;  // discarded meanwhile
    m_committing = false;
    m_writeback.reset();
    if (writeError) {
        m_error = qt_error_string(writeError);
        discard();
        emit committed(false);
        return;
    }
    // The file replaced is held open across the rename and let go of on a thread of its own:
    // freeing the blocks of a large file takes a while, which the window need not wait for.
    const int replaced = ::open(QFile::encodeName(m_file.fileName()).constData(), O_RDONLY | O_CLOEXEC);
    const bool ok = m_file.commit();  // its own sync finds nothing left to write
    if (!ok) m_error = m_file.errorString();
    if (replaced >= 0) std::thread([replaced] { ::close(replaced); }).detach();
    emit committed(ok);
}
