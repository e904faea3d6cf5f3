#pragma once
// A signal data block: the values of variable-length channels, each a 32-bit length and
// that many bytes, addressed by their offset in the data section. Like a DT block it is a
// read-only byte stream over its data section (see cMdfBlock_DT.h for the view).
//
// On disk ("##SD", no links): the header, then length - 24 bytes of entries.
//
// cMdfBlock_SD_obj_t, after the generic part:
//   dataOffset - absolute offset of the first data byte in source
//   source     - the stream the data is read from
//   ownsSource - true: the block closes source when it goes
//   view       - the stream face (cMdfBlock_streamView)

#include <cstdint>

#include "io/cIO.h"
#include "mdf/cMdfBlock.h"
#include "mdf/cMdfBlock_DT.h"

struct cMdfBlock_SD_obj_t : cMdfBlock_obj_t {
    uint64_t dataOffset;
    cIO* source;
    bool ownsSource;
    cMdfBlock_streamView view;
};

CMDF_BLOCK_DECLARE_CASTS(SD)

carc_cMdfBlock cMdfBlock_SD_ctor();
// A new block owning stream: data offset 0, length 24 + the stream's size, stream rewound.
carc_cMdfBlock cMdfBlock_SD_ctor_fromIO(cIO* stream);
bool cMdfBlock_SD_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
bool cMdfBlock_SD_save(cMdfBlock_obj_t* block, cMdfBlock_saveContext* ctx, cMdfBlock_obj_t* next);
void cMdfBlock_SD_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_SD_dtor(cMdfBlock_obj_t* block);

uint64_t cMdfBlock_SD_getDataOffset(const cMdfBlock_SD_obj_t* sd);
// The block's stream view; null for null.
cIO* cMdfBlock_SD_getIOInterface(cMdfBlock_SD_obj_t* sd);
// Takes over stream as the owned source (a source owned before is closed); data offset 0.
void cMdfBlock_SD_setData(cMdfBlock_SD_obj_t* sd, cIO* stream);

int64_t cIO_cMdfBlock_SD_read(cIO* io, void* dst, uint64_t n);
int64_t cIO_cMdfBlock_SD_obj_tell(cIO* io);
int64_t cIO_cMdfBlock_SD_seek(cIO* io, int64_t offset, int32_t origin);
