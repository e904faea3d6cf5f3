#pragma once
// A data block: the records of a data group. The data stay in the file; the block is also a
// read-only byte stream over its data section (read, tell, seek), so several DT and SD
// blocks can take turns on the one file stream.
//
// On disk ("##DT", no links): the header, then length - 24 bytes of records.
//
// cMdfBlock_streamView, the stream face of a DT or SD block:
//   io       - the stream interface; its table holds the block's read, tell and seek
//   block    - the DT or SD block this view belongs to
//   position - read position, relative to the data start, never beyond the data size
//
// cMdfBlock_DT_obj_t, after the generic part:
//   dataOffset - absolute offset of the first data byte in source (position + 24 for a
//                block read from a file)
//   source     - the stream the data is read from
//   ownsSource - true: the block closes source when it goes
//   view       - the stream face; data size = cMdfBlockHeader_getDataSize(&header)

#include <cstdint>

#include "io/cIO.h"
#include "mdf/cMdfBlock.h"

struct cMdfBlock_streamView {
    cIO io;
    cMdfBlock_obj_t* block;
    uint64_t position;
};

struct cMdfBlock_DT_obj_t : cMdfBlock_obj_t {
    uint64_t dataOffset;
    cIO* source;
    bool ownsSource;
    cMdfBlock_streamView view;
};

CMDF_BLOCK_DECLARE_CASTS(DT)

carc_cMdfBlock cMdfBlock_DT_ctor();
// A new block owning stream: data offset 0, length 24 + the stream's size, the stream
// rewound. Empty for a null stream or one whose size cannot be taken.
carc_cMdfBlock cMdfBlock_DT_ctor_fromIO(cIO* stream);
bool cMdfBlock_DT_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
bool cMdfBlock_DT_save(cMdfBlock_obj_t* block, cMdfBlock_saveContext* ctx, cMdfBlock_obj_t* next);
void cMdfBlock_DT_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_DT_dtor(cMdfBlock_obj_t* block);

uint64_t cMdfBlock_DT_getDataOffset(const cMdfBlock_DT_obj_t* dt);
// The block's stream view; null for null.
cIO* cMdfBlock_DT_getIOInterface(cMdfBlock_DT_obj_t* dt);
// The n data bytes from offset on (relative to the data start), in place, when the source
// stream hands them out (its fetch slot). Null when not (the caller then reads them through
// the view) or when they reach past the data size. Valid until the next operation on the
// source.
const uint8_t* cMdfBlock_DT_peek(const cMdfBlock_DT_obj_t* dt, uint64_t offset, uint64_t n);
// Takes over stream as the owned source (a source owned before is closed); data offset 0.
void cMdfBlock_DT_setData(cMdfBlock_DT_obj_t* dt, cIO* stream);

// The stream operations of the view (reached through cIO_read, cIO_tell, cIO_seek).
int64_t cIO_cMdfBlock_DT_read(cIO* io, void* dst, uint64_t n);
int64_t cIO_cMdfBlock_DT_obj_tell(cIO* io);
int64_t cIO_cMdfBlock_DT_seek(cIO* io, int64_t offset, int32_t origin);

// The data-section stream both DT and SD views use. read cuts n to the bytes left before
// dataSize and repositions source first (other blocks share it); it advances by the count
// asked (advanceByAsked) or by the bytes delivered. seek clamps its target to dataSize.
int64_t cMdfBlock_dataRead(cMdfBlock_streamView* view, cIO* source, uint64_t dataOffset,
                           uint64_t dataSize, void* dst, uint64_t n, bool advanceByAsked);
int64_t cMdfBlock_dataSeek(cMdfBlock_streamView* view, cIO* source, uint64_t dataOffset,
                           uint64_t dataSize, int64_t offset, int32_t origin);
