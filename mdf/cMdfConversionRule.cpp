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

const cMdfConversionRule_vtable defaultVtable = {nullptr, nullptr};
const cMdfConversionRule_vtable linearVtable = {convertLinear, dropLinear};
const cMdfConversionRule_vtable lookupTableExactVtable = {convertLookupTableExact,
                                                          dropLookupTableExact};

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
    case MDF_CONVERSION_LINEAR:
        if (count < 2) return cMdfConversionRule_default();
        return cMdfConversionRule_linear(cc->values[1], cc->values[0]);
    case MDF_CONVERSION_VALUE_TO_VALUE: {
        LookupMap map;
        for (size_t i = 0; i + 1 < count; i += 2)
            map.emplace(cc->values[i], cc->values[i + 1]);
        return cMdfConversionRule_lookupTable(map);
    }
    default:
        return cMdfConversionRule_default();
    }
}
