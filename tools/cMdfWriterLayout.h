#pragma once
// Record layouts of the bus-logging channel groups as the logger writes them, and the
// encoding of one frame into one record. Every byte and bit position of a record is fixed
// here and nowhere else.
//
// Data bytes of the records (after the record id), bit positions as byte.bit:
//   CAN_DataFrame   Timestamp 0 (64) | BusChannel 8 (8) | ID 9.0 (29) | IDE 12.5 (1)
//                   DLC 13.0 (4) | Dir 13.4 | EDL 13.5 | BRS 13.6 | ESI 13.7 | DataLength 14 (8)
//                   DataBytes 15 (W bytes, or a 64-bit VLSD offset)  -> 15 + W bytes
//   CAN_RemoteFrame Timestamp 0 | BusChannel 8 | ID 9.0 (29) | IDE 12.5 | DLC 13.0 (4)
//                   Dir 13.4 | DataLength 14 (8)                      -> 15 bytes
//   CAN_ErrorFrame  Timestamp 0 | BusChannel 8 | ErrorType 9 (8)       -> 10 bytes
//   LIN_Frame       Timestamp 0 | BusChannel 8 | ID 9.0 (6) | Dir 9.6 | DataLength 10.0 (4)
//                   ReceivedDataByteCount 10.4 (4) | DataBytes 11 (8 bytes or offset) -> 19
// A Timestamp of 32-bit milliseconds takes bytes 0 to 3 (big-endian); bytes 4 to 7 stay zero.
// The structure channel named after the group spans bytes 8 to the record's end.
// Big-endian groups give every member whole bytes, in chain order from byte 8, DataBytes last:
//   CAN_DataFrame   ID 8 (32) | IDE 12 | DLC 13 | DataLength 14 | Dir 15 | EDL 16 | BRS 17
//                   ESI 18 | BusChannel 19 | DataBytes 20             -> 20 + W bytes
//   CAN_RemoteFrame BusChannel 8 | ID 9 (32) | IDE 13 | DLC 14 | DataLength 15 | Dir 16 -> 17
//   CAN_ErrorFrame  as above                                           -> 10 bytes
//   LIN_Frame       BusChannel 8 | ID 9 | Dir 10 | DataLength 11 | ReceivedDataByteCount 12
//                   DataBytes 13                                       -> 21 bytes

#include "tools/cMdfWriter.h"

#include <cstdint>

// Which frame field feeds a channel.
enum cMdfWriterField : uint8_t {
    MDFW_F_TIME,
    MDFW_F_BUS,
    MDFW_F_ID,
    MDFW_F_IDE,
    MDFW_F_DLC,
    MDFW_F_DATA_LENGTH,
    MDFW_F_DATA_BYTES,
    MDFW_F_DIR,
    MDFW_F_EDL,
    MDFW_F_BRS,
    MDFW_F_ESI,
    MDFW_F_ERROR_TYPE,
    MDFW_F_LIN_RX_COUNT,
};

// One member channel of a record layout.
struct cMdfWriterChannel {
    const char* suffix;    // name after "<group>."; the Timestamp channel has "" (name "Timestamp")
    cMdfWriterField field; // frame field written there
    uint32_t byteOffset;   // first byte in the record's data bytes
    uint8_t bitOffset;     // 0..7
    uint32_t bitCount;     // for DataBytes: the fixed array width in bits (VLSD: 64)
};

// Record layout of one channel group kind, for one data group's options.
struct cMdfWriterRecordLayout {
    cMdfWriterFrameKind kind;
    const char* groupName;          // "CAN_DataFrame", ...
    uint8_t busType;                // SI bus type: 2 CAN, 3 LIN
    cMdfWriterChannel channels[12]; // [0] is Timestamp; then the members in chain order
    uint32_t channelCount;
    uint32_t dataBytes;   // record data bytes (without id and invalidation bytes)
    int dataBytesChannel; // index of the DataBytes channel, -1 when the kind has none
    bool vlsd;            // DataBytes holds a VLSD offset
};

// Fills the layout of a kind for a data group (DataBytes width, VLSD storage).
// False for an unknown kind.
bool cMdfWriterRecordLayout_init(cMdfWriterRecordLayout* layout, cMdfWriterFrameKind kind,
                                 const cMdfWriterGroup* group);

// Per-record encoding state of one channel group of a data group.
struct cMdfWriterRecordEncoder {
    const cMdfWriterRecordLayout* layout;
    const cMdfWriterGroup* group;
    bool omit[12]; // channels left out of the layout (by name), not written
};

void cMdfWriterRecordEncoder_init(cMdfWriterRecordEncoder* enc,
                                  const cMdfWriterRecordLayout* layout,
                                  const cMdfWriterGroup* group);

// Encodes frame into rec (layout->dataBytes bytes, zeroed here first). vlsdOffset is the
// value of a VLSD DataBytes channel. False when the frame does not fit the layout (payload
// longer than the array); *why then says so.
bool cMdfWriterRecordEncoder_encode(const cMdfWriterRecordEncoder* enc,
                                    const cMdfWriterFrame* frame, uint64_t vlsdOffset, uint8_t* rec,
                                    const char** why);

// Stores the low bitCount bits of value at bit position pos of buf: little-endian (bit 0 of
// byte 0 first) or big-endian order (position p is bit 7 - p%8 of byte p/8, the first
// position holding the most significant bit). The bits are OR-ed into zeroed storage.
void cMdfWriter_putBits(uint8_t* buf, uint32_t pos, uint32_t bitCount, uint64_t value,
                        bool littleEndian);

// Byte order of the Timestamp channel of a data group's records.
bool cMdfWriter_timeLittleEndian(const cMdfWriterGroup* group);

// Payload byte count a frame of this kind carries in DataBytes (0 without DataBytes).
uint8_t cMdfWriter_payloadLength(const cMdfWriterFrame* frame);
