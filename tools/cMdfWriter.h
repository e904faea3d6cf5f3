#pragma once
// Writer of complete MDF 4 files in the layout the logger family writes: the reference the
// reader, the end-to-end tests, the examples and the benchmarks are built from. It knows the
// file format on its own and shares no code with the reader.
//
// File layout written (every block 8-byte aligned, all integers little-endian):
//   0     ID block (64 bytes)
//   64    HD block, its comment MD, the FH chain with its comments
//   ...   per data group: DG, its CGs, CNs, CCs, SIs, TX/MD texts (all metadata first)
//   ...   per data group, in data group order: its DT block, then its SD block if any
// Data blocks are streamed: records are encoded into a large buffer, written in big chunks,
// and the DT length and cycle counts are patched in once a group's records are done, so a
// file of any size is written without holding its frames or records in memory. (SD payloads
// are gathered in memory per data group.)

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Kind of bus event; one channel group per kind in a data group.
enum cMdfWriterFrameKind : uint8_t {
    MDFW_CAN_DATA = 0,   // "CAN_DataFrame"
    MDFW_CAN_REMOTE = 1, // "CAN_RemoteFrame"
    MDFW_CAN_ERROR = 2,  // "CAN_ErrorFrame"
    MDFW_LIN = 3,        // "LIN_Frame"
};

// One bus event to be written as one record.
struct cMdfWriterFrame {
    cMdfWriterFrameKind kind = MDFW_CAN_DATA;
    double time = 0;        // seconds since the HD start time (the "Timestamp" master channel)
    uint8_t bus = 1;        // BusChannel
    uint32_t id = 0;        // CAN: 11 or 29 bits (stored in a 29-bit field); LIN: 6 bits
    bool ide = false;       // CAN: 29-bit identifier
    bool dir = false;       // true: transmitted
    bool edl = false;       // CAN FD frame
    bool brs = false;       // CAN FD bit rate switch
    bool esi = false;       // CAN FD error state indicator
    uint8_t dlc = 0;        // CAN data length code (0..15); remote frames: requested DLC
    uint8_t dataLength = 0; // DataLength channel: payload byte count (LIN: 0..8)
    uint8_t data[64] = {};  // payload, the first dataLength bytes are used
    uint8_t errorType = 0;  // CAN error frames: 1..5 (bit, form, stuff, CRC, ack)
    uint8_t linReceivedDataByteCount = 0; // LIN: bytes actually received
};

// How the DataBytes channels of a data group are stored.
enum cMdfWriterDataStorage : uint8_t {
    MDFW_DATA_FIXED = 0,   // fixed byte array inside the record
    MDFW_DATA_VLSD_SD = 1, // record holds a 64-bit offset into an SD block of the data group
    MDFW_DATA_VLSD_CG = 2, // record holds a 64-bit offset; the bytes follow in a record of a
                           // VLSD channel group of the same data group (needs record ids)
};

// How the Timestamp master channel is stored.
enum cMdfWriterTimeEncoding : uint8_t {
    MDFW_TIME_DOUBLE = 0,      // 64-bit IEEE float, seconds, no conversion block
    MDFW_TIME_MICROS = 1,      // 64-bit unsigned integer microseconds + linear CC (factor 1e-6)
    MDFW_TIME_MILLIS32_BE = 2, // 32-bit unsigned big-endian milliseconds in the first four
                               // bytes + linear CC (factor 1e-3); the next four stay zero
};

// Where the VLSD channel groups (MDFW_DATA_VLSD_CG) stand in the channel group chain.
enum cMdfWriterVlsdPlace : uint8_t {
    MDFW_VLSD_LAST = 0,          // behind all ordinary channel groups
    MDFW_VLSD_FIRST = 1,         // in front of all of them
    MDFW_VLSD_BEHIND_PARENT = 2, // each directly behind the group whose DataBytes it carries
};

// Frame source of a data group that streams: fills *out and returns true, or returns false
// when the group has no further frame. Frames must come in ascending time.
typedef std::function<bool(cMdfWriterFrame* out)> cMdfWriterFrameSource;

// One data group (DG block) and what goes into it.
struct cMdfWriterGroup {
    // The frames, in time order. Ignored when `source` is set.
    std::vector<cMdfWriterFrame> frames;
    // Streaming frame source; when set, `frames` is not used and `kinds` must be given.
    cMdfWriterFrameSource source;
    // Channel groups of the data group, one per kind, in chain order. Empty: the kinds of
    // `frames` in order of first appearance (one CAN_DataFrame group when there are none).
    // A frame of a kind not listed makes the write fail.
    std::vector<cMdfWriterFrameKind> kinds;
    // Bytes of record id before each record: 0 ("sorted": exactly one channel group), or
    // 1, 2, 4, 8 ("unsorted": records of all channel groups interleaved in frame order).
    // Other values are written as given (for damaged-file tests).
    uint8_t recordIdSize = 0;
    // Record ids of the ordinary channel groups in `kinds` order, then of their VLSD channel
    // groups; missing entries count on from the last given one, starting at 1.
    std::vector<uint64_t> recordIds;
    // Chain order of the ordinary channel groups: a permutation of their indices in `kinds`
    // order. Empty: that order.
    std::vector<uint32_t> chainOrder;
    cMdfWriterVlsdPlace vlsdPlace = MDFW_VLSD_LAST;
    // Nonzero: the channels of every channel group are chained in an order shuffled with
    // this seed (the members below the structure channel, or all channels when flat).
    uint32_t channelShuffle = 0;
    cMdfWriterDataStorage dataStorage = MDFW_DATA_FIXED;
    // Width of the fixed CAN_DataFrame.DataBytes array: 64 (CAN FD) or 8. LIN uses 8.
    uint8_t canDataBytes = 64;
    // Integer (and float) channels big-endian (data types 1 and 3) instead of little-endian.
    bool bigEndian = false;
    cMdfWriterTimeEncoding timeEncoding = MDFW_TIME_DOUBLE;
    // Value-to-value conversion (CC type 5) on every BusChannel channel: pairs (raw, value).
    // The raw value written is the first key whose value equals the frame's bus; when none
    // does, the bus itself is written raw. Empty: no conversion block.
    std::vector<std::pair<double, double>> busChannelTable;
    // Invalidation bytes per record (written as zeros, counted in the CG's invalidation
    // byte count, stored behind the data bytes of each record).
    uint32_t invalidationBytes = 0;
    // Member channels directly in the CG's channel list instead of below a structure
    // channel named after the group.
    bool flatChannels = false;
    // Channel names to leave out, e.g. "CAN_DataFrame.DataLength" or "Timestamp" (the bits
    // stay zero). Always the real group names, whatever channelPrefix says.
    std::vector<std::string> omitChannels;
    // When not empty, replaces the group prefix of member channel names (e.g. "LIN_SyncError"
    // makes "LIN_SyncError.ID"); acquisition names keep the real group name.
    std::string channelPrefix;
    // Acquisition source of every channel group: an SI block (source type bus, bus type CAN
    // or LIN by kind) with this XML as its MD comment; empty: SI without comment.
    std::string sourceComment;
    bool writeSource = true; // false: no SI block at all
    // DG comment as a TX block; empty: none.
    std::string comment;
};

// Whole-file options: identification, header and history.
struct cMdfWriterOptions {
    uint64_t startTimeNs = 1700000000000000000ull; // HD start time, ns since 1970
    int16_t tzOffsetMin = 0;                       // HD time zone offset, minutes
    int16_t dstOffsetMin = 0;                      // HD daylight saving offset, minutes
    // HD comment metadata, written as
    //   <HDcomment><TX>..</TX><common_properties>
    //     <tree name="Device Information"><e name="serial number" ...>..</e></tree>
    //     <tree name="Log Information"><e name="session">..</e><e name="split">..</e></tree>
    //   </common_properties></HDcomment>
    std::string serialNumber = "1A2B3C4D"; // empty: item not written
    uint32_t session = 1;
    uint32_t split = 1;
    bool writeSession = true; // false: neither session nor split item
    // Replaces the whole HD comment XML when not empty (broken-metadata tests).
    std::string hdXml;
    bool hdCommentAsTx = false; // HD comment as a TX block holding the XML text
    bool hdComment = true;      // false: no HD comment at all
    // File history: one FH per entry of `toolIds`, chained in order; each gets the MD comment
    // <FHcomment><TX>..</TX><tool_id>ID</tool_id><tool_version>..</tool_version></FHcomment>.
    std::vector<std::string> toolIds = {"Veskar"};
    std::string fhXml;          // replaces every FH comment XML when not empty
    bool fhCommentAsTx = false; // FH comments as TX blocks (the reader must skip them)
    // Unfinalised file: identifier "UnFinMF ", standard flags 4, and the last DT block's
    // length written as 24 (its records still follow up to the end of the file). The last
    // data group must then not use an SD block.
    bool unfinalised = false;
    uint16_t versionNumber = 411; // ID version number; text "4.11" derived from it
    // Identical texts share one TX block (several links to one block).
    bool shareTexts = true;
};

// One block written, for layout checks in tests.
struct cMdfWriterBlock {
    char id[5];        // "##HD", ... ("ID" for the identification block)
    uint64_t offset;   // absolute file offset
    uint64_t length;   // block length as written in the header (final value)
    std::string label; // what it is: channel name, "DG0", "DT0", text content, ...
};

// What a write produced.
struct cMdfWriterResult {
    uint64_t bytes = 0;                  // file size
    uint64_t frames = 0;                 // records of ordinary channel groups written
    std::vector<cMdfWriterBlock> blocks; // metadata and data blocks in file order
    std::string error;                   // reason of a failed write
};

// Writes the file at path (created or truncated). False on failure (reason in result->error
// and on stderr); the partial file is removed. result may be null.
bool cMdfWriter_writeFile(const char* path, const cMdfWriterOptions* options,
                          const std::vector<cMdfWriterGroup>* groups,
                          cMdfWriterResult* result = nullptr);

// Writes the file into memory; an empty vector on failure. result may be null.
std::vector<uint8_t> cMdfWriter_writeMemory(const cMdfWriterOptions* options,
                                            const std::vector<cMdfWriterGroup>* groups,
                                            cMdfWriterResult* result = nullptr);

// CAN FD data length code of a payload length (0..8 as is, then 12,16,20,24,32,48,64 -> 9..15;
// other lengths take the next larger code). Lengths above 64 give 15.
uint8_t cMdfWriter_dlcForLength(uint8_t length);
// Payload length of a data length code (CAN FD table); codes above 15 give 64.
uint8_t cMdfWriter_lengthForDlc(uint8_t dlc);

// Convenience makers for test frames. can(): a data frame whose DLC follows from the length
// (EDL set when the length is above 8 or fd is true); data may be null for zeros.
cMdfWriterFrame cMdfWriterFrame_can(double time, uint8_t bus, uint32_t id, bool ide,
                                    const uint8_t* data, uint8_t length, bool fd = false);
cMdfWriterFrame cMdfWriterFrame_remote(double time, uint8_t bus, uint32_t id, bool ide,
                                       uint8_t dlc);
cMdfWriterFrame cMdfWriterFrame_error(double time, uint8_t bus, uint8_t errorType);
cMdfWriterFrame cMdfWriterFrame_lin(double time, uint8_t bus, uint8_t id, const uint8_t* data,
                                    uint8_t length);
