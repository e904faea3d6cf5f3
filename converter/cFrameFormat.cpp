#include "converter/cFrameFormat.h"

#include <strings.h>

const cFrameFormat* const cFrameFormat_all[] = {&cFrameFormat_trace11,
                                                &cFrameFormat_trace21,
                                                &cFrameFormat_asc,
                                                &cFrameFormat_blf,
                                                &cFrameFormat_candump,
                                                &cFrameFormat_csv,
                                                nullptr};

const cFrameFormat* cFrameFormat_byId(uint32_t id) {
    for (const cFrameFormat* const* f = cFrameFormat_all; *f; ++f)
        if ((*f)->id == id) return *f;
    return nullptr;
}

const cFrameFormat* cFrameFormat_byName(std::string_view name) {
    for (const cFrameFormat* const* f = cFrameFormat_all; *f; ++f) {
        const std::string_view candidate = (*f)->name;
        if (candidate.size() == name.size() &&
            strncasecmp(candidate.data(), name.data(), name.size()) == 0)
            return *f;
    }
    return nullptr;
}
