#pragma once

#include "workspace/Connection.h"

// What becomes of a session whose answer an export no longer wants, once its statement was
// cancelled: the rest read and thrown away, or the session given up.

// Reads the rest of the session's answer (results and COPY rows) and throws it away, waiting
// for the socket at most waitMs in all: true once the session is idle. Only for a job that
// ends without its event loop (its window is going).
bool DiscardAnswer(Connection& conn, int waitMs);

// Takes the answer of a statement sent on the session and throws it away, the event loop
// turning meanwhile, for at most waitMs: true once the session is idle.
bool AwaitAnswerTurning(Connection& conn, int waitMs);

// Gives up a session whose server does not answer: its link is cut here at once, without a
// word to the server, and libpq reports the session lost from then on, as when the server
// ends it. Nothing more is read from it and no statement is sent on it by mistake.
void GiveUpSession(Connection& conn);
