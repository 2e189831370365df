// catalogue.h - the worksheet functions as one static table, and the registration list built from it.
// The table is a run of blocks: a header record (return type letter, name, help), one record per
// argument (type letter, argument name, help), then an empty record; an empty header ends it.
#pragma once

#include <cstdint>

struct CatalogueRecord {
    char type;         // type letter; 0 closes a block, or the table when it heads one
    const char* name;
    const char* help;
};

// The add-in's title as a counted string: the category of every function and the manager's name.
extern const char AddInTitle[];

extern const CatalogueRecord FunctionCatalogue[];

// The host takes type texts of at most 31 letters: a return letter and 30 arguments.
constexpr int32_t MaxArguments = 30;
// The host takes counted strings: at most 255 characters.
constexpr int32_t MaxTextLength = 255;

// Kept by xlAutoOpen for the module's life and replaced by the next open. Per function: name, type
// text, argument text, help, each argument's help, then nullptr; a second nullptr ends the list.
extern char** RegistrationList;

// A new list built from FunctionCatalogue, or nullptr (no storage, too many arguments, a text too long).
char** BuildRegistrationList();
// Releases a list built by BuildRegistrationList; nullptr is accepted.
void ReleaseRegistrationList(char** list);
