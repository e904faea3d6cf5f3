// The CAN data frame decoder (its fast route for usual groups, its plain route for the
// others and for short records), against a reading bit by bit of the same record: random channel
// layouts in random order (repeated fields, where the last rule must win), both bit orders, records
// shorter than their channels.
#include <bit>
#include <tuple>

#include "mdf_test_support.h"

namespace {

// One bit at a time, from the bit numbering alone; 0 when the field does not fit.
uint64_t bitsOf(const std::vector<uint8_t>& rec, uint64_t start, uint64_t length, bool little) {
    if (length == 0 || (start + length + 7) / 8 > rec.size()) return 0;
    uint64_t v = 0;
    for (uint64_t i = 0; i < length; ++i) {
        const uint64_t p = start + i, bit = rec[p / 8] >> (little ? p % 8 : 7 - p % 8) & 1;
        if (!little)
            v = v << 1 | bit;
        else if (i < 64)
            v |= bit << i;
    }
    return v;
}

struct Expected {
    bool ok = true;
    cBusMsg msg;
};

// The record read rule by rule, in order.
Expected reference(const std::vector<cMdfDecodeRule>& rules, const std::vector<uint8_t>& rec,
                   const cBusMsg& before) {
    Expected e;
    e.msg = before;
    e.msg.DataBytes.clear();
    e.msg.DataView = nullptr;
    std::memset(static_cast<void*>(&e.msg.CAN), 0, sizeof e.msg.CAN);
    uint64_t dataLength = 0;
    auto sat = [](uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : uint32_t(v); };
    for (const cMdfDecodeRule& r : rules) {
        if (r.valueKind == VALUE_BYTE_ARRAY) {
            if (r.field != FIELD_DATA_BYTES) continue;
            const uint64_t off = r.bitPosition / 8, n = r.bitLength / 8;
            for (uint64_t i = 0; i < n && off + i < rec.size(); ++i)
                e.msg.DataBytes += char(rec[off + i]);
            continue;
        }
        const uint64_t raw = bitsOf(rec, r.bitPosition, r.bitLength, r.littleEndian);
        // clang-format off
        switch (r.field) {
        case FIELD_TIMESTAMP:
            e.msg.Timestamp = r.valueKind == VALUE_FLOAT ? std::bit_cast<double>(raw) : double(raw);
            break;
        case FIELD_BUS_CHANNEL: e.msg.BusChannel = uint8_t(sat(raw)); break;
        case FIELD_ID: e.msg.ID = sat(raw); break;
        case FIELD_IDE: e.msg.CAN.IDE = raw != 0; break;
        case FIELD_DIR: e.msg.CAN.Dir = raw != 0; break;
        case FIELD_EDL: e.msg.CAN.EDL = raw != 0; break;
        case FIELD_ESI: e.msg.CAN.ESI = raw != 0; break;
        case FIELD_BRS: e.msg.CAN.BRS = raw != 0; break;
        case FIELD_DLC: e.msg.CAN.DLC = uint8_t(sat(raw)); break;
        case FIELD_DATA_LENGTH: dataLength = uint8_t(sat(raw)); break;
        default: e.ok = false; break;
        }
        // clang-format on
    }
    if (!e.ok) {
        e.msg.DataBytes.clear();
        return e;
    }
    if (e.msg.DataBytes.size() > dataLength) e.msg.DataBytes.resize(dataLength);
    e.msg.Type = BUS_MSG_CAN_DATA_FRAME;
    return e;
}

// Every field of the message, the time by its bits.
auto fieldsOf(const cBusMsg& m) {
    return std::make_tuple(int(m.Type), std::bit_cast<uint64_t>(m.Timestamp), int(m.BusChannel),
                           m.ID, int(m.CAN.IDE), int(m.CAN.Dir), int(m.CAN.EDL), int(m.CAN.ESI),
                           int(m.CAN.BRS), int(m.CAN.DLC), std::string(cBusMsg_data(&m)));
}

const char* const kNames[] = {
    "Timestamp",
    "CAN_DataFrame.BusChannel",
    "CAN_DataFrame.ID",
    "CAN_DataFrame.IDE",
    "CAN_DataFrame.Dir",
    "CAN_DataFrame.EDL",
    "CAN_DataFrame.ESI",
    "CAN_DataFrame.BRS",
    "CAN_DataFrame.DLC",
    "CAN_DataFrame.DataLength",
    "CAN_DataFrame.DataBytes",
    "CAN_DataFrame.Extra",
    "CAN_DataFrame.Unknown",
};

TEST(CanDataFrameSteps, RandomLayoutsMatchRuleByRuleReading) {
    std::mt19937_64 rng(20261207);
    auto pick = [&rng](uint64_t n) { return rng() % n; };
    int refused = 0, shortRecords = 0, usual = 0;
    for (int round = 0; round < 20000; ++round) {
        // A quarter of the groups have every field and one array, in any order and with
        // repeats: the decoder's short way when all of them are loads.
        const bool everyField = pick(4) == 0;
        std::vector<cMdfDecodeRule> rules(everyField ? 11 + pick(4) : 1 + pick(14));
        std::vector<size_t> names(rules.size());
        for (size_t i = 0; i < names.size(); ++i)
            names[i] = i < 11 ? i : pick(10);
        std::shuffle(names.begin(), names.end(), rng);
        const uint64_t recordBytes = 24 + pick(24);
        for (size_t i = 0; i < rules.size(); ++i) {
            cMdfDecodeRule& r = rules[i];
            cMdfDecodeRule_init(&r);
            // Mostly the known fields, so that fields repeat; now and then the others.
            r.name = kNames[everyField ? names[i] : pick(8) ? pick(11) : pick(std::size(kNames))];
            cMdfDecodeRule_mapName(&r);
            r.littleEndian = pick(everyField ? 50 : 5) != 0;
            const bool array = r.name.ends_with("Bytes") || r.name.ends_with("Extra");
            if (array) {
                r.valueKind = VALUE_BYTE_ARRAY;
                r.littleEndian = 1;
                r.bitPosition = 8 * pick(recordBytes);
                r.bitLength = 8 * pick(20);
            } else if (r.field == FIELD_TIMESTAMP && pick(2)) {
                r.valueKind = VALUE_FLOAT;
                r.bitLength = 64;
                r.bitPosition = pick(4) ? 8 * pick(recordBytes - 7) : pick(8 * recordBytes - 63);
            } else {
                r.bitLength = 1 + pick(pick(4) ? 32 : 64);
                r.bitPosition = pick(8 * recordBytes - r.bitLength + 1);
            }
        }
        std::vector<uint8_t> rec(recordBytes);
        for (uint8_t& b : rec)
            b = uint8_t(rng());
        // A record shorter than its channel group's layout: cut anywhere, even to nothing.
        if (pick(4) == 0) {
            rec.resize(pick(recordBytes));
            ++shortRecords;
        }
        cBusMsg before{};
        before.ID = uint32_t(rng());
        before.BusChannel = uint8_t(rng());
        before.Type = BUS_MSG_LIN_FRAME;
        before.DataBytes = "stale";
        before.DataView = reinterpret_cast<const uint8_t*>("stale view");
        before.DataViewLength = 10;
        const Expected want = reference(rules, rec, before);
        refused += !want.ok;

        const cMdfGroupDecoder d{cMdfDecoders_decodeCanDataFrame, &rules,
                                 cMdfCanDataPlan_build(&rules)};
        usual += d.canData.fast;
        // Bytes that stay are pointed at, others copied: the payload is the same.
        cMdfRecord view{rec.data(), rec.size(), nullptr, 0, pick(2) == 0};
        cBusMsg got = before;
        const bool ok = cMdfGroupDecoder_run(&d, &view, &got);
        ASSERT_EQ(ok, want.ok) << round;
        ASSERT_EQ(fieldsOf(got), fieldsOf(want.msg)) << "round " << round;
        cMdfDecodeRule_dropAll(&rules);
    }
    // The draw reaches every kind of case.
    EXPECT_GT(refused, 700);
    EXPECT_GT(shortRecords, 1000);
    EXPECT_GT(usual, 1500);
}

} // namespace
