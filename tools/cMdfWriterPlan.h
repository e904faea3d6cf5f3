#pragma once
// One data group as it is written: its channel groups with their record layouts and record
// ids, the blocks that describe them, and the streaming of its records into the DT block
// (and its variable-length payloads into the SD block or VLSD channel group records).

#include "tools/cMdfWriter.h"
#include "tools/cMdfWriterBlocks.h"
#include "tools/cMdfWriterLayout.h"
#include "tools/cMdfWriterSink.h"

#include <string>
#include <vector>

// An ordinary channel group of the data group.
struct cMdfWriterCgPlan {
    cMdfWriterRecordLayout layout; // record layout of its kind
    cMdfWriterRecordEncoder enc;   // encoder over layout (set by cMdfWriterPlan_build)
    uint64_t recordId;             // record id written before each of its records
    int block;                     // its CG draft
    uint64_t cycles;               // records written so far
    int vlsd;                      // index into cMdfWriterPlan::vlsd, -1 when it has none
};

// A VLSD channel group carrying the DataBytes of one ordinary channel group.
struct cMdfWriterVlsdPlan {
    uint64_t recordId; // record id of its records
    int block;         // its CG draft
    uint64_t cycles;   // records written so far
    uint64_t bytes;    // payload bytes so far (lengths included): the next entry's offset
};

struct cMdfWriterPlan {
    const cMdfWriterGroup* group;         // borrowed
    int block;                            // the DG draft
    std::vector<cMdfWriterCgPlan> cgs;    // ordinary channel groups, chain order
    std::vector<cMdfWriterVlsdPlan> vlsd; // VLSD channel groups, chained behind cgs
    int cgOfKind[4];                      // frame kind -> index into cgs, -1 when absent
    std::vector<int> sdChannels;          // CN drafts whose data link goes to the SD block
    uint64_t frames;                      // records of ordinary channel groups written
};

// Chooses the channel groups and record ids. False (reason in *error) for options that
// cannot be written.
bool cMdfWriterPlan_init(cMdfWriterPlan* plan, const cMdfWriterGroup* group, std::string* error);

// Adds the DG and everything it describes to blocks; links it behind prevDg (or as the HD's
// first data group when prevDg is MDFW_NO_BLOCK).
void cMdfWriterPlan_build(cMdfWriterPlan* plan, cMdfWriterBlocks* blocks, size_t index, int prevDg,
                          int hd);

// Writes the DT block (and SD block) at the sink's end, 8-byte aligned, and patches the
// links, lengths and counts that refer to them in the already written metadata. With
// keepDtLength24 the DT length stays 24 (unfinalised file). Written blocks are appended to
// result->blocks. False on a bad frame or an output error (reason in *error).
bool cMdfWriterPlan_writeData(cMdfWriterPlan* plan, const cMdfWriterBlocks* blocks,
                              cMdfWriterSink* sink, bool keepDtLength24, size_t index,
                              cMdfWriterResult* result, std::string* error);
