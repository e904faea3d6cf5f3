#include "mdf/cMdfDecodeRule.h"

#include <string_view>

#include "support/log.h"

namespace {

// The channel names of the bus-logging convention that feed a message field.
const struct {
    std::string_view name;
    cMdfDecodeField field;
} kFieldNames[] = {
    {"CAN_DataFrame.BRS", FIELD_BRS},
    {"CAN_DataFrame.BusChannel", FIELD_BUS_CHANNEL},
    {"CAN_RemoteFrame.BusChannel", FIELD_BUS_CHANNEL},
    {"CAN_ErrorFrame.BusChannel", FIELD_BUS_CHANNEL},
    {"CAN_DataFrame.DataBytes", FIELD_DATA_BYTES},
    {"CAN_DataFrame.DataLength", FIELD_DATA_LENGTH},
    {"CAN_RemoteFrame.DataLength", FIELD_DATA_LENGTH},
    {"CAN_DataFrame.Dir", FIELD_DIR},
    {"CAN_RemoteFrame.Dir", FIELD_DIR},
    {"CAN_DataFrame.DLC", FIELD_DLC},
    {"CAN_RemoteFrame.DLC", FIELD_DLC},
    {"CAN_DataFrame.EDL", FIELD_EDL},
    {"CAN_ErrorFrame.ErrorType", FIELD_ERROR_TYPE},
    {"CAN_DataFrame.ESI", FIELD_ESI},
    {"CAN_DataFrame.ID", FIELD_ID},
    {"CAN_RemoteFrame.ID", FIELD_ID},
    {"CAN_DataFrame.IDE", FIELD_IDE},
    {"CAN_RemoteFrame.IDE", FIELD_IDE},
    {"LIN_Frame.BusChannel", FIELD_LIN_BUS_CHANNEL},
    {"LIN_Frame.DataBytes", FIELD_LIN_DATA_BYTES},
    {"LIN_Frame.DataLength", FIELD_LIN_DATA_LENGTH},
    {"LIN_Frame.Dir", FIELD_LIN_DIR},
    {"LIN_Frame.ID", FIELD_LIN_ID},
    {"LIN_Frame.ReceivedDataByteCount", FIELD_LIN_RECEIVED_DATA_BYTE_COUNT},
    {"Timestamp", FIELD_TIMESTAMP},
};

} // namespace

bool cMdfDecodeRule_init(cMdfDecodeRule* rule) {
    if (!rule) return false;
    rule->bitPosition = 0;
    rule->bitLength = 0;
    rule->valueKind = VALUE_UNSIGNED;
    rule->littleEndian = 0;
    rule->conversion = cMdfConversionRule_default();
    rule->name.clear();
    rule->field = FIELD_NONE;
    rule->vlsdBlock = nullptr;
    return true;
}

void cMdfDecodeRule_mapName(cMdfDecodeRule* rule) {
    if (!rule) return;
    rule->field = FIELD_NONE;
    for (const auto& e : kFieldNames) {
        if (e.name == rule->name) {
            rule->field = e.field;
            return;
        }
    }
}

void cMdfDecodeRule_drop(cMdfDecodeRule* rule) {
    if (!rule) return;
    std::string().swap(rule->name);
    cMdfConversionRule_drop(&rule->conversion);
}

cMdfDecodeRule cMdfDecodeRule_clone(const cMdfDecodeRule* rule) {
    cMdfDecodeRule copy;
    cMdfDecodeRule_init(&copy);
    if (!rule) return copy;
    copy.bitPosition = rule->bitPosition;
    copy.bitLength = rule->bitLength;
    copy.valueKind = rule->valueKind;
    copy.littleEndian = rule->littleEndian;
    copy.conversion = cMdfConversionRule_clone(&rule->conversion);
    copy.name = rule->name;
    copy.field = rule->field;
    copy.vlsdBlock = rule->vlsdBlock;
    return copy;
}

void cMdfDecodeRule_dropAll(std::vector<cMdfDecodeRule>* rules) {
    if (!rules) return;
    for (size_t i = rules->size(); i-- > 0;)
        cMdfDecodeRule_drop(&(*rules)[i]);
    rules->clear();
}
