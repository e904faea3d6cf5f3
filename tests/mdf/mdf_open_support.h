#pragma once
// A logger file in memory opened by the reader, for the tests that look at what was read.

#include <cstdint>
#include <utility>
#include <vector>

#include "mdf/cMdf.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"
#include "mdf_test_support.h"
#include "tools/cMdfWriter.h"

// A file in memory together with its stream and the opened reader.
struct Opened {
    std::vector<uint8_t> bytes;
    cIO* io = nullptr;
    cMdf* mdf = nullptr;
    Opened(const cMdfWriterOptions& o, const std::vector<cMdfWriterGroup>& groups) {
        bytes = cMdfWriter_writeMemory(&o, &groups);
        open();
    }
    explicit Opened(std::vector<uint8_t> b) : bytes(std::move(b)) { open(); }
    void open() {
        io = TestMdf::memStream(bytes);
        mdf = cMdf_open(io);
    }
    ~Opened() {
        cMdf_close(mdf);
        cIO_close(io);
    }
    const cMdfBlock_ID_obj_t* id() const {
        return mdf ? carc_cMdfBlock_to_cMdfBlock_ID_obj_t(mdf->root) : nullptr;
    }
    const cMdfBlock_HD_obj_t* hd() const {
        return id() ? carc_cMdfBlock_to_cMdfBlock_HD_obj_t(id()->hd) : nullptr;
    }
};
