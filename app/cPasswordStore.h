#pragma once
// Device passwords for encrypted log files, read from a small JSON-like text file.
//
// cPasswordStore:
//   std::unordered_map<std::string, std::string> entries;  key text exactly as written in
//       the file (a run of hexadecimal digits of any case and length, or "default") to the
//       password with its JSON escapes decoded; the first entry read for a key wins.
//   std::unordered_map<std::string, std::string> rawEntries;  the password as the file
//       spells it, for the keys where that differs from the decoded one
//   std::string path;  the file read or looked for
//   bool fileRead;     a password file was found there and read
//
// The file is not parsed as JSON as a whole. Entries are the matches of the expression
//   \s*"(default|[a-fA-F\d]*)"\s*:\s*"((?:[^"\\]|\\.)*)"\s*,?\s*
// searched one after the other through the whole text (the password stops at a line break,
// "\s" includes it). The password is a JSON string: \\, \", \/, \b, \f, \n, \r, \t and
// \uXXXX (surrogate pairs too) are decoded to UTF-8. Files written before escapes were
// read take backslashes as they stand and end a password at the next double quote: where
// the JSON reading finds no end on the line, that reading is used; where the decoded text
// differs from the raw one, both are kept and the encrypted file's tag check tells which.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

struct cPasswordStore {
    std::unordered_map<std::string, std::string> entries;
    std::unordered_map<std::string, std::string> rawEntries;
    std::string path;
    bool fileRead = false;
};

// The passwords to try for one device.
struct cPasswordStore_choice {
    const std::string* password = nullptr; // null: no entry for the device, nor "default"
    const std::string* raw = nullptr;      // the raw spelling when it differs, else null
    std::string entry;                     // the key of the entry used ("0000ABCD", "default")
};

// Reads the file at path into the store. Only a regular file is opened (a FIFO would block).
// A file that is missing, no regular file or cannot be opened is an error only when it was
// named explicitly: then "Failed to open password file at %s: <reason>" is logged, 1 is
// OR-ed into *status and the result is false. The default file may be missing; anything
// else unusable there is warned about. Either way the store stays empty and the result is
// true. Keys no look-up can find, and a non-empty file without any entry, are warned about.
[[nodiscard]] bool cPasswordStore_load(cPasswordStore* store, const std::string& path,
                                       bool explicitlyGiven, int* status);
// Adds every entry found in text; a key already present keeps its first password and is
// reported with a warning, and so is a key no look-up can find. Returns the number of
// entries added.
size_t cPasswordStore_scan(cPasswordStore* store, std::string_view text);
// Finds the next match at or after from: on success sets the match end and the two captures
// (key, password as written between its quotes) and returns true.
bool cPasswordStore_findEntry(std::string_view text, size_t from, size_t* matchEnd,
                              std::string_view* key, std::string_view* password);
// Decodes the JSON escapes of a password as written; false (out unspecified) when it holds
// an escape JSON does not know, or a \u that makes no character.
[[nodiscard]] bool cPasswordStore_decode(std::string_view written, std::string* out);

// The password of the device: the key "%08X" of the serial number, else "default", else null.
const std::string* cPasswordStore_getForDevice(const cPasswordStore* store, uint32_t serialNumber);
// The same look-up, with the raw spelling and the entry's key.
cPasswordStore_choice cPasswordStore_choose(const cPasswordStore* store, uint32_t serialNumber);
// Exact, case-sensitive look-up of one key; null when absent.
const std::string* cPasswordStore_get(const cPasswordStore* store, std::string_view key);
size_t cPasswordStore_count(const cPasswordStore* store);
void cPasswordStore_drop(cPasswordStore* store);
