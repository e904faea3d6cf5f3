// Records read in place from memory must be the records read by copying: whatever the
// stream under the file (memory stream, whole-file read-ahead buffer, read-ahead buffers
// too small for the file, whose window moves whenever SD data or another group is read).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "io/cIO_memoryAlloc.h"
#include "io/cIO_readBuffer.h"
#include "mdf/cMdf.h"
#include "mdf/cMdfParallelIter.h"
#include "tools/cMdfWriter.h"

namespace {

std::string messagesOf(const std::vector<uint8_t>& file, size_t bufferSize) {
    cIO* memory = cIO_memoryAlloc_ctor();
    cIO_write(memory, file.data(), file.size());
    cIO_seek(memory, 0, cIO_SEEK_SET);
    cIO* stream = bufferSize ? cIO_bufferAlloc_ctor(memory, true, bufferSize) : memory;
    std::string out;
    cMdf* mdf = cMdf_open(stream);
    cMdfParallelIter* it = cMdf_getIter(mdf);
    for (; it && it->current; cMdfParallelIter_next(it)) {
        const cBusMsg& m = *it->current;
        out += std::to_string(m.Timestamp) + " " + std::to_string(m.ID) + " " +
               std::to_string(m.Type) + " " + m.DataBytes + "\n";
    }
    cMdfParallelIter_dtor(it);
    cMdf_close(mdf);
    cIO_close(stream);
    return out;
}

TEST(RecordsInPlace, SameMessagesOverEveryStream) {
    std::mt19937 rng(21);
    for (cMdfWriterDataStorage storage : {MDFW_DATA_FIXED, MDFW_DATA_VLSD_SD, MDFW_DATA_VLSD_CG}) {
        std::vector<cMdfWriterGroup> groups(3);
        for (uint32_t i = 0; i < 3000; ++i) {
            uint8_t data[64];
            for (uint8_t& b : data)
                b = static_cast<uint8_t>(rng());
            const uint8_t length = static_cast<uint8_t>(rng() % 65);
            groups[i % 3].frames.push_back(
                cMdfWriterFrame_can(i * 1e-3, 1, rng() % 0x7FF, false, data, length));
        }
        for (cMdfWriterGroup& g : groups) {
            g.dataStorage = storage;
            g.recordIdSize = storage == MDFW_DATA_VLSD_CG ? 1 : 0;
        }
        cMdfWriterOptions options;
        const std::vector<uint8_t> file = cMdfWriter_writeMemory(&options, &groups);
        ASSERT_FALSE(file.empty());
        const std::string expected = messagesOf(file, 0);
        EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n') >= 3000, true);
        for (size_t size : {file.size(), size_t{4096}, size_t{70000}, file.size() / 2})
            EXPECT_EQ(messagesOf(file, size), expected) << storage << " buffer " << size;
    }
}

} // namespace
