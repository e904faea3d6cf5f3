#pragma once
// Device passwords for encrypted log files, read from a small JSON-like text file.
//
// cPasswordStore:
//   std::unordered_map<std::string, std::string> entries;  key text exactly as written in
//       the file (a run of hexadecimal digits of any case and length, or "default") to the
//       password; the first entry read for a key wins.
//
// The file is not parsed as JSON. Entries are the matches of the expression
//   \s*"(default|[a-fA-F\d]*)"\s*:\s*"(.*?)"\s*,?\s*
// searched one after the other through the whole text ("." stops at a line break, "\s"
// includes it). No escape sequences: a password runs up to the next double quote.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

struct cPasswordStore {
    std::unordered_map<std::string, std::string> entries;
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
// (key, password) and returns true.
bool cPasswordStore_findEntry(std::string_view text, size_t from, size_t* matchEnd,
                              std::string_view* key, std::string_view* password);

// The password of the device: the key "%08X" of the serial number, else "default", else null.
const std::string* cPasswordStore_getForDevice(const cPasswordStore* store, uint32_t serialNumber);
// Exact, case-sensitive look-up of one key; null when absent.
const std::string* cPasswordStore_get(const cPasswordStore* store, std::string_view key);
size_t cPasswordStore_count(const cPasswordStore* store);
void cPasswordStore_drop(cPasswordStore* store);
