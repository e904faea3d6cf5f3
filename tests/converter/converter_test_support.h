#pragma once
// What the writer tests share: frames made from a few letters.

#include <cstring>
#include <string>

#include "bus/cBusLayer.h"

// A CAN data frame, or with the kind and flags given: kinds "L" LIN, "R" remote, "X" error;
// flags I IDE, D Dir (Tx), E EDL, B BRS, S ESI.
inline cBusMsg frame(double t, uint8_t bus, uint32_t id, std::string data, uint8_t dlc,
                     const char* what = "") {
    cBusMsg msg{};
    msg.Timestamp = t;
    msg.BusChannel = bus;
    msg.ID = id;
    msg.DataBytes = std::move(data);
    auto has = [what](char c) -> uint8_t { return std::strchr(what, c) != nullptr; };
    msg.Type = has('L')   ? BUS_MSG_LIN_FRAME
               : has('R') ? BUS_MSG_CAN_REMOTE_FRAME
               : has('X') ? BUS_MSG_CAN_ERROR_FRAME
                          : BUS_MSG_CAN_DATA_FRAME;
    msg.CAN = {has('I'), has('D'), has('E'), has('S'), has('B'), has('R'), dlc};
    return msg;
}
