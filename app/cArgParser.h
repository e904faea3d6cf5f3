#pragma once
// A small table-driven command-line parser. The caller builds a table of option entries
// (flags, integer options, text options and one positional entry), parses argv into it,
// and then looks at the counts, the values and the recorded errors.
//
// Scanning follows the usual rules: "--name=value" or "--name value" for long options (an
// unambiguous prefix of a long name is accepted), "-x value" or "-xvalue" for short ones,
// clustered flags ("-dX"), arguments that are no option anywhere in between, and "--" ends
// the options. After scanning, each entry's occurrence count is checked against its bounds
// and then its check callback runs, given or not.
//
// cArgOption, one entry of the table:
//   const cArgKind_vtable* vt;  how values of this kind are read (first member)
//   char shortName;             option letter, 0 for none
//   std::string longName;       long name without "--", empty for none; neither name set
//                               makes the entry the positional one
//   std::string placeholder;    value placeholder ("<n>"), empty for a flag
//   std::string glossary;       help text, empty for no glossary line
//   int minCount, maxCount;     bounds of the occurrence count
//   int count;                  accepted occurrences
//   std::vector<std::string> values;  the value texts in order (not for flags)
//   std::vector<int32_t> ints;        the integer values in order (integer options only)
//   cArgOption_checkFn checkFn; runs once after scanning; nonzero is an error code
//   cArgOption_errorFn errorFn; writes the text of the codes checkFn returns
//   void* user;                 handed to both callbacks
//
// cArgTable, the entries in order plus the errors of the last parse:
//   std::vector<std::unique_ptr<cArgOption>> entries;
//   std::vector<cArgErrorRecord> errors;  at most cArgTable_MAX_ERRORS; when more arrive the
//                                         last one becomes cArg_ERR_TOO_MANY
//   int argCount;                         arguments parsed (argc - 1)

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Error codes recorded by the parser itself (check callbacks use their own codes).
enum cArgError : int {
    cArg_OK = 0,
    cArg_ERR_MISSING = 1,        // fewer occurrences than required
    cArg_ERR_EXCESS = 2,         // more occurrences than allowed
    cArg_ERR_BADINT = 3,         // integer value that is no number
    cArg_ERR_OVERFLOW = 4,       // integer value outside the signed 32-bit range
    cArg_ERR_UNKNOWN_LONG = 5,   // no such long option (or ambiguous, or a flag given "=x")
    cArg_ERR_UNKNOWN_SHORT = 6,  // no such option letter
    cArg_ERR_MISSING_VALUE = 7,  // option that takes a value given without one
    cArg_ERR_UNEXPECTED_ARG = 8, // argument that is no option and no positional entry
    cArg_ERR_TOO_MANY = 9,       // more errors than the table records
    cArg_ERR_NOMEM = 10,         // out of memory
    cArg_ERR_CHECK = 11,         // a check callback failed; see cArgErrorRecord::code
};

constexpr size_t cArgTable_MAX_ERRORS = 20;

struct cArgOption;

typedef int (*cArgOption_checkFn)(cArgOption* option, void* user);
typedef void (*cArgOption_errorFn)(cArgOption* option, void* user, std::string* errorText, int code,
                                   const char* value, const char* programName);

struct cArgKind_vtable {
    bool takesValue;
    // Reads one value; returns cArg_OK or a cArgError and stores nothing on error.
    int (*scan)(cArgOption* option, const char* value);
};

extern const cArgKind_vtable cArgKind_literal; // flag without value
extern const cArgKind_vtable cArgKind_int;     // signed 32-bit integer with prefixes/suffixes
extern const cArgKind_vtable cArgKind_text;    // any text (file names, words)

struct cArgOption {
    const cArgKind_vtable* vt;
    char shortName;
    std::string longName;
    std::string placeholder;
    std::string glossary;
    int minCount;
    int maxCount;
    int count;
    std::vector<std::string> values;
    std::vector<int32_t> ints;
    cArgOption_checkFn checkFn;
    cArgOption_errorFn errorFn;
    void* user;
};

// One recorded error: the entry it concerns (null for errors of no entry), the parser's
// code, the check callback's own code for cArg_ERR_CHECK, and the offending text.
struct cArgErrorRecord {
    cArgOption* option;
    int error;
    int code;
    std::string value;
};

struct cArgTable {
    std::vector<std::unique_ptr<cArgOption>> entries;
    std::vector<cArgErrorRecord> errors;
    int argCount;
};

// New entry, or null when memory runs out. Names and texts are copied.
cArgOption* cArgOption_ctor(const cArgKind_vtable* kind, char shortName, const char* longName,
                            const char* placeholder, const char* glossary, int minCount,
                            int maxCount);
void cArgOption_dtor(cArgOption* option);

// Appends an entry and takes ownership; false (and the entry freed) when the list cannot
// grow or the entry is null.
bool cArgTable_add(cArgTable* table, cArgOption* option);

// Scans argv[1..argc-1], then checks counts and runs the check callbacks. Resets counts,
// values and errors first. False when any error was recorded.
bool cArgTable_parse(cArgTable* table, int argc, const char* const* argv);

// "-b|--buffer": the option's names, joined by joiner ("|" when null).
std::string cArgOption_name(const cArgOption* option, const char* joiner);
// "-b|--buffer=<n>"; joiner "|" for syntax lines, ", " for the glossary. A non-null value
// replaces the placeholder.
std::string cArgOption_syntax(const cArgOption* option, const char* joiner, const char* value);

// The syntax line after "Usage: name" (starting with a blank per entry), no line feed.
std::string cArgTable_syntaxLine(const cArgTable* table);
// One "  %-40s %s\n" line per entry with a glossary text.
std::string cArgTable_glossary(const cArgTable* table);
// Appends one line per recorded error, each prefixed with "programName: ".
void cArgTable_errorText(const cArgTable* table, const char* programName, std::string* out);

// Reads an integer the way integer options do: optional sign, decimal or 0x/0o/0b prefix
// (either case), optional KB/MB/GB suffix (any case, powers of 1024), signed 32-bit range.
// Returns cArg_OK, cArg_ERR_BADINT or cArg_ERR_OVERFLOW.
int cArg_parseInt(const char* text, int32_t* out);

// The default texts of the parser's own codes, appended without prefix or line feed.
void cArgOption_defaultErrorText(const cArgOption* option, int error, const char* value,
                                 std::string* out);
