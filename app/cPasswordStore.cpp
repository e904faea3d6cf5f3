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
    // As JSON writes it: a backslash takes the character after it along.
    while (p < n && text[p] != '"' && !isLineBreak(text[p]))
        p += text[p] == '\\' && p + 1 < n && !isLineBreak(text[p + 1]) ? 2 : 1;
    if (p >= n || text[p] != '"') {
        // Written before escapes were read: a password ending in a backslash ends at the
        // quote after it.
        p = valueStart;
        while (p < n && text[p] != '"' && !isLineBreak(text[p]))
            ++p;
        if (p >= n || text[p] != '"') return false;
    }
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

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four hexadecimal digits after "\u" at text[at]; -1 when they are not there.
long readHex4(std::string_view text, size_t at) {
    if (at + 4 > text.size()) return -1;
    long value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const int digit = hexValue(text[i]);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

void appendUtf8(std::string* out, uint32_t code) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | (code >> 6));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out += static_cast<char>(0xE0 | (code >> 12));
        *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (code >> 18));
        *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
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

bool cPasswordStore_decode(std::string_view written, std::string* out) {
    if (!out) return false;
    out->clear();
    for (size_t i = 0; i < written.size(); ++i) {
        if (written[i] != '\\') {
            *out += written[i];
            continue;
        }
        if (++i >= written.size()) return false;
        switch (written[i]) {
        case '"':
        case '\\':
        case '/':
            *out += written[i];
            break;
        case 'b':
            *out += '\b';
            break;
        case 'f':
            *out += '\f';
            break;
        case 'n':
            *out += '\n';
            break;
        case 'r':
            *out += '\r';
            break;
        case 't':
            *out += '\t';
            break;
        case 'u': {
            long code = readHex4(written, i + 1);
            if (code < 0) return false;
            i += 4;
            if (code >= 0xDC00 && code <= 0xDFFF) return false; // a pair's second half alone
            if (code >= 0xD800 && code <= 0xDBFF) {
                // Outside the basic plane JSON writes a pair of escapes.
                if (i + 2 >= written.size() || written[i + 1] != '\\' || written[i + 2] != 'u')
                    return false;
                const long low = readHex4(written, i + 3);
                if (low < 0xDC00 || low > 0xDFFF) return false;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 6;
            }
            appendUtf8(out, static_cast<uint32_t>(code));
            break;
        }
        default:
            return false;
        }
    }
    return true;
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
            // An escape JSON does not know is a backslash written the old way.
            std::string decoded;
            if (!cPasswordStore_decode(password, &decoded)) decoded = password;
            inserted = store->entries.emplace(std::string(key), decoded).second;
            if (inserted && decoded != password)
                store->rawEntries.emplace(std::string(key), std::string(password));
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
    store->path = path;
    store->fileRead = false;
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
    store->fileRead = true;
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

cPasswordStore_choice cPasswordStore_choose(const cPasswordStore* store, uint32_t serialNumber) {
    cPasswordStore_choice choice;
    char key[16];
    std::snprintf(key, sizeof key, "%08X", serialNumber);
    choice.entry = key;
    choice.password = cPasswordStore_get(store, key);
    if (!choice.password) {
        choice.entry = "default";
        choice.password = cPasswordStore_get(store, "default");
    }
    if (choice.password) {
        auto raw = store->rawEntries.find(choice.entry);
        if (raw != store->rawEntries.end()) choice.raw = &raw->second;
    }
    return choice;
}

size_t cPasswordStore_count(const cPasswordStore* store) {
    return store ? store->entries.size() : 0;
}

void cPasswordStore_drop(cPasswordStore* store) {
    if (!store) return;
    store->entries.clear();
    store->rawEntries.clear();
}
