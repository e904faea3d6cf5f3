#pragma once
// The driver's own state, shared by its two halves: the walk (cLogReader.cpp), which visits
// the inputs on the calling thread and hands every log file to the job pool in visiting
// order, and the pipeline of one log file (cLogReaderFile.cpp), whose phases the pool runs.
// Not for use outside the driver.

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/cJobPool.h"
#include "app/cLogReader.h"
#include "app/cRunReport.h"

// The turn of one trace name: set when the file that last took the name commits, so that a
// later file of the run with the same name decides against what that one left.
struct cLogReaderNameTurn {
    bool committed = false; // guarded by cLogReader::lock
};

struct cLogReader {
    cFS* inputFs = nullptr;
    cFS* outputFs = nullptr;
    bool createDirs = false;
    const cLogReaderOptions* options = nullptr;

    // Touched only by the decide phase, which the pool runs one file at a time in visiting
    // order: the last file whose header was read.
    cLogReaderFileInfo previous{};

    // Walk only (the calling thread).
    std::vector<cFS_identity> walkPath; // folders from the input down to the one being walked
    // Device and inode of every folder walked: one reached again through a link is not walked
    // twice (links at every level would double the walk per level).
    std::set<std::pair<uint64_t, uint64_t>> walkedFolders;
    // Trace name -> turn of the last file handed over with that name.
    std::map<std::string, std::shared_ptr<cLogReaderNameTurn>> nameTurns;
    // Device and inode of the files handed over, to see a file met again through a link.
    std::set<std::pair<uint64_t, uint64_t>> handedOver;
    cJobPool* pool = nullptr; // during cLogReader_process
    bool capturing = false;   // the walk's lines are held in walkLines (the pool has workers)
    std::string walkLines;    // lines the walk logged since the last file handed over

    std::mutex lock; // guards what follows
    std::condition_variable changed;
    std::vector<cBusLayer*> freeConverters; // one per worker; a file takes one to convert
    // Trace name -> the input whose conversion wrote it in this run: two inputs that map to
    // one trace name would otherwise overwrite each other's trace.
    std::map<std::string, std::string> traceOwners;
    uint32_t filesCode = 0; // OR of the codes of the files committed
};

// True for the extensions loggers give their files ("mf4", "mfc", "mfe", "mfm", any case).
bool cLogReader_isLogExtension(std::string_view ext);

// Hands one log file to the pool. input: relative to the input root; base: its output path
// without extension; size: its size as the walk saw it.
void cLogReader_submitFile(cLogReader* reader, const std::string& input, const std::string& base,
                           uint64_t size);
// Hands the lines the walk logged since the last file over, so they keep their place.
void cLogReader_submitLines(cLogReader* reader);
