#include "mdf/cMdfConversionRule.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "mdf/cMdfBlock_CC.h"

namespace {

using LookupMap = std::unordered_map<double, double>;

struct LinearData {
    double a;
    double b;
};

double convertLinear(const cMdfConversionRule* rule, double x) {
    const auto* d = static_cast<const LinearData*>(rule->data);
    return d ? std::fma(d->a, x, d->b) : x;
}

void dropLinear(cMdfConversionRule* rule) {
    delete static_cast<LinearData*>(rule->data);
    rule->data = nullptr;
}

cMdfConversionRule cloneLinear(const cMdfConversionRule* rule) {
    const auto* d = static_cast<const LinearData*>(rule->data);
    return d ? cMdfConversionRule_linear(d->a, d->b) : cMdfConversionRule_default();
}

double convertLookupTableExact(const cMdfConversionRule* rule, double x) {
    const auto* map = static_cast<const LookupMap*>(rule->data);
    if (map) {
        auto it = map->find(x);
        if (it != map->end()) return it->second;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

void dropLookupTableExact(cMdfConversionRule* rule) {
    delete static_cast<LookupMap*>(rule->data);
    rule->data = nullptr;
}

cMdfConversionRule cloneLookupTableExact(const cMdfConversionRule* rule) {
    const auto* map = static_cast<const LookupMap*>(rule->data);
    return cMdfConversionRule_lookupTable(map ? *map : LookupMap{});
}

const cMdfConversionRule_vtable defaultVtable = {nullptr, nullptr, nullptr};
const cMdfConversionRule_vtable linearVtable = {convertLinear, dropLinear, cloneLinear};
const cMdfConversionRule_vtable lookupTableExactVtable = {
    convertLookupTableExact, dropLookupTableExact, cloneLookupTableExact};

} // namespace

cMdfConversionRule cMdfConversionRule_default() {
    return {&defaultVtable, nullptr};
}

cMdfConversionRule cMdfConversionRule_linear(double a, double b) {
    auto* d = new (std::nothrow) LinearData{a, b};
    if (!d) return cMdfConversionRule_default();
    return {&linearVtable, d};
}

cMdfConversionRule cMdfConversionRule_lookupTable(const std::unordered_map<double, double>& map) {
    auto* copy = new (std::nothrow) LookupMap(map);
    if (!copy) return cMdfConversionRule_default();
    return {&lookupTableExactVtable, copy};
}

double cMdfConversionRule_convert(const cMdfConversionRule* rule, double x) {
    if (!rule || !rule->vt || !rule->vt->convert) return x;
    return rule->vt->convert(rule, x);
}

cMdfConversionRule cMdfConversionRule_clone(const cMdfConversionRule* rule) {
    if (!rule) return cMdfConversionRule_default();
    if (!rule->vt || !rule->vt->clone) return *rule;
    return rule->vt->clone(rule);
}

void cMdfConversionRule_drop(cMdfConversionRule* rule) {
    if (!rule) return;
    if (rule->vt && rule->vt->drop) rule->vt->drop(rule);
    *rule = cMdfConversionRule_default();
}

cMdfConversionRule cMdfBlock_CC_getConversionRule(const cMdfBlock_CC_obj_t* cc) {
    if (!cc) return cMdfConversionRule_default();
    // Only the parameters that are really there count, whatever the value count says.
    size_t count = std::min<size_t>(cc->valueCount, cc->values.size());
    switch (cc->conversionType) {
    case 1:
        if (count < 2) return cMdfConversionRule_default();
        return cMdfConversionRule_linear(cc->values[1], cc->values[0]);
    case 5: {
        LookupMap map;
        for (size_t i = 0; i + 1 < count; i += 2)
            map.emplace(cc->values[i], cc->values[i + 1]);
        return cMdfConversionRule_lookupTable(map);
    }
    default:
        return cMdfConversionRule_default();
    }
}

void cMdfBlock_CC_setLinear(cMdfBlock_CC_obj_t* cc, double p1, double p2) {
    if (!cc) return;
    cc->conversionType = 1;
    cc->valueCount = 2;
    cc->values = {p1, p2};
    cc->header.length = 80 + 8 * uint64_t{cc->valueCount};
}

void cMdfBlock_CC_setLookup(cMdfBlock_CC_obj_t* cc, const std::map<double, double>* map) {
    if (!cc || !map) return;
    // The value count is a 16-bit field: the pair count is taken modulo 32768.
    size_t pairs = map->size() % 32768;
    cc->conversionType = 5;
    cc->valueCount = static_cast<uint16_t>(2 * pairs);
    cc->values.clear();
    cc->values.reserve(2 * pairs);
    for (const auto& [key, value] : *map) {
        if (cc->values.size() >= 2 * pairs) break;
        cc->values.push_back(key);
        cc->values.push_back(value);
    }
    cc->header.length = 80 + 8 * uint64_t{cc->valueCount};
}
