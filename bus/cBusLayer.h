#pragma once
// The vocabulary the MDF reader, the driver and the output converters share: the bus message
// record, the per-file record, and the callback table a converter object begins with.

#include <cstdint>
#include <string>
#include <string_view>

enum cBusMsgType : uint32_t {
    BUS_MSG_NONE = 0,
    BUS_MSG_CAN_DATA_FRAME = 1,
    BUS_MSG_CAN_REMOTE_FRAME = 2,
    BUS_MSG_CAN_ERROR_FRAME = 3,
    BUS_MSG_LIN_FRAME = 4,
    BUS_MSG_LIN_CHECKSUM_ERROR = 5,
    BUS_MSG_LIN_RECEIVE_ERROR = 6,
    BUS_MSG_LIN_TRANSMISSION_ERROR = 7,
    BUS_MSG_LIN_SYNC_ERROR = 8,
};

struct cBusMsg_CAN {
    uint8_t IDE; // 1: 29-bit identifier
    uint8_t Dir; // nonzero: transmitted
    uint8_t EDL; // 1: CAN FD
    uint8_t ESI;
    uint8_t BRS;
    uint8_t RTR; // remote frame
    uint8_t DLC; // data length code as logged
};

struct cBusMsg_CANError {
    uint8_t BusChannel; // the error frame's bus; the common BusChannel is not written
    uint32_t ErrorType; // 1..5, else 0
};

struct cBusMsg_LIN {
    uint8_t Dir;
    uint8_t ReceivedDataByteCount;
};

// One decoded bus event. Owned by the message iterator, lent to newMsg for one call.
// The payload, any byte values, is DataBytes, unless DataView is set: then it is the
// DataViewLength bytes at DataView, which a decoder left where the reader keeps them
// instead of copying them (valid for as long as the message is). Read it with cBusMsg_data.
struct cBusMsg {
    double Timestamp; // absolute seconds on the Unix epoch scale
    uint8_t BusChannel;
    uint32_t ID;
    std::string DataBytes;
    const uint8_t* DataView = nullptr;
    uint32_t DataViewLength = 0;
    cBusMsgType Type;
    union { // the variant of Type; a decoder clears the whole area before filling its part
        cBusMsg_CAN CAN;
        cBusMsg_CANError CANError;
        cBusMsg_LIN LIN;
    };
};

inline std::string_view cBusMsg_data(const cBusMsg* msg) {
    return msg->DataView
               ? std::string_view(reinterpret_cast<const char*>(msg->DataView), msg->DataViewLength)
               : std::string_view(msg->DataBytes);
}

// What the driver knows of one input file when it announces it.
struct cLogReaderFileInfo {
    std::string inputPath;  // relative to the input root
    std::string outputPath; // output base path, relative to the output root, no extension
    std::string serialNumber;
    uint32_t session;
    uint32_t split;
};

// What the converter made of the file that endFile just finished: the driver deletes an
// input only when its output holds every frame that counts.
struct cBusLayerFileSummary {
    uint64_t framesReceived; // CAN data and remote frames newMsg was given
    uint64_t framesWritten;  // of them, the ones the output holds
    std::string outputPath;  // the output in place (relative to the output root), or empty
};

struct cBusLayer;

struct cBusLayer_vtable {
    bool (*newMsg)(cBusLayer* layer, const cBusMsg* msg);
    bool (*newFile)(cBusLayer* layer, const cLogReaderFileInfo* info, bool continuation);
    bool (*endFile)(cBusLayer* layer, const cLogReaderFileInfo* info);
    // Called after endFile when the input turned out damaged after all: the output of
    // that file must not stay behind looking like a complete conversion.
    bool (*dropFile)(cBusLayer* layer, const cLogReaderFileInfo* info);
    // After endFile: fills *out and gives true. Empty for a converter that cannot tell, whose
    // inputs are then never deleted.
    bool (*summary)(cBusLayer* layer, cBusLayerFileSummary* out) = nullptr;
    // What the converter appends to a file's output base path to name its output
    // ("_CAN.trc"): the driver and the run's checks need the name before the file is opened.
    const char* (*outputSuffix)(const cBusLayer* layer) = nullptr;
};

// A converter object begins with this member.
struct cBusLayer {
    const cBusLayer_vtable* vt;
};

// Installs the default table, whose functions do nothing and return false.
bool cBusLayer_init(cBusLayer* layer);
