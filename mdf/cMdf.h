#pragma once
// Entry point of the MDF reader: opening a logger file, its XML metadata and the
// time-ordered iterator over its bus messages.
//
// cMdf:
//   stream - the stream the file is read from; not owned (closed by the caller after
//            cMdf_close)
//   root   - the identification block, which holds the header block and the whole tree
//   unfinalised - the logger never closed the file: its last data block was stretched to
//            the end of the stream, where a last record may be cut short
//
// cMdfMetaData, one item ("e" element) of the comment XML:
//   name, description, unit, type - the element's attributes of these names
//   value                         - its character data, leading blanks removed
//   ro                            - true when its "ro" attribute is exactly "true"

#include <string>
#include <unordered_map>

#include "io/cIO.h"
#include "mdf/cMdfBlock.h"

struct cMdfParallelIter;

struct cMdf {
    cIO* stream;
    carc_cMdfBlock root;
    bool unfinalised;
};

struct cMdfMetaData {
    std::string name;
    std::string description;
    std::string unit;
    std::string type;
    std::string value;
    bool ro;
};

// Item path ("HDcomment.Device Information.serial number") -> item.
using cMdfMetaDataMap = std::unordered_map<std::string, cMdfMetaData>;

// Loads the tree, accepts only files of the logger family (tool id in a file history
// comment) and repairs the length of the last data block of an unfinalised file in memory.
// Null on failure (logged) and for a null stream.
cMdf* cMdf_open(cIO* stream);
// Releases the tree and the object; does not close the stream. Null is accepted.
void cMdf_close(cMdf* mdf);
// A new time-ordered iterator over all bus messages; null for null.
cMdfParallelIter* cMdf_getIter(cMdf* mdf);
// The items of the header comment and of the CAN and LIN bus source comments; empty when
// the header has no XML comment or any of these documents is not well-formed XML.
cMdfMetaDataMap cMdf_getMetaData(const cMdf* mdf);

cMdfMetaData cMdfMetaData_init();
