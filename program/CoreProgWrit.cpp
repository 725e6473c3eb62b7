// CoreProg document write-back: the copy of the values that move while the
// program plays (takel), the mix controls, the global section with the
// per-slot kernel lengths and the program rate; the program archive
// header operations (setni, getni), the item choice and the one archive edit
// every header writer goes through; the time format every writer uses.
#include "program/CoreProg.h"

#include "modulation/CoreIfce.h"
#include "modulation/CoreParm.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreTlst.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <tuple>

namespace {

using X = DataXml_;

CoreAnsx numbered(CoreAnsx const& tag, int n) { return tag + CoreAnsx(n); }

int saturated(long v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

// PROGRAM/tag := value (a value node made from v), moved to the end of PROGRAM.
template <typename V> void putValue(CoreXml_* doc, CoreAnsx const& tag, V const& v) {
    CoreAnsx const path[2] = {X::sCtagprogrm, tag};
    doc->pappr(path, 2, new CoreNode(v));
}

// The first node along path below from, or null; unlike the path walk of
// CoreNode it makes nothing on the way, so a delete never leaves empty
// containers behind (the dialect would write them as bare values).
CoreNode* existing(CoreNode* from, CoreAnsx const* path, int n) {
    CoreNode* current = from;
    for (int level = 0; current != nullptr && level < n; ++level) {
        CoreAnsx const key = path[level].Trim().UpperCase();
        CoreTlst const* list = current->getcn();
        CoreNode* found = nullptr;
        for (int i = 0; list != nullptr && i < list->count; ++i) {
            auto* child = static_cast<CoreNode*>((*list)[unsigned(i)]);
            if (!child->leaf_() && child->gettx().Trim().UpperCase() == key) {
                found = child;
                break;
            }
        }
        current = found;
    }
    return current;
}

// Deletes the element at path below the document's root; nothing when absent.
void dropPath(CoreXml_* doc, CoreAnsx const* path, int n) {
    CoreNode* parent = n > 1 ? existing(doc->getrt(), path, n - 1) : doc->getrt();
    if (parent != nullptr) parent->pdlte(&path[n - 1], 1);
}

void dropValue(CoreXml_* doc, CoreAnsx const& tag) {
    CoreAnsx const path[2] = {X::sCtagprogrm, tag};
    dropPath(doc, path, 2);
}

// A linear gain as written: dB, floored at the level of silence.
double decibels(double linear) { return CoreButl::lindb(linear); }

// A control source as the reader will bind it again. A blank key means one
// of two things the text alone does not tell: the reader found no element
// and bound the constant 1.0 (scale 1..1), so the element goes; or the key
// was read empty or cleared by the setter and binds "OFF" (scale 0..1), so
// an empty element is written, which the reader binds to "OFF" again.
// Dropping that one too would turn a silenced feedback or dry path full on
// at the next load.
void putSource(CoreXml_* doc, CoreAnsx const& tag, CoreAnsx const& key, CoreParm const* control) {
    if (key.Trim().Length() > 0)
        putValue(doc, tag, key);
    else if (control->getsl() == 1.0 && control->getsu() == 1.0)
        dropValue(doc, tag);
    else
        putValue(doc, tag, CoreAnsx(""));
}

// <tag>value</tag> appended to element.
template <typename V> void addValue(CoreNode* element, CoreAnsx const& tag, V const& v) {
    auto child = std::make_unique<CoreNode>(tag);
    child->addcd(new CoreNode(v));
    element->addcd(child.release());
}

// An "OT1" or "OT2" group: LENGTH and FADEOUT as times.
CoreNode* lengthGroup(char const* tag, int length, int fadeout, int rate) {
    auto group = std::make_unique<CoreNode>(tag);
    addValue(group.get(), X::sCtaglength, CoreProg::timeOf(length, rate));
    addValue(group.get(), X::sCtagfadeou, CoreProg::timeOf(fadeout, rate));
    return group.release();
}

bool refused(CoreXml_* doc, char const* writer) {
    if (doc != nullptr) return false;
    CoreLog_::loger(CoreAnsx(writer) + CoreAnsx(": no document to write"), 1);
    return true;
}

} // namespace

// ---- time format -----------------------------------------------------------------------

int CoreProg::timeOf(long samples, int rate) {
    if (samples < 1 || rate < 1) return saturated(samples);
    double const exact = static_cast<double>(samples) * 1e6 / static_cast<double>(rate);
    if (exact >= static_cast<double>(INT_MAX)) return INT_MAX;
    // The smallest whole us the reader turns back into at least samples; the
    // rounding of the division can leave the first guess one off.
    long us = static_cast<long>(std::ceil(exact));
    while (us > 1 && CoreButl::tpfup(rate, us - 1) >= samples) --us;
    while (us < INT_MAX && CoreButl::tpfup(rate, us) < samples) ++us;
    return saturated(us);
}

// ---- the moving values ---------------------------------------------------------------------

CoreProg::LIVE CoreProg::takel() {
    LIVE live;
    for (int i = 0; i < iCmixes; ++i) {
        live.mixvalid[i] = ifces[i]->isval(true);
        live.mixvalue[i] = ifces[i]->getiv(true);
    }
    // The slot in use: the alternate one while the editor holds it.
    live.gainin = ifces[8]->getvl(false);
    live.gainout = ifces[9]->getvl(false);
    std::tie(live.lookahead, live.feedbackfactor, live.drygain, live.smooth, live.hdim,
             live.invisiblethread, live.rate) =
        std::tie(lookahead, feedbackfactor, drygain, smooth, hdim, invisiblethread, rate);
    live.slots.resize(std::size_t(capacity) + 1);
    for (int i = 0; i <= capacity; ++i) {
        HLOC const& h = hslots[i];
        live.slots[std::size_t(i)] = {h.inuse,          h.changed,       h.extended,
                                      h.normallength,   h.normalfadeout, h.extendedlength,
                                      h.extendedfadeout};
    }
    for (int i = 0; i < iCprms; ++i) live.prms[i] = prms[i];
    return live;
}

// ---- mix section -------------------------------------------------------------------------

void CoreProg::chgmx(CoreXml_* doc) { chgmx(doc, takel()); }

void CoreProg::chgmx(CoreXml_* doc, LIVE const& live) {
    if (refused(doc, "chgmx")) return;
    for (int i = 1; i <= iCmixes; ++i) {
        CoreAnsx const tag = numbered(X::sCtagrootmx, i);
        if (live.mixvalid[i - 1])
            putValue(doc, tag, CoreAnsx(live.mixvalue[i - 1]));
        else
            dropValue(doc, tag);
    }
    // The control holds half the linear gain, as the reader sets it.
    putValue(doc, X::sCtaggainin, CoreAnsx(decibels(2.0 * live.gainin)));
    putValue(doc, X::sCtaggainou, CoreAnsx(decibels(2.0 * live.gainout)));
}

// ---- global section ------------------------------------------------------------------------

void CoreProg::chggl(CoreXml_* doc) { chggl(doc, takel()); }

void CoreProg::chggl(CoreXml_* doc, LIVE const& live) {
    if (refused(doc, "chggl")) return;
    putValue(doc, X::sCtagprognm, name);
    putValue(doc, X::sCtagcategr, category[0]);
    putValue(doc, X::sCtagsubca1, category[1]);
    putValue(doc, X::sCtagsubca2, category[2]);
    putValue(doc, X::sCtagdescrp, description);
    if (vectorfilename != "0") putValue(doc, X::sCtagactvnm, vectorfilename);
    putValue(doc, X::sCtaggnpdin, decibels(padin));
    putValue(doc, X::sCtaggnpdou, decibels(padout));
    putValue(doc, X::sCtaglookah, saturated(live.lookahead));
    putValue(doc, X::sCtagfeedbk, live.feedbackfactor * 100.0);
    putSource(doc, X::sCtagfbsrce, feedbacksource, feedbackcontrol);
    putValue(doc, X::sCtaglasrce, lookaheadsource);
    putValue(doc, X::sCtaggaindr, decibels(live.drygain));
    putSource(doc, X::sCtaggainds, gaindrysource, gaindrycontrol);
    putValue(doc, X::sCtagsmooth, static_cast<int>(live.smooth));
    putValue(doc, X::sCtagfrcot2, forceot2);
    putValue(doc, X::sCtagfrcivt, live.invisiblethread);
    putValue(doc, X::sCtagfrchyb, forcehybrid);
    putValue(doc, X::sCtagmono_m, forcemono);
    putValue(doc, X::sCtaghsdim_, static_cast<int>(live.hdim));

    // Kernel lengths of the slots changed since loading (never the hybrid
    // slot itself; in hybrid mode H1's extended group carries its record).
    LIVE::LENGTHS const& hybrid = live.slots[std::size_t(capacity)];
    for (int i = 0; i < capacity; ++i) {
        LIVE::LENGTHS const& slot = live.slots[std::size_t(i)];
        if (!slot.inuse || !slot.changed) continue;
        CoreAnsx const hn = numbered(X::sCtagrooth_, i + 1);
        CoreAnsx const flag[3] = {X::sCtagprogrm, hn, X::sCtagfrcot2};
        dropPath(doc, flag, 3);
        if (slot.extended) doc->pappr(flag, 3, new CoreNode(true));

        // An H section whose ELEMENT names an external vector file has no
        // VECTOR of its own: making one would replace the file's vector with
        // an empty one at the next load, so its lengths are not written.
        CoreAnsx const vectorpath[4] = {X::sCtagprogrm, hn, X::sCtagelemnt, X::sCtagvector};
        CoreNode* vector = existing(doc->getrt(), vectorpath, 4);
        if (vector == nullptr) {
            CoreLog_::loger(hn + CoreAnsx(": no VECTOR in the document, lengths not written"), 1);
            continue;
        }
        CoreAnsx common[2] = {X::sCtagcommon, X::sCtagfadeou};
        vector->pdlte(common, 2);
        common[1] = X::sCtaglength;
        vector->pdlte(common, 2);
        common[1] = "OT1";
        vector->pdlte(common, 2);
        vector->pappd(common, 1,
                      lengthGroup("OT1", slot.normallength, slot.normalfadeout, live.rate));
        common[1] = "OT2";
        vector->pdlte(common, 2);
        LIVE::LENGTHS const& source = (forcehybrid && i == 0 && hybrid.inuse) ? hybrid : slot;
        vector->pappd(common, 1,
                      lengthGroup("OT2", source.extendedlength, source.extendedfadeout, live.rate));
    }
}

// ---- program rate ----------------------------------------------------------------------------

void CoreProg::chgpr(CoreXml_* doc, bool set, long rate) {
    if (refused(doc, "chgpr")) return;
    if (set)
        putValue(doc, X::sCtagprrate, saturated(rate));
    else
        dropValue(doc, X::sCtagprrate);
}

// ---- program archive header ------------------------------------------------------------------

int CoreProg::findProgramItem(CoreFsys* store, CoreAnsx const& key, CoreXml_& document) {
    document.close();
    if (store == nullptr) return -1;
    for (int position = 0; position < store->llvcn(); ++position) {
        int id = -1;
        CoreAnsx const item = store->llvel(position, id).UpperCase();
        if (id < 0 || item.Pos(key) <= 0 || !store->isvld(id)) continue;
        // Impulses and vector files beside the program may hold the key too:
        // only a document with a PROGRAM element is the program.
        try {
            document.getfc(store->ct2as(id));
        } catch (CoreAnsx const&) {
            document.close();
            continue;
        }
        CoreNode* root = document.getrt();
        CoreNode* program = root != nullptr ? root->getcd(X::sCtagprogrm) : nullptr;
        if (program != nullptr && !program->leaf_()) return id;
        document.close();
    }
    return -1;
}

namespace {

CoreAnsx archiveKey(CoreAnsx const& path) { return CoreButl::getfn(path, true).UpperCase(); }

// text as the element tag of program, moved to its end.
void replaceText(CoreNode* program, CoreAnsx const& tag, CoreAnsx const& text) {
    auto element = std::make_unique<CoreNode>(tag);
    element->addcd(new CoreNode(text));
    program->prplc(&tag, 1, element.release());
}

} // namespace

bool CoreProg::wholeArchive(CoreFsys& store) {
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

bool CoreProg::editProgramItem(CorePool* pool, CoreAnsx const& path, bool xmlfirst,
                               char const* what, ProgramEdit const& edit,
                               CoreAnsx const& itemname) {
    try {
        CoreFsys store(pool, CoreAnsx(""), false);
        if (!store.loada(path, CoreAnsx("0"), false, nullptr)) return false;
        if (!wholeArchive(store)) {
            CoreLog_::loger(path + CoreAnsx(": archive damaged, ") + CoreAnsx(what) +
                                CoreAnsx(" not written"),
                            1);
            return false;
        }
        CoreAnsx const key = archiveKey(path);
        CoreXml_ document;
        int id = xmlfirst ? findProgramItem(&store, key + CoreAnsx(".XML"), document) : -1;
        if (id < 0) id = findProgramItem(&store, key, document);
        if (id < 0) {
            CoreLog_::loger(path + CoreAnsx(": no program document named ") + key, 1);
            return false;
        }
        // The element the program reader reads: the last PROGRAM.
        edit(document, document.getrt()->getcd(X::sCtagprogrm), key);
        CoreAnsx const text = document.settc(false, false);
        store.setit(id, text.c_str(), static_cast<long>(std::strlen(text.c_str())), CoreAnsx("0"),
                    true, true);
        if (itemname != "0") store.setit(id, itemname);
        return store.savea(path);
    } catch (CoreAnsx const& e) {
        CoreLog_::loger(path + CoreAnsx(": ") + CoreAnsx(what) + CoreAnsx(" not written ") + e, 1);
        return false;
    }
}

bool CoreProg::setni(CorePool* pool, CoreAnsx const& path, CoreAnsx const& name,
                     CoreAnsx const* categories, CoreAnsx const& description, CoreNode* patch,
                     CoreAnsx const& vectorname) {
    auto const edit = [&](CoreXml_& document, CoreNode* program, CoreAnsx const& key) {
        if (!program->exslc(X::sCtagactvnm)) replaceText(program, X::sCtagactvnm, key);
        replaceText(program, X::sCtagprognm, name);
        if (categories != nullptr) {
            replaceText(program, X::sCtagcategr, categories[0]);
            replaceText(program, X::sCtagsubca1, categories[1]);
            replaceText(program, X::sCtagsubca2, categories[2]);
        }
        replaceText(program, X::sCtagdescrp, description);
        if (patch != nullptr) CoreXml_::patch(patch, 0, document.getrt());
    };
    return editProgramItem(pool, path, false, "program header", edit, vectorname);
}

bool CoreProg::getni(CorePool* pool, CoreAnsx const& path, CoreAnsx& name, CoreAnsx* categories,
                     CoreAnsx& description, CoreAnsx& vectorname) {
    try {
        CoreFsys store(pool, CoreAnsx(""), false);
        if (!store.loada(path, CoreAnsx("0"), false, nullptr)) return false;
        CoreXml_ document;
        if (findProgramItem(&store, archiveKey(path), document) < 0) return false;
        CoreNode const* program = document.getrt()->getcd(X::sCtagprogrm);
        name = CoreNode::gtnls(program, X::sCtagprognm, CoreButl::sCnull);
        if (categories != nullptr) {
            categories[0] = CoreNode::gtnls(program, X::sCtagcategr, "");
            categories[1] = CoreNode::gtnls(program, X::sCtagsubca1, "");
            categories[2] = CoreNode::gtnls(program, X::sCtagsubca2, "");
        }
        description = CoreNode::gtnls(program, X::sCtagdescrp, CoreButl::sCnull);
        vectorname = CoreNode::gtnls(program, X::sCtagactvnm, CoreButl::sCnull);
        return true;
    } catch (CoreAnsx const& e) {
        CoreLog_::loger(path + CoreAnsx(": program header not read ") + e, 1);
        return false;
    }
}
