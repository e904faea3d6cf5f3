#pragma once
// Deleting a converted input (the "delete-converted" option). An input goes only when
// nothing of it can be lost: its trace is in place and holds every CAN data and remote
// frame of it, the trace and its folder are on the disk, and the file at the input path is
// still the one that was converted. Otherwise it stays, with a message saying why.

#include <string_view>

#include "bus/cBusLayer.h"
#include "fs/cFS.h"

struct cInputDeletion {
    cFS* inputFs;
    cFS* outputFs;
    // What the converter said after endFile its output holds; null when it could not tell.
    const cBusLayerFileSummary* held;
};

// converted: the identity of the input taken before it was opened, or null when it could
// not be taken. True when the input was deleted.
[[nodiscard]] bool cInputDeletion_run(const cInputDeletion* d, std::string_view input,
                                      const cFS_identity* converted);
