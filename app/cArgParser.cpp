#include "app/cArgParser.h"

#include <cstring>
#include <new>

namespace {

int scanLiteral(cArgOption*, const char*) {
    return cArg_OK;
}

int scanInt(cArgOption* option, const char* value) {
    int32_t number = 0;
    int rc = cArg_parseInt(value, &number);
    if (rc != cArg_OK) return rc;
    option->values.emplace_back(value);
    option->ints.push_back(number);
    return cArg_OK;
}

int scanText(cArgOption* option, const char* value) {
    option->values.emplace_back(value ? value : "");
    return cArg_OK;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

bool equalsNoCase(const char* text, const char* word) {
    for (; *word; ++text, ++word) {
        char c = *text;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != *word) return false;
    }
    return *text == 0;
}

void recordError(cArgTable* table, cArgOption* option, int error, int code, const char* value) {
    if (table->errors.size() >= cArgTable_MAX_ERRORS) {
        // Keep the first ones and say that there were more.
        table->errors.back() = cArgErrorRecord{nullptr, cArg_ERR_TOO_MANY, 0, std::string()};
        return;
    }
    table->errors.push_back(cArgErrorRecord{option, error, code, value ? value : ""});
}

// One occurrence of an entry with its value (null for a flag).
void takeOccurrence(cArgTable* table, cArgOption* option, const char* value) {
    if (option->count >= option->maxCount) {
        recordError(table, option, cArg_ERR_EXCESS, 0, value);
        return;
    }
    int rc = option->vt->scan(option, value);
    if (rc != cArg_OK) {
        recordError(table, option, rc, 0, value);
        return;
    }
    ++option->count;
}

cArgOption* findLong(cArgTable* table, std::string_view name) {
    cArgOption* prefixMatch = nullptr;
    int prefixMatches = 0;
    for (auto& entry : table->entries) {
        const std::string& longName = entry->longName;
        if (longName.empty()) continue;
        if (longName == name) return entry.get();
        if (!name.empty() && longName.compare(0, name.size(), name) == 0) {
            prefixMatch = entry.get();
            ++prefixMatches;
        }
    }
    return prefixMatches == 1 ? prefixMatch : nullptr;
}

cArgOption* findShort(cArgTable* table, char letter) {
    for (auto& entry : table->entries)
        if (entry->shortName != 0 && entry->shortName == letter) return entry.get();
    return nullptr;
}

cArgOption* findPositional(cArgTable* table) {
    for (auto& entry : table->entries)
        if (entry->shortName == 0 && entry->longName.empty()) return entry.get();
    return nullptr;
}

void scanLong(cArgTable* table, int argc, const char* const* argv, int* index) {
    const char* arg = argv[*index];
    const char* body = arg + 2;
    const char* equals = std::strchr(body, '=');
    std::string_view name(body, equals ? static_cast<size_t>(equals - body) : std::strlen(body));
    cArgOption* option = findLong(table, name);
    if (!option || (equals && !option->vt->takesValue)) {
        recordError(table, nullptr, cArg_ERR_UNKNOWN_LONG, 0, arg);
        return;
    }
    if (!option->vt->takesValue) {
        takeOccurrence(table, option, nullptr);
        return;
    }
    if (equals) {
        takeOccurrence(table, option, equals + 1);
    } else if (*index + 1 < argc && argv[*index + 1]) {
        ++*index;
        takeOccurrence(table, option, argv[*index]);
    } else {
        recordError(table, option, cArg_ERR_MISSING_VALUE, 0, arg);
    }
}

void scanShortCluster(cArgTable* table, int argc, const char* const* argv, int* index) {
    const char* arg = argv[*index];
    for (size_t j = 1; arg[j] != 0; ++j) {
        char letter = arg[j];
        cArgOption* option = findShort(table, letter);
        if (!option) {
            char text[2] = {letter, 0};
            recordError(table, nullptr, cArg_ERR_UNKNOWN_SHORT, 0, text);
            continue;
        }
        if (!option->vt->takesValue) {
            takeOccurrence(table, option, nullptr);
            continue;
        }
        // The rest of the argument is the value, or else the next argument is.
        if (arg[j + 1] != 0) {
            takeOccurrence(table, option, arg + j + 1);
        } else if (*index + 1 < argc && argv[*index + 1]) {
            ++*index;
            takeOccurrence(table, option, argv[*index]);
        } else {
            char text[3] = {'-', letter, 0};
            recordError(table, option, cArg_ERR_MISSING_VALUE, 0, text);
        }
        return;
    }
}

void parseArguments(cArgTable* table, int argc, const char* const* argv) {
    for (auto& entry : table->entries) {
        entry->count = 0;
        entry->values.clear();
        entry->ints.clear();
    }
    table->errors.clear();
    table->argCount = argc > 1 ? argc - 1 : 0;

    cArgOption* positional = findPositional(table);
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!arg) continue;
        if (!optionsEnded && std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded && arg[0] == '-' && arg[1] == '-') {
            scanLong(table, argc, argv, &i);
        } else if (!optionsEnded && arg[0] == '-' && arg[1] != 0) {
            scanShortCluster(table, argc, argv, &i);
        } else if (positional) {
            takeOccurrence(table, positional, arg);
        } else {
            recordError(table, nullptr, cArg_ERR_UNEXPECTED_ARG, 0, arg);
        }
    }

    for (auto& entry : table->entries) {
        cArgOption* option = entry.get();
        if (option->count < option->minCount)
            recordError(table, option, cArg_ERR_MISSING, 0, nullptr);
        if (option->checkFn) {
            int code = option->checkFn(option, option->user);
            if (code != 0) recordError(table, option, cArg_ERR_CHECK, code, nullptr);
        }
    }
}

} // namespace

const cArgKind_vtable cArgKind_literal = {false, scanLiteral};
const cArgKind_vtable cArgKind_int = {true, scanInt};
const cArgKind_vtable cArgKind_text = {true, scanText};

cArgOption* cArgOption_ctor(const cArgKind_vtable* kind, char shortName, const char* longName,
                            const char* placeholder, const char* glossary, int minCount,
                            int maxCount) {
    if (!kind) return nullptr;
    cArgOption* option = new (std::nothrow) cArgOption{};
    if (!option) return nullptr;
    try {
        option->vt = kind;
        option->shortName = shortName;
        option->longName = longName ? longName : "";
        option->placeholder = placeholder ? placeholder : "";
        option->glossary = glossary ? glossary : "";
        option->minCount = minCount;
        option->maxCount = maxCount;
    } catch (const std::bad_alloc&) {
        delete option;
        return nullptr;
    }
    return option;
}

void cArgOption_dtor(cArgOption* option) {
    delete option;
}

bool cArgTable_add(cArgTable* table, cArgOption* option) {
    if (!table || !option) {
        cArgOption_dtor(option);
        return false;
    }
    try {
        table->entries.emplace_back(option);
    } catch (const std::bad_alloc&) {
        cArgOption_dtor(option);
        return false;
    }
    return true;
}

bool cArgTable_parse(cArgTable* table, int argc, const char* const* argv) {
    if (!table) return false;
    try {
        parseArguments(table, argc, argv);
    } catch (const std::bad_alloc&) {
        try {
            recordError(table, nullptr, cArg_ERR_NOMEM, 0, nullptr);
        } catch (const std::bad_alloc&) {
            // Nothing more can be said; the parse still fails.
        }
        return false;
    }
    return table->errors.empty();
}

int cArg_parseInt(const char* text, int32_t* out) {
    if (!text || !out) return cArg_ERR_BADINT;
    const char* p = text;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int base = 10;
    if (p[0] == '0' && p[1] != 0) {
        switch (p[1]) {
        case 'x':
        case 'X':
            base = 16;
            break;
        case 'o':
        case 'O':
            base = 8;
            break;
        case 'b':
        case 'B':
            base = 2;
            break;
        default:
            break;
        }
        if (base != 10) p += 2;
    }
    // Accumulate with a ceiling well above the 32-bit range so no wrap-around can hide
    // an overflow.
    const uint64_t ceiling = uint64_t(1) << 40;
    uint64_t magnitude = 0;
    bool tooLarge = false;
    const char* digits = p;
    for (; digitValue(*p) < base; ++p) {
        magnitude = magnitude * base + digitValue(*p);
        if (magnitude > ceiling) {
            tooLarge = true;
            magnitude = ceiling;
        }
    }
    if (p == digits) return cArg_ERR_BADINT;
    uint64_t factor = 1;
    if (*p != 0) {
        if (equalsNoCase(p, "KB"))
            factor = uint64_t(1) << 10;
        else if (equalsNoCase(p, "MB"))
            factor = uint64_t(1) << 20;
        else if (equalsNoCase(p, "GB"))
            factor = uint64_t(1) << 30;
        else
            return cArg_ERR_BADINT;
    }
    const uint64_t limit = negative ? uint64_t(1) << 31 : (uint64_t(1) << 31) - 1;
    if (tooLarge || magnitude > limit / factor) return cArg_ERR_OVERFLOW;
    const int64_t value = static_cast<int64_t>(magnitude * factor);
    *out = static_cast<int32_t>(negative ? -value : value);
    return cArg_OK;
}

std::string cArgOption_name(const cArgOption* option, const char* joiner) {
    std::string name;
    if (!option) return name;
    if (option->shortName != 0) {
        name += '-';
        name += option->shortName;
    }
    if (!option->longName.empty()) {
        if (option->shortName != 0) name += joiner ? joiner : "|";
        name += "--";
        name += option->longName;
    }
    return name;
}

std::string cArgOption_syntax(const cArgOption* option, const char* joiner, const char* value) {
    std::string syntax = cArgOption_name(option, joiner);
    if (!option) return syntax;
    const std::string shown = value ? std::string(value) : option->placeholder;
    if (!shown.empty() || value) {
        if (!option->longName.empty())
            syntax += '=';
        else if (option->shortName != 0)
            syntax += ' ';
        syntax += shown;
    }
    return syntax;
}

std::string cArgTable_syntaxLine(const cArgTable* table) {
    std::string line;
    if (!table) return line;
    for (const auto& entry : table->entries) {
        const std::string syntax = cArgOption_syntax(entry.get(), "|", nullptr);
        for (int i = 0; i < entry->minCount; ++i)
            line += " " + syntax;
        const int optional = entry->maxCount - entry->minCount;
        if (optional >= 1) line += " [" + syntax + "]";
        if (optional == 2) line += " [" + syntax + "]";
        if (optional > 2) line += "...";
    }
    return line;
}

std::string cArgTable_glossary(const cArgTable* table) {
    std::string text;
    if (!table) return text;
    for (const auto& entry : table->entries) {
        if (entry->glossary.empty()) continue;
        // "  %-40s %s\n": the syntax padded to 40 columns, a longer one written whole.
        const std::string syntax = cArgOption_syntax(entry.get(), ", ", nullptr);
        text += "  " + syntax;
        if (syntax.size() < 40) text.append(40 - syntax.size(), ' ');
        text += ' ';
        text += entry->glossary;
        text += '\n';
    }
    return text;
}

void cArgOption_defaultErrorText(const cArgOption* option, int error, const char* value,
                                 std::string* out) {
    if (!out) return;
    const std::string shown = value ? value : "";
    switch (error) {
    case cArg_ERR_MISSING:
        *out += "missing option " + cArgOption_syntax(option, "|", nullptr);
        break;
    case cArg_ERR_EXCESS:
        if (option && option->vt->takesValue)
            *out += "excess option " + cArgOption_syntax(option, "|", shown.c_str());
        else
            *out += "extraneous option " + cArgOption_syntax(option, "|", nullptr);
        break;
    case cArg_ERR_BADINT:
        *out += "invalid argument \"" + shown + "\" to option " +
                cArgOption_syntax(option, "|", nullptr);
        break;
    case cArg_ERR_OVERFLOW:
        *out += "integer overflow at option " + cArgOption_syntax(option, "|", nullptr) + " (" +
                shown + " is too large)";
        break;
    case cArg_ERR_UNKNOWN_LONG:
        *out += "invalid option \"" + shown + "\"";
        break;
    case cArg_ERR_UNKNOWN_SHORT:
        *out += "invalid option \"-" + shown + "\"";
        break;
    case cArg_ERR_MISSING_VALUE:
        *out += "option \"" + shown + "\" requires an argument";
        break;
    case cArg_ERR_UNEXPECTED_ARG:
        *out += "unexpected argument \"" + shown + "\"";
        break;
    case cArg_ERR_TOO_MANY:
        *out += "too many errors to display";
        break;
    case cArg_ERR_NOMEM:
        *out += "insufficient memory";
        break;
    default:
        *out += "invalid value to option " + cArgOption_syntax(option, "|", nullptr);
        break;
    }
}

void cArgTable_errorText(const cArgTable* table, const char* programName, std::string* out) {
    if (!table || !out) return;
    const std::string prefix = std::string(programName ? programName : "") + ": ";
    for (const cArgErrorRecord& record : table->errors) {
        *out += prefix;
        if (record.error == cArg_ERR_CHECK && record.option && record.option->errorFn) {
            record.option->errorFn(record.option, record.option->user, out, record.code,
                                   record.value.c_str(), programName);
            continue;
        }
        cArgOption_defaultErrorText(record.option, record.error, record.value.c_str(), out);
        *out += '\n';
    }
}
