#include "support/TestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

QByteArray readFile(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    EXPECT_EQ(f.write(bytes), bytes.size()) << path.toStdString();
}

WorkingDirectory::WorkingDirectory(const QString& path) : m_saved(QDir::currentPath())
{
    if (!path.isEmpty()) EXPECT_TRUE(QDir::setCurrent(path)) << path.toStdString();
}

WorkingDirectory::~WorkingDirectory() { QDir::setCurrent(m_saved); }
