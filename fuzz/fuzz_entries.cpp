#include "fuzz/fuzz_entries.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/cLogReader.h"
#include "app/cLogReaderCLI.h"
#include "app/cPasswordStore.h"
#include "app/cPeakConverterCLI.h"
#include "converter/cPeakConverter.h"
#include "io/cGenericFile.h"
#include "io/cGenericFileCompressed.h"
#include "io/cGenericFileEncrypted.h"
#include "io/cIO_memoryAlloc.h"
#include "support/log.h"

namespace {

constexpr std::string_view inputName = "in.mf4";

// A folder in memory holding the one input file; everything written to it is discarded.
struct memoryFs {
    cFS base;
    const uint8_t* data;
    size_t size;
};

void memDtor(cFS*) {}

bool memStat(cFS* fs, std::string_view path, cFS_statRecord* out) {
    const memoryFs* m = reinterpret_cast<const memoryFs*>(fs);
    if (path.empty()) {
        *out = {cFS_TYPE_FOLDER, 0};
    } else if (path == inputName) {
        *out = {cFS_TYPE_FILE, m->size};
    } else {
        *out = {cFS_TYPE_MISSING, 0};
    }
    return true;
}

void memLs(cFS*, std::string_view path, cFS_entrySet* set) {
    if (path.empty()) set->insert(cFS_entry{std::string(inputName), cFS_TYPE_FILE, 0});
}

bool memMkdir(cFS*, std::string_view) {
    return true;
}

bool memRm(cFS*, std::string_view) {
    return true;
}

cIO* memoryStreamOf(const uint8_t* data, size_t size) {
    cIO* io = cIO_memoryAlloc_ctor();
    if (!io) return nullptr;
    if (size > 0 && cIO_write(io, data, size) != static_cast<int64_t>(size)) {
        (void)cIO_close(io);
        return nullptr;
    }
    if (cIO_seek(io, 0, cIO_SEEK_SET) != 0) {
        (void)cIO_close(io);
        return nullptr;
    }
    return io;
}

cIO* memOpen(cFS* fs, std::string_view path, uint32_t flags) {
    const memoryFs* m = reinterpret_cast<const memoryFs*>(fs);
    if (flags & cFS_ACCESS_WRITE) return cIO_memoryAlloc_ctor();
    if (path != inputName) return nullptr;
    return memoryStreamOf(m->data, m->size);
}

const cFS_vtable memTable = {memDtor, memStat, memLs, memMkdir, memRm, memOpen};

// Reads a stream to its end; true when it ended without a read failure.
bool drain(cIO* io) {
    uint8_t chunk[4096];
    for (;;) {
        int64_t got = cIO_read(io, chunk, sizeof chunk);
        if (got == 0) return true;
        if (got < 0) return false;
    }
}

// The iteration count of an encrypted container's key derivation, 0 when there is none.
uint32_t iterationCount(const uint8_t* data, size_t size) {
    if (size < 36) return 0;
    return (uint32_t(data[32]) << 24) | (uint32_t(data[33]) << 16) | (uint32_t(data[34]) << 8) |
           uint32_t(data[35]);
}

// Header read and open of one container type over the bytes; the content is read back.
bool openContainer(const uint8_t* data, size_t size, uint8_t type) {
    cIO* input = memoryStreamOf(data, size);
    if (!input) return false;
    cGenericFile header;
    bool ok = false;
    if (cGenericFile_readHeader(input, &header) && header.type == type) {
        cIO* content = nullptr;
        if (type == cGenericFile_TYPE_COMPRESSED) {
            content = cGenericFile_compressed_open(input, &header);
        } else {
            if (iterationCount(data, size) <= cFuzz_MAX_ITERATIONS)
                content = cGenericFile_encrypted_open(input, &header, cFuzz_PASSWORD,
                                                      std::strlen(cFuzz_PASSWORD));
        }
        if (content) {
            ok = cIO_seek(content, 0, cIO_SEEK_SET) == 0 && drain(content);
            (void)cIO_close(content); // read only
        }
    }
    (void)cIO_close(input);
    return ok;
}

} // namespace

void cFuzz_quiet() {
    // The command line sets its own level, so the lines are dropped at the sink as well.
    zf_log_set_output_level(ZF_LOG_FATAL + 1);
    zf_log_set_output_callback([](const char*, int) {});
}

uint32_t cFuzz_convert(const uint8_t* data, size_t size, bool version1) {
    if (size >= cGenericFile_HEADER_SIZE && std::memcmp(data, cGenericFile_MAGIC, 12) == 0 &&
        data[14] == cGenericFile_TYPE_ENCRYPTED &&
        iterationCount(data, size) > cFuzz_MAX_ITERATIONS)
        return cExitStatus_DECRYPT_FAILED;
    memoryFs input{{&memTable, std::string()}, data, size};
    memoryFs output{{&memTable, std::string()}, nullptr, 0};
    cLogReaderOptions options{false, false, true, -1, 1, {}};
    options.passwords.entries.emplace("default", cFuzz_PASSWORD);
    cPeakConverter* converter = cPeakConverter_ctor(
        &output.base, version1 ? cPeakConverter_VERSION_1_1 : cPeakConverter_VERSION_2_1);
    cLogReader* reader =
        cLogReader_ctor(&input.base, &output.base, true, &options, &converter->layer);
    uint32_t code = cLogReader_process(reader, {std::string(inputName)});
    cLogReader_dtor(reader);
    cPeakConverter_dtor(converter);
    return code;
}

bool cFuzz_openCompressed(const uint8_t* data, size_t size) {
    return openContainer(data, size, cGenericFile_TYPE_COMPRESSED);
}

bool cFuzz_openEncrypted(const uint8_t* data, size_t size) {
    return openContainer(data, size, cGenericFile_TYPE_ENCRYPTED);
}

size_t cFuzz_loadPasswords(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    cPasswordStore store;
    size_t added = cPasswordStore_scan(&store, text);
    cPasswordStore_getForDevice(&store, 0x0000ABCDu);
    cPasswordStore_get(&store, std::string_view());

    // The same text through a real file, as the command line loads it.
    static const std::string path = "/tmp/kelvane_fuzz_passwords_" + std::to_string(getpid());
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        bool written = std::fwrite(data, 1, size, f) == size;
        written = std::fclose(f) == 0 && written;
        cPasswordStore fromFile;
        int status = 0;
        if (written && cPasswordStore_load(&fromFile, path, true, &status) &&
            cPasswordStore_count(&fromFile) != cPasswordStore_count(&store))
            __builtin_trap(); // the file and the text must give the same store
        std::remove(path.c_str());
    }
    return added;
}

int cFuzz_parseCommandLine(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"kelvane"};
    size_t start = 0;
    for (size_t i = 0; i <= size && args.size() <= cFuzz_MAX_ARGS; ++i) {
        if (i == size || data[i] == 0) {
            args.emplace_back(reinterpret_cast<const char*>(data) + start, i - start);
            start = i + 1;
        }
    }
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);

    int level = zf_log_get_output_level();
    int status = 0;
    cPeakConverterCLI* cli = cPeakConverterCLI_ctor();
    if (cli && cLogReaderCLI_parse(&cli->cli, static_cast<int>(args.size()), argv.data(), &status))
        cPeakConverterCLI_getFormat(cli);
    cPeakConverterCLI_dtor(cli);
    zf_log_set_output_level(level); // the verbosity option sets it
    return status;
}
