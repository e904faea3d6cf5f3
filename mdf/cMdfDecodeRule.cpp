#include "mdf/cMdfDecodeRule.h"

#include <string_view>

#include "mdf/cMdfBlock_CC.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_CN.h"
#include "mdf/cMdfBlock_TX.h"
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

// Deepest nesting of composed channels followed; a logger file uses two or three levels.
constexpr size_t kMaxCompositionDepth = 256;

// The rule of one leaf channel.
void appendLeafRule(const cMdfBlock_CN_obj_t* cn, std::vector<cMdfDecodeRule>* rules) {
    cMdfDecodeRule rule;
    cMdfDecodeRule_init(&rule);
    std::string_view name = cMdfBlock_TX_getData(carc_cMdfBlock_to_cMdfBlock_TX_obj_t(cn->name));
    rule.name.assign(name.data(), name.size());
    cMdfDecodeRule_mapName(&rule);
    rule.bitPosition = uint64_t{cn->byteOffset} * 8 + cn->bitOffset;
    rule.bitLength = cn->bitCount;
    switch (cn->dataType) {
    case MDF_DATA_UINT_LE:
        rule.littleEndian = 1;
        break;
    case MDF_DATA_UINT_BE:
        break;
    case MDF_DATA_FLOAT_LE:
        rule.valueKind = VALUE_FLOAT;
        rule.littleEndian = 1;
        break;
    case MDF_DATA_FLOAT_BE:
        rule.valueKind = VALUE_FLOAT;
        break;
    case MDF_DATA_BYTE_ARRAY:
        rule.valueKind = VALUE_BYTE_ARRAY;
        rule.littleEndian = 1;
        break;
    default:
        // Signed integers, strings and codes the format does not define are read as an
        // unsigned big-endian integer.
        ZF_LOGW("Unsupported channel data type: %u", unsigned{cn->dataType});
        break;
    }
    const cMdfBlock_CC_obj_t* cc = carc_cMdfBlock_to_cMdfBlock_CC_obj_t(cn->conversion);
    rule.conversion = cc ? cMdfBlock_CC_getConversionRule(cc) : cMdfConversionRule_default();
    if (cn->channelType == MDF_CHANNEL_VLSD) rule.vlsdBlock = cn->signalData.get();
    rules->push_back(std::move(rule));
}

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

void cMdfDecodeRule_dropAll(std::vector<cMdfDecodeRule>* rules) {
    if (!rules) return;
    for (size_t i = rules->size(); i-- > 0;)
        cMdfDecodeRule_drop(&(*rules)[i]);
    rules->clear();
}

bool createDecodingRulesInner(const cMdfBlock_CN_obj_t* cn, std::vector<cMdfDecodeRule>* rules) {
    if (!cn || !rules) return false;
    // Depth first over the composition lists without recursion, so that no channel tree in
    // a file can exhaust the stack; the rule cap keeps shared sub-trees from multiplying.
    struct Level {
        const cdeq_cMdfBlock* list;
        size_t next;
    };
    std::vector<Level> stack;
    auto visit = [&](const cMdfBlock_CN_obj_t* ch) -> bool {
        if (!ch->composition.empty()) {
            if (stack.size() >= kMaxCompositionDepth) {
                ZF_LOGE("Channel composition nested too deeply");
                return false;
            }
            stack.push_back({&ch->composition, 0});
            return true;
        }
        if (rules->size() >= cMdfDecodeRule_MAX_PER_GROUP) {
            ZF_LOGE("Too many channels in one channel group");
            return false;
        }
        appendLeafRule(ch, rules);
        return true;
    };
    if (!visit(cn)) return true;
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next >= top.list->size()) {
            stack.pop_back();
            continue;
        }
        const cMdfBlock_CN_obj_t* member =
            carc_cMdfBlock_to_cMdfBlock_CN_obj_t((*top.list)[top.next++]);
        if (member && !visit(member)) break;
    }
    return true;
}

std::vector<cMdfDecodeRule>* cMdfBlock_CG_getDecodingRules(cMdfBlock_CG_obj_t* cg) {
    if (!cg) return nullptr;
    cMdfDecodeRule_dropAll(&cg->rules);
    for (const carc_cMdfBlock& ch : cg->channels) {
        createDecodingRulesInner(carc_cMdfBlock_to_cMdfBlock_CN_obj_t(ch), &cg->rules);
    }
    return &cg->rules;
}
