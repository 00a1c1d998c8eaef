#include "workspace/Statements.h"

CommandOutcome ExecCommand(Connection& conn, const QString& statement)
{
    CommandOutcome out;
    out.result = conn.exec(statement);
    out.ok = out.result.commandOk();
    return out;
}
