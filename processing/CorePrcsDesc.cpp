// CorePrcs::setds: the description of a program stored as a program archive,
// changed without loading it. Only the archive's program item is rewritten;
// the other items (impulses, vectors) are written back byte for byte.
#include "processing/CorePrcs.h"

#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

namespace {

// True when every ITEM of the archive's table of contents came into the
// store: writing back a store the reader had to skip entries of would lose
// them.
bool wholeArchive(CoreFsys& store) {
    CoreXml_ toc;
    try {
        toc.getfc(store.gettc());
    } catch (CoreAnsx const&) {
        return false;
    }
    std::set<std::string> loaded;
    for (int position = 0; position < store.llvcn(); ++position) {
        int id = -1;
        CoreAnsx const item = store.llvel(position, id);
        if (id >= 0 && store.isvld(id)) loaded.insert(item.Trim().UpperCase().c_str());
    }
    CoreNode* root = toc.getrt();
    CoreNode* top = root != nullptr ? root->getcd(CoreFsys::sCtagfsysto) : nullptr;
    CoreTlst const* entries = top != nullptr ? top->getcn() : nullptr;
    for (int i = 0; entries != nullptr && i < entries->count; ++i) {
        auto* entry = static_cast<CoreNode*>((*entries)[unsigned(i)]);
        if (entry->leaf_() || entry->gettx().Trim().UpperCase() != "ITEM") continue;
        if (loaded.count(entry->getls("ENTRY").Trim().UpperCase().c_str()) == 0) return false;
    }
    return true;
}

} // namespace

void CorePrcs::setds(CorePool* store_pool, CoreAnsx path, CoreAnsx description) {
    try {
        CoreFsys store(store_pool, CoreAnsx(""), false);
        if (!store.loada(path, CoreAnsx("0"), false, nullptr)) return;
        if (!wholeArchive(store)) {
            CoreLog_::loger(path + CoreAnsx(": archive damaged, description not written"), 1);
            return;
        }
        CoreAnsx const key = CoreButl::getfn(path, true).UpperCase();
        // The program item as the reader names it, else any item holding the
        // key that parses as a program; never an impulse or vector beside it.
        CoreXml_ document;
        int id = CoreProg::findProgramItem(&store, key + CoreAnsx(".XML"), document);
        if (id < 0) id = CoreProg::findProgramItem(&store, key, document);
        if (id < 0) {
            CoreLog_::loger(path + CoreAnsx(": no program document named ") + key, 1);
            return;
        }
        CoreNode* program = document.getrt()->getcd(DataXml_::sCtagprogrm);
        auto element = std::make_unique<CoreNode>(DataXml_::sCtagdescrp);
        element->addcd(new CoreNode(description));
        program->prplc(&DataXml_::sCtagdescrp, 1, element.release());
        CoreAnsx const text = document.settc(false, false);
        store.setit(id, text.c_str(), static_cast<long>(std::strlen(text.c_str())), CoreAnsx("0"),
                    true, true);
        store.savea(path);
    } catch (CoreAnsx const& e) {
        CoreLog_::loger(path + CoreAnsx(": description not written ") + e, 1);
    }
}
