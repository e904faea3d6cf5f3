#pragma once
// Turns a raw channel value into its physical value the way a channel's conversion block
// says: identity, linear, or an exact value-to-value table.
//
// cMdfConversionRule is a small value of two fields:
//   vt   - table of the kind's operations; a null table or an empty slot means the identity
//          (convert) or nothing to release (drop).
//   data - the kind's own data, owned by the rule: two doubles {a, b} for the linear kind,
//          a std::unordered_map<double, double> for the exact lookup, null for the identity.
// A rule is released with cMdfConversionRule_drop; a plain struct copy shares the data, so
// only one copy may be dropped.

#include <cstdint>
#include <unordered_map>

struct cMdfBlock_CC_obj_t;
struct cMdfConversionRule;

struct cMdfConversionRule_vtable {
    double (*convert)(const cMdfConversionRule* rule, double x);
    void (*drop)(cMdfConversionRule* rule);
};

struct cMdfConversionRule {
    const cMdfConversionRule_vtable* vt;
    void* data;
};

// Identity: every slot empty, no data.
cMdfConversionRule cMdfConversionRule_default();
// a * x + b, as one fused multiply-add.
cMdfConversionRule cMdfConversionRule_linear(double a, double b);
// The value stored under a key equal to x; NaN for a miss or an empty map. Keeps a copy.
cMdfConversionRule cMdfConversionRule_lookupTable(const std::unordered_map<double, double>& map);

// x for a null rule or a kind without convert.
double cMdfConversionRule_convert(const cMdfConversionRule* rule, double x);
// Releases the data and leaves the identity behind; null is accepted.
void cMdfConversionRule_drop(cMdfConversionRule* rule);

// The conversion a CC block describes: linear, exact value-to-value lookup, anything else
// (and a null block) the identity.
cMdfConversionRule cMdfBlock_CC_getConversionRule(const cMdfBlock_CC_obj_t* cc);
