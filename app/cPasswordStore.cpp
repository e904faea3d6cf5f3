#include "app/cPasswordStore.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <sys/stat.h>

#include "app/cExitStatus.h"
#include "io/cIO.h"
#include "io/cIO_file.h"
#include "support/log.h"

namespace {

// A password file is a few lines per device; anything this large is no password file, and
// reading it whole would only exhaust memory.
constexpr int64_t maxFileSize = int64_t(64) << 20;

// The character classes of the expression as the C locale defines them.
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isLineBreak(char c) {
    return c == '\n' || c == '\r';
}

size_t skipSpaces(std::string_view text, size_t p) {
    while (p < text.size() && isSpace(text[p]))
        ++p;
    return p;
}

// The expression matched with its key's opening quote at q. The leading white space only
// moves the start of a match, never whether or where it ends, so matching from each quote
// in turn finds the same entries as a leftmost search. No step here can backtrack
// usefully: a shorter white-space or hexadecimal run is followed by a character that is
// neither a quote nor a colon.
bool matchAtQuote(std::string_view text, size_t q, size_t* end, std::string_view* key,
                  std::string_view* password) {
    const size_t n = text.size();
    size_t p = q + 1;
    size_t keyEnd;
    if (text.substr(p, 7) == "default" && p + 7 < n && text[p + 7] == '"') {
        keyEnd = p + 7;
    } else {
        keyEnd = p;
        while (keyEnd < n && isHex(text[keyEnd]))
            ++keyEnd;
        if (keyEnd >= n || text[keyEnd] != '"') return false;
    }
    p = skipSpaces(text, keyEnd + 1);
    if (p >= n || text[p] != ':') return false;
    p = skipSpaces(text, p + 1);
    if (p >= n || text[p] != '"') return false;
    const size_t valueStart = ++p;
    while (p < n && text[p] != '"' && !isLineBreak(text[p]))
        ++p;
    if (p >= n || text[p] != '"') return false;
    *key = text.substr(q + 1, keyEnd - q - 1);
    *password = text.substr(valueStart, p - valueStart);
    p = skipSpaces(text, p + 1);
    if (p < n && text[p] == ',') ++p;
    *end = skipSpaces(text, p);
    return true;
}

// A look-up asks for "%08X" of a serial number or for "default"; no other key is ever found.
bool isUsableKey(std::string_view key) {
    if (key == "default") return true;
    if (key.size() != 8) return false;
    for (char c : key)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

bool isBlank(std::string_view text) {
    for (char c : text)
        if (!isSpace(c)) return false;
    return true;
}

// A missing or unusable password file: refused with status 1 when the user named it; the
// default one is optional, and only something in its place that is no file is worth a word.
bool refuse(const std::string& path, bool explicitlyGiven, int* status, const char* reason) {
    if (explicitlyGiven) {
        ZF_LOGE("Failed to open password file at %s: %s", path.c_str(), reason);
        if (status) *status |= cExitStatus_PASSWORD_FILE;
        return false;
    }
    ZF_LOGW("Password file %s ignored: %s", path.c_str(), reason);
    return true;
}

} // namespace

bool cPasswordStore_findEntry(std::string_view text, size_t from, size_t* matchEnd,
                              std::string_view* key, std::string_view* password) {
    if (!matchEnd || !key || !password) return false;
    for (size_t q = text.find('"', from); q != std::string_view::npos; q = text.find('"', q + 1))
        if (matchAtQuote(text, q, matchEnd, key, password)) return true;
    return false;
}

size_t cPasswordStore_scan(cPasswordStore* store, std::string_view text) {
    if (!store) return 0;
    size_t added = 0;
    size_t from = 0;
    size_t end = 0;
    std::string_view key, password;
    while (from <= text.size() && cPasswordStore_findEntry(text, from, &end, &key, &password)) {
        bool inserted = false;
        try {
            inserted = store->entries.emplace(std::string(key), std::string(password)).second;
        } catch (const std::exception&) {
            inserted = false;
        }
        if (inserted)
            ++added;
        else
            ZF_LOGW("Failed to insert key for \"%.*s\" in password storage",
                    static_cast<int>(key.size()), key.data());
        if (inserted && !isUsableKey(key))
            ZF_LOGW("Password for \"%.*s\" can never be used: a device is looked up as eight "
                    "upper-case hexadecimal digits (\"0000ABCD\") or as \"default\"",
                    static_cast<int>(key.size()), key.data());
        from = end;
    }
    return added;
}

bool cPasswordStore_load(cPasswordStore* store, const std::string& path, bool explicitlyGiven,
                         int* status) {
    if (!store) return false;
    // Looked at before it is opened: opening a FIFO would wait for a writer forever.
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (!explicitlyGiven && errno == ENOENT) return true;
        return refuse(path, explicitlyGiven, status, std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) return refuse(path, explicitlyGiven, status, "it is a folder");
    if (!S_ISREG(st.st_mode))
        return refuse(path, explicitlyGiven, status, "it is not a regular file");
    cIO* io = cIO_file_open(path.c_str(), cIO_FILE_READ);
    if (!io) return refuse(path, explicitlyGiven, status, std::strerror(errno));
    const int64_t size = cIO_getSize(io);
    std::string text;
    if (size > maxFileSize) {
        ZF_LOGW("Password file %s is too large to be one, ignored", path.c_str());
    } else if (size >= 0) {
        try {
            text.resize(static_cast<size_t>(size));
        } catch (const std::exception&) {
            text.clear();
        }
        // A short read (a file changing under us, no memory) leaves the store empty.
        if (text.size() != static_cast<size_t>(size) || cIO_read(io, text.data(), size) != size) {
            ZF_LOGW("Password file %s could not be read whole, ignored", path.c_str());
            text.clear();
        }
    }
    if (cPasswordStore_scan(store, text) == 0 && !isBlank(text))
        ZF_LOGW("Password file %s holds no entry of the form \"0000ABCD\": \"password\"",
                path.c_str());
    (void)cIO_close(io); // read only: what it held is in the store already
    return true;
}

const std::string* cPasswordStore_get(const cPasswordStore* store, std::string_view key) {
    if (!store) return nullptr;
    try {
        auto found = store->entries.find(std::string(key));
        return found == store->entries.end() ? nullptr : &found->second;
    } catch (const std::exception&) {
        return nullptr;
    }
}

const std::string* cPasswordStore_getForDevice(const cPasswordStore* store, uint32_t serialNumber) {
    char key[16];
    std::snprintf(key, sizeof key, "%08X", serialNumber);
    const std::string* password = cPasswordStore_get(store, key);
    return password ? password : cPasswordStore_get(store, "default");
}

size_t cPasswordStore_count(const cPasswordStore* store) {
    return store ? store->entries.size() : 0;
}

void cPasswordStore_drop(cPasswordStore* store) {
    if (store) store->entries.clear();
}
