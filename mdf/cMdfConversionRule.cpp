#include "mdf/cMdfConversionRule.h"

#include <cmath>
#include <limits>
#include <new>

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
