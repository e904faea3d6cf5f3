#pragma once
// Turns a raw channel value into its physical value the way a channel's conversion block
// says: identity, linear, or an exact value-to-value table.
//
// cMdfConversionRule is a small value of two fields:
//   vt   - table of the kind's operations; a null table or an empty slot means the identity
//          (convert), nothing to release (drop) or share the value as it is (clone).
//   data - the kind's own data, owned by the rule: two doubles {a, b} for the linear kind,
//          a std::unordered_map<double, double> for the exact lookup, null for the identity.
// A rule is released with cMdfConversionRule_drop; a copy that must outlive the original is
// made with cMdfConversionRule_clone (a plain struct copy shares the data).

#include <cstdint>
#include <map>
#include <unordered_map>

struct cMdfBlock_CC_obj_t;
struct cMdfConversionRule;

struct cMdfConversionRule_vtable {
    double (*convert)(const cMdfConversionRule* rule, double x);
    void (*drop)(cMdfConversionRule* rule);
    cMdfConversionRule (*clone)(const cMdfConversionRule* rule);
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
// A copy with its own data; the identity (no clone slot) is returned as it is.
cMdfConversionRule cMdfConversionRule_clone(const cMdfConversionRule* rule);
// Releases the data and leaves the identity behind; null is accepted.
void cMdfConversionRule_drop(cMdfConversionRule* rule);

// The conversion a CC block describes: type 1 linear, type 5 exact lookup, anything else
// (and a null block) the identity.
cMdfConversionRule cMdfBlock_CC_getConversionRule(const cMdfBlock_CC_obj_t* cc);
// Turn a CC block into a linear conversion with parameters p1, p2 (physical = p1 + p2 * raw).
void cMdfBlock_CC_setLinear(cMdfBlock_CC_obj_t* cc, double p1, double p2);
// Turn a CC block into an exact value-to-value table, pairs in ascending key order.
void cMdfBlock_CC_setLookup(cMdfBlock_CC_obj_t* cc, const std::map<double, double>* map);
