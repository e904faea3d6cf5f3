#pragma once
// The two blocks whose data section is raw bytes: a data block (DT) holds the records of a
// data group, a signal data block (SD) the values of variable-length channels, each a 32-bit
// length and that many bytes, addressed by their offset in the data section. One object type
// serves both; the header's type tells which it is. The bytes stay in the file; the block is
// also a read-only byte stream over its data section (read, tell, seek), so that several
// data blocks can take turns on the one file stream.
//
// On disk ("##DT" or "##SD", no links): the header, then length - 24 bytes of data.
//
// cMdfBlock_dataStream, the stream face of a data block:
//   io     - the stream interface; its table holds the block's read, tell and seek
//   block  - the block the face belongs to
//   readAt - read position, relative to the data start, never beyond the data size
//
// cMdfBlock_data_obj_t, after the generic part:
//   dataOffset - absolute offset of the first data byte in source (position + 24)
//   source     - the file stream the data is read from (not owned)
//   stream     - the stream face; data size = cMdfBlockHeader_getDataSize(&header)

#include <cstdint>

#include "io/cIO.h"
#include "mdf/cMdfBlock.h"

struct cMdfBlock_data_obj_t;

struct cMdfBlock_dataStream {
    cIO io;
    cMdfBlock_data_obj_t* block;
    uint64_t readAt;
};

struct cMdfBlock_data_obj_t : cMdfBlock_obj_t {
    uint64_t dataOffset;
    cIO* source;
    cMdfBlock_dataStream stream;
};

// Typed views of a generic block: null unless it is a DT (or an SD) block.
const cMdfBlock_data_obj_t* carc_cMdfBlock_to_cMdfBlock_DT_obj_t(const carc_cMdfBlock& block);
cMdfBlock_data_obj_t* carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(const carc_cMdfBlock& block);
cMdfBlock_data_obj_t* cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(cMdfBlock_obj_t* block);

// A new, empty DT or SD block (type must be one of the two).
carc_cMdfBlock cMdfBlock_data_ctor(cMdfBlockType type);
// Takes the data section in stream, the file stream, behind the header. A data block has no
// links: a link count read from one is damage, and is logged.
bool cMdfBlock_data_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                         const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
void cMdfBlock_data_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_data_dtor(cMdfBlock_obj_t* block);

// Bytes in the data section; 0 for null.
uint64_t cMdfBlock_data_getSize(const cMdfBlock_data_obj_t* block);
// The block's stream face; null for null.
cIO* cMdfBlock_data_getIOInterface(cMdfBlock_data_obj_t* block);
// The n data bytes from offset on (relative to the data start), in place, when the source
// stream hands them out (its fetch slot). Null when not (the caller then reads them through
// the stream face) or when they reach past the data size. Valid until the next operation on
// the source.
const uint8_t* cMdfBlock_data_peek(const cMdfBlock_data_obj_t* block, uint64_t offset, uint64_t n);
