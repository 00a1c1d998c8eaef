#pragma once

// What every benchmark does first: log in as the PG* environment variables say (the server the
// README's commands start, by default), and run its set-up statements, saying which one failed.

#include <QString>
#include <QtGlobal>
#include <cstdio>

#include "workspace/Connection.h"

inline LoginParameters BenchLogin()
{
    LoginParameters p;
    p.hostName = qEnvironmentVariable("PGHOST", QStringLiteral("127.0.0.1"));
    p.port = qEnvironmentVariable("PGPORT", QStringLiteral("5432"));
    p.userName = qEnvironmentVariable("PGUSER", QStringLiteral("postgres"));
    p.databaseName = qEnvironmentVariable("PGDATABASE", QStringLiteral("postgres"));
    return p;
}

// true when the statement succeeded; otherwise its text and the server's go to stderr.
inline bool BenchRun(Connection& conn, const QString& sql)
{
    const Result r = conn.exec(sql);
    if (r.commandOk() || r.tuplesOk()) return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(r.errorMessage()));
    return false;
}
