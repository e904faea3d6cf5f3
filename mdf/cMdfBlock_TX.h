#pragma once
// A text block holding plain text (names, units, simple comments).
//
// On disk ("##TX", no links): the header, then the text, a zero byte and zero padding; the
// data section (length - 24) covers all three.
//
// cMdfBlock_TX_obj_t, after the generic part:
//   text - the text without terminator and padding (owned)

#include <cstdint>
#include <string>
#include <string_view>

#include "mdf/cMdfBlock.h"

struct cMdfBlock_TX_obj_t : cMdfBlock_obj_t {
    std::string text;
};

CMDF_BLOCK_DECLARE_CASTS(TX)

carc_cMdfBlock cMdfBlock_TX_ctor();
bool cMdfBlock_TX_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
void cMdfBlock_TX_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_TX_dtor(cMdfBlock_obj_t* block);

// The text; empty for a null block.
std::string_view cMdfBlock_TX_getData(const cMdfBlock_TX_obj_t* block);

// The text loading TX and MD blocks share: reads the data section (the stream stands at it)
// into *text, cut before the first zero byte unless that is the very first byte.
bool cMdfBlock_textLoad(cIO* stream, const cMdfBlockHeader* header, std::string* text);
