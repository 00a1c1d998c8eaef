#pragma once

#include <QString>
#include <QStringList>

class Connection;

// One row of the built-in type catalogue: the texts the field settings dialog shows for a
// type. They are display texts only and never reach the server.
struct TypeCatalogueEntry {
    const char16_t* name;
    const char16_t* alias;        // nullptr for a row without a second name
    const char16_t* storageSize;  // the "サイズ" text
    const char16_t* description;  // may hold line breaks and trailing blanks
    const char16_t* category;
};

// The catalogue in lookup order; constant for the life of the program.
inline constexpr int kTypeCatalogueSize = 31;
extern const TypeCatalogueEntry TypeCatalogue[kTypeCatalogueSize];

// The row whose name or alias equals `typeName` exactly (case-sensitive); nullptr when none
// does, the empty name included.
const TypeCatalogueEntry* FindTypeEntry(const QString& typeName);

// The server's base types for the type list, array types (names beginning with "_") left out.
// A failed query gives an empty list, silently.
QStringList LoadBaseTypeNames(Connection& conn);

// Whether the length box applies to the type: the server knows an array type of that name.
// Any failure answers false.
bool TypeTakesLength(Connection& conn, const QString& typeName);
