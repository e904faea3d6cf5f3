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

enum class cInputDeletion_result {
    DELETED,
    KEPT,   // by rule: something of it would be lost (a warning says what)
    FAILED, // it should have gone, but the system refused (an error gives its reason)
};

// converted: the identity of the input taken before it was opened, or null when it could
// not be taken.
[[nodiscard]] cInputDeletion_result
cInputDeletion_run(const cInputDeletion* d, std::string_view input, const cFS_identity* converted);
