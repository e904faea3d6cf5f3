#include "app/cRunRecord.h"

#include <cinttypes>
#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at text[at], or 0 when there is none.
size_t utf8Length(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length;
    uint32_t min;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
    if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

void appendEscape(std::string* out, unsigned char c) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", c);
    *out += text;
}

void appendNumber(std::string* out, const char* key, uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64, value);
    *out += ",\"";
    *out += key;
    *out += "\":";
    *out += text;
}

void appendKey(std::string* out, const char* key) {
    *out += ",\"";
    *out += key;
    *out += "\":";
}

void appendStringOrNull(std::string* out, const char* key, const std::string& text) {
    appendKey(out, key);
    if (text.empty())
        *out += "null";
    else
        cRunRecord_appendString(out, text);
}

} // namespace

const char* cRunRecord_resultName(cRunRecordResult result) {
    switch (result) {
    case cRunRecordResult::CONVERTED:
        return "converted";
    case cRunRecordResult::FAILED:
        return "failed";
    case cRunRecordResult::REPEATED:
        return "repeated";
    case cRunRecordResult::NO_CAN_FRAMES:
        return "no-can-frames";
    case cRunRecordResult::UP_TO_DATE:
        return "up-to-date";
    case cRunRecordResult::NOT_A_LOG:
        return "not-a-log";
    }
    return "failed";
}

void cRunRecord_appendString(std::string* out, std::string_view text) {
    *out += '"';
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            *out += '\\';
            *out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            appendEscape(out, c);
            ++i;
        } else if (const size_t n = utf8Length(text, i); n > 0) {
            out->append(text.substr(i, n));
            i += n;
        } else {
            appendEscape(out, c);
            ++i;
        }
    }
    *out += '"';
}

std::string cRunRecord_json(const cRunRecord& r) {
    std::string out = "{\"input\":";
    cRunRecord_appendString(&out, r.input);
    appendStringOrNull(&out, "output", r.output);
    appendKey(&out, "result");
    cRunRecord_appendString(&out, cRunRecord_resultName(r.result));
    appendNumber(&out, "status", r.status);
    appendStringOrNull(&out, "message", r.message);
    appendNumber(&out, "frames", r.frames);
    appendNumber(&out, "left_out", r.leftOut);
    appendKey(&out, "containers");
    out += '[';
    for (size_t i = 0; i < r.containers.size(); ++i) {
        if (i > 0) out += ',';
        cRunRecord_appendString(&out, r.containers[i]);
    }
    out += ']';
    if (r.headerKnown) {
        appendStringOrNull(&out, "device", r.device);
        appendNumber(&out, "session", r.session);
        appendNumber(&out, "split", r.split);
    } else {
        out += ",\"device\":null,\"session\":null,\"split\":null";
    }
    appendNumber(&out, "bytes", r.bytes);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
    appendKey(&out, "seconds");
    out += seconds;
    appendKey(&out, "deleted");
    out += r.deleted ? "true" : "false";
    out += "}\n";
    return out;
}
