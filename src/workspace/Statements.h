#pragma once

#include <QString>

#include "workspace/Connection.h"

struct CommandOutcome {
    Result result;
    bool ok = false;
};

// Sends one statement and applies the command test.
CommandOutcome ExecCommand(Connection& conn, const QString& statement);
