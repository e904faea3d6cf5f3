#pragma once
// A text block holding an XML document (structured comments).
//
// On disk ("##MD", no links): the header, then the text, a zero byte and zero padding; the
// data section (length - 24) covers all three.
//
// cMdfBlock_MD_obj_t, after the generic part:
//   text - the text without terminator and padding (owned)

#include <cstdint>
#include <string>
#include <string_view>

#include "mdf/cMdfBlock.h"

struct cMdfBlock_MD_obj_t : cMdfBlock_obj_t {
    std::string text;
};

CMDF_BLOCK_DECLARE_CASTS(MD)

carc_cMdfBlock cMdfBlock_MD_ctor();
bool cMdfBlock_MD_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
void cMdfBlock_MD_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_MD_dtor(cMdfBlock_obj_t* block);

// The text; empty for a null block.
std::string_view cMdfBlock_MD_getData(const cMdfBlock_MD_obj_t* block);
