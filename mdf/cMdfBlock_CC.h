#pragma once
// A channel conversion: how raw values become physical values.
//
// On disk ("##CC", 80 bytes + 8 per value, 4 links):
//   24 link 0 name (TX), 32 link 1 unit, 40 link 2 comment, 48 link 3 inverse conversion
//   56 1 conversion type, 57 1 precision, 58 2 flags, 60 2 reference count, 62 2 value count,
//   64 8 physical range min, 72 8 physical range max, 80 8 * value count parameters
//
// cMdfBlock_CC_obj_t, after the generic part:
//   name, unit, comment, inverse - shared references, may be empty
//   conversionType               - as stored (cMdfConversionType)
//   precision, flags, refCount   - as stored (refCount is not used)
//   valueCount                   - number of parameters
//   rangeMin, rangeMax           - physical range
//   values                       - the valueCount parameters

#include <cstdint>
#include <vector>

#include "mdf/cMdfBlock.h"

// Conversion types as the file numbers them.
enum cMdfConversionType : uint8_t {
    MDF_CONVERSION_IDENTITY = 0,
    MDF_CONVERSION_LINEAR = 1,
    MDF_CONVERSION_RATIONAL = 2,
    MDF_CONVERSION_ALGEBRAIC = 3,
    MDF_CONVERSION_VALUE_TO_VALUE_INTERPOLATED = 4,
    MDF_CONVERSION_VALUE_TO_VALUE = 5,
    MDF_CONVERSION_RANGE_TO_VALUE = 6,
    MDF_CONVERSION_VALUE_TO_TEXT = 7,
    MDF_CONVERSION_RANGE_TO_TEXT = 8,
    MDF_CONVERSION_TEXT_TO_VALUE = 9,
    MDF_CONVERSION_TEXT_TO_TEXT = 10,
    MDF_CONVERSION_BITFIELD_TEXT = 11,
};

struct cMdfBlock_CC_obj_t : cMdfBlock_obj_t {
    carc_cMdfBlock name;
    carc_cMdfBlock unit;
    carc_cMdfBlock comment;
    carc_cMdfBlock inverse;
    cMdfConversionType conversionType;
    uint8_t precision;
    uint16_t flags;
    uint16_t refCount;
    uint16_t valueCount;
    double rangeMin;
    double rangeMax;
    std::vector<double> values;
};

CMDF_BLOCK_DECLARE_CASTS(CC)

carc_cMdfBlock cMdfBlock_CC_ctor();
bool cMdfBlock_CC_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
void cMdfBlock_CC_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_CC_dtor(cMdfBlock_obj_t* block);
