#include "mdf/cMdfDecoders.h"

#include <string_view>

bool cMdfDecoders_decodeGeneric(const cMdfGroupDecoder*, const cMdfRecord*, cBusMsg* msg) {
    if (msg) {
        msg->Type = BUS_MSG_NONE;
        msg->DataView = nullptr;
    }
    return false;
}

bool cMdfGroupDecoder_make(const std::vector<cMdfDecodeRule>* rules, cMdfGroupDecoder* decoder) {
    if (!decoder) return false;
    *decoder = cMdfGroupDecoder{nullptr, rules, cMdfCanDataPlan{}};
    if (!rules) return false;
    // Names without a '.' (the master channel "Timestamp") do not count.
    std::string_view prefix;
    bool found = false;
    for (const cMdfDecodeRule& r : *rules) {
        const size_t dot = r.name.find('.');
        if (dot == std::string::npos) continue;
        const std::string_view p(r.name.data(), dot);
        if (!found) {
            prefix = p;
            found = true;
        } else if (p != prefix) {
            return false;
        }
    }
    if (!found) return false;
    static const struct {
        std::string_view prefix;
        cMdfDecoderFn fn;
    } table[] = {
        {"CAN_DataFrame", cMdfDecoders_decodeCanDataFrame},
        {"CAN_RemoteFrame", cMdfDecoders_decodeCanRemoteFrame},
        {"CAN_ErrorFrame", cMdfDecoders_decodeCanErrorFrame},
        {"LIN_Frame", cMdfDecoders_decodeLinFrame},
        {"LIN_ChecksumError", cMdfDecoders_decodeLinChecksumError},
        {"LIN_ReceiveError", cMdfDecoders_decodeLinReceiveError},
        {"LIN_SyncError", cMdfDecoders_decodeLinSyncError},
        {"LIN_TransmissionError", cMdfDecoders_decodeLinTransmissionError},
    };
    decoder->fn = cMdfDecoders_decodeGeneric;
    for (const auto& e : table) {
        if (e.prefix == prefix) decoder->fn = e.fn;
    }
    if (decoder->fn == cMdfDecoders_decodeCanDataFrame)
        decoder->canData = cMdfCanDataPlan_build(rules);
    return true;
}
