#pragma once
// One line of the run report that monitoring reads (--report): a JSON object per log file
// visited, written as the file is committed, so that "tail -f" and jq can follow a run.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What became of the file, as the record's "result" names it.
enum class cRunRecordResult : uint8_t {
    CONVERTED,
    FAILED,
    REPEATED,
    NO_CAN_FRAMES,
    UP_TO_DATE,
    NOT_A_LOG, // named like a log, but its content is none
};

struct cRunRecord {
    std::string input;  // absolute
    std::string output; // absolute; empty: none was written (null in the record)
    cRunRecordResult result = cRunRecordResult::CONVERTED;
    uint32_t status = 0;                 // the file's result code
    std::string message;                 // the reason; empty: none (null)
    uint64_t frames = 0;                 // written
    uint64_t leftOut = 0;                // received but not held by the output format
    std::vector<std::string> containers; // outermost first
    bool headerKnown = false;            // device, session and split are known (else null)
    std::string device;
    uint32_t session = 0;
    uint32_t split = 0;
    uint64_t bytes = 0; // input size
    double seconds = 0;
    bool deleted = false;
};

// "converted", "failed", ...
const char* cRunRecord_resultName(cRunRecordResult result);
// The record as one line of JSON, line feed included.
std::string cRunRecord_json(const cRunRecord& record);
// Appends text as a JSON string literal. Paths may hold any byte: bytes that are no valid
// UTF-8 are written as \u00XX of the byte, so that every line stays valid JSON.
void cRunRecord_appendString(std::string* out, std::string_view text);
