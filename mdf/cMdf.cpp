#include "mdf/cMdf.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include <expat.h>

#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_FH.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"
#include "mdf/cMdfBlock_MD.h"
#include "mdf/cMdfBlock_SI.h"
#include "mdf/cMdfBlock_data.h"
#include "mdf/cMdfParallelIter.h"
#include "support/log.h"

namespace {

// The tool identifiers a file history comment of the logger family carries.
const std::string_view kToolIds[] = {"<tool_id>VK</tool_id>", "<tool_id>Veskar</tool_id>"};
// The element below the document element that holds the metadata items.
const char kCommonProperties[] = "common_properties";
const char kTree[] = "tree";
const char kItem[] = "e";

struct XmlState {
    XML_Parser parser;
    cMdfMetaDataMap* map;
    cMdfMetaData* current;
    std::vector<std::string> stack;
};

const char* findAttribute(const XML_Char** atts, const char* name) {
    for (const XML_Char** a = atts; a && a[0]; a += 2) {
        if (strcmp(a[0], name) == 0) return a[1];
    }
    return nullptr;
}

void fillItem(cMdfMetaData* item, const XML_Char** atts) {
    if (const char* v = findAttribute(atts, "name")) item->name = v;
    if (const char* v = findAttribute(atts, "description")) item->description = v;
    if (const char* v = findAttribute(atts, "unit")) item->unit = v;
    if (const char* v = findAttribute(atts, "type")) item->type = v;
    const char* ro = findAttribute(atts, "ro");
    item->ro = ro && strcmp(ro, "true") == 0;
}

void XMLCALL startElement(void* userData, const XML_Char* name, const XML_Char** atts) {
    XmlState* st = static_cast<XmlState*>(userData);
    try {
        st->stack.emplace_back(name);
        if (st->stack.size() < 3 || st->stack[1] != kCommonProperties) return;
        bool isTree = strcmp(name, kTree) == 0;
        if (!isTree && strcmp(name, kItem) != 0) return;
        // A tree or item without a name keeps its element name in the paths below it and
        // makes no item.
        const char* itemName = findAttribute(atts, "name");
        if (!itemName) return;
        st->stack.back() = itemName;
        if (isTree) return;
        std::string path;
        for (const std::string& entry : st->stack) {
            if (entry == kCommonProperties) continue;
            if (!path.empty()) path.push_back('.');
            path += entry;
        }
        auto inserted = st->map->emplace(std::move(path), cMdfMetaData_init());
        if (!inserted.second) return; // the first item of a path wins
        fillItem(&inserted.first->second, atts);
        st->current = &inserted.first->second;
    } catch (const std::bad_alloc&) {
        XML_StopParser(st->parser, XML_FALSE);
    }
}

void XMLCALL endElement(void* userData, const XML_Char*) {
    XmlState* st = static_cast<XmlState*>(userData);
    if (!st->stack.empty()) st->stack.pop_back();
    st->current = nullptr;
}

void XMLCALL dataHandler(void* userData, const XML_Char* s, int len) {
    XmlState* st = static_cast<XmlState*>(userData);
    if (!st->current || len <= 0) return;
    try {
        std::string& value = st->current->value;
        value.append(s, static_cast<size_t>(len));
        // Only blanks are taken off the front; tabs and line breaks stay.
        value.erase(0, std::min(value.find_first_not_of(' '), value.size()));
    } catch (const std::bad_alloc&) {
        XML_StopParser(st->parser, XML_FALSE);
    }
}

bool parseXml(std::string_view text, cMdfMetaDataMap* map) {
    if (text.size() > INT_MAX) return false;
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) return false;
    XmlState st{parser, map, nullptr, {}};
    XML_SetUserData(parser, &st);
    XML_SetElementHandler(parser, startElement, endElement);
    XML_SetCharacterDataHandler(parser, dataHandler);
    bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

bool isLoggerFile(const cMdfBlock_HD_obj_t* hd) {
    for (const carc_cMdfBlock& block : hd->fileHistories) {
        const cMdfBlock_FH_obj_t* fh = carc_cMdfBlock_to_cMdfBlock_FH_obj_t(block);
        if (!fh) continue;
        const cMdfBlock_MD_obj_t* md = carc_cMdfBlock_to_cMdfBlock_MD_obj_t(fh->comment);
        if (!md) continue;
        std::string_view text = cMdfBlock_MD_getData(md);
        for (std::string_view tool : kToolIds) {
            if (text.find(tool) != std::string_view::npos) return true;
        }
    }
    return false;
}

// The logger leaves the length of its last data block unwritten until it closes the file:
// that block's records run to the end of the file.
bool repairUnfinalised(cMdfBlock_ID_obj_t* id, cMdfBlock_HD_obj_t* hd, cIO* stream) {
    if (!(id->finalizationFlags & MDF_UNFIN_DT_LENGTH)) return false;
    cMdfBlock_data_obj_t* last = nullptr;
    for (const carc_cMdfBlock& block : hd->dataGroups) {
        const cMdfBlock_DG_obj_t* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t(block);
        cMdfBlock_data_obj_t* dt =
            dg ? carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(dg->data) : nullptr;
        if (dt && (!last || dt->position > last->position)) last = dt;
    }
    if (!last) return true;
    int64_t size = cIO_getSize(stream);
    uint64_t fixed = last->position + cMdfBlockHeader_SIZE + 8 * last->header.linkCount;
    if (size < 0 || static_cast<uint64_t>(size) < fixed) return true;
    last->header.length = static_cast<uint64_t>(size) - last->position;
    id->finalizationFlags &= static_cast<uint16_t>(~MDF_UNFIN_DT_LENGTH);
    return true;
}

} // namespace

cMdf* cMdf_open(cIO* stream) {
    if (!stream) return nullptr;
    cMdf* mdf = new (std::nothrow) cMdf{stream, {}, false};
    if (!mdf) return nullptr;
    mdf->root = cMdfBlock_loadTree(stream);
    cMdfBlock_ID_obj_t* id = carc_cMdfBlock_to_cMdfBlock_ID_obj_t_mut(mdf->root);
    cMdfBlock_HD_obj_t* hd = id ? carc_cMdfBlock_to_cMdfBlock_HD_obj_t_mut(id->hd) : nullptr;
    if (!hd) {
        cMdf_close(mdf);
        return nullptr;
    }
    if (!isLoggerFile(hd)) {
        ZF_LOGE("Unsupported MF4 file");
        cMdf_close(mdf);
        return nullptr;
    }
    mdf->unfinalised = repairUnfinalised(id, hd, stream);
    return mdf;
}

void cMdf_close(cMdf* mdf) {
    delete mdf;
}

cMdfParallelIter* cMdf_getIter(cMdf* mdf) {
    if (!mdf) return nullptr;
    return cMdfParallelIter_ctor(carc_cMdfBlock_to_cMdfBlock_ID_obj_t(mdf->root));
}

cMdfMetaDataMap cMdf_getMetaData(const cMdf* mdf) {
    cMdfMetaDataMap map;
    if (!mdf) return map;
    const cMdfBlock_ID_obj_t* id = carc_cMdfBlock_to_cMdfBlock_ID_obj_t(mdf->root);
    const cMdfBlock_HD_obj_t* hd = id ? carc_cMdfBlock_to_cMdfBlock_HD_obj_t(id->hd) : nullptr;
    const cMdfBlock_MD_obj_t* md = hd ? carc_cMdfBlock_to_cMdfBlock_MD_obj_t(hd->comment) : nullptr;
    if (!md) return map;
    if (!parseXml(cMdfBlock_MD_getData(md), &map)) {
        map.clear();
        return map;
    }
    cMdfBlock_set reachable;
    cMdfBlock_getLinks(id, &reachable);
    // In file order, so that the first item of a path is the same on every run.
    std::vector<const cMdfBlock_SI_obj_t*> sources;
    for (const cMdfBlock_obj_t* block : reachable) {
        const cMdfBlock_SI_obj_t* si = cMdfBlock_obj_t_to_cMdfBlock_SI_obj_t(block);
        if (!si || si->sourceType != MDF_SOURCE_BUS) continue;
        if (si->busType != MDF_BUS_CAN && si->busType != MDF_BUS_LIN) continue;
        if (carc_cMdfBlock_to_cMdfBlock_MD_obj_t(si->comment)) sources.push_back(si);
    }
    std::sort(sources.begin(), sources.end(),
              [](const cMdfBlock_SI_obj_t* a, const cMdfBlock_SI_obj_t* b) {
                  return a->position < b->position;
              });
    for (const cMdfBlock_SI_obj_t* si : sources) {
        if (!parseXml(cMdfBlock_MD_getData(carc_cMdfBlock_to_cMdfBlock_MD_obj_t(si->comment)),
                      &map)) {
            map.clear();
            return map;
        }
    }
    return map;
}

cMdfMetaData cMdfMetaData_init() {
    return cMdfMetaData{{}, {}, {}, {}, {}, false};
}
