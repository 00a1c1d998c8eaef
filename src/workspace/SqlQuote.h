#pragma once

#include <QString>

// Identifiers go into statements as the server's quote_ident would write them: bare when the
// name is a plain lower-case identifier that is not a keyword, double-quoted otherwise.
// An exact name (from the server: tree captions, listings, catalogue rows) is quoted as it is.
QString QuoteIdent(const QString& exactName);

// A name the operator typed, or one read from a file. The server folds an unquoted identifier
// to lower case; fold it the same way when it has the shape of one, keep it as typed otherwise.
// The folded name is the one to show and to compare with catalogue rows afterwards.
QString FoldTypedName(const QString& typedName);

// True for a keyword that quote_ident would quote (any keyword but an unreserved one).
bool IsQuotedKeyword(const QString& lowerCaseWord);
