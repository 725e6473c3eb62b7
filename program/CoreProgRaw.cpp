// CoreProg raw slots: the readers of RAW sections (raw VECTOR and ELEMENT
// nodes, external vector files), the reader of whole items as text, the
// building of the slots' value tables from their files, and unloading.
#include "program/CoreProg.h"

#include "engine/CoreEnvu.h"
#include "engine/CoreRvct.h"
#include "modulation/CoreRfun.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreWave.h"
#include "storage/DataXml_.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

namespace {

using X = DataXml_;

CoreAnsx quoted(CoreAnsx const& text) { return CoreAnsx("\"") + text + CoreAnsx("\""); }

// A reader level's failure, logged with its tag and passed on with the
// reason it was thrown with; one without a reason is the tag's.
[[noreturn]] void refused(CoreAnsx const& tag) {
    CoreLog_::logtg(tag, 1);
    try {
        throw;
    } catch (CoreAnsx const& why) {
        if (why.Length() > 0) throw;
    } catch (...) {
    }
    throw tag;
}

} // namespace

// ---- whole items as text -----------------------------------------------------------------

CoreAnsx CoreProg::getas(CorePool* /*pool*/, CoreFsys* store, CoreAnsx const& name) {
    if (!store) {
        CoreLog_::loger(CoreAnsx("No item store to read ") + name, 1);
        return CoreAnsx("0");
    }
    int const id = store->crtit(name, false);
    CoreAnsx result("0");
    // Read whole into memory first, within the bound of a document; one
    // past it (refused, logged) is not read through the disk either.
    bool const refused = !store->isvld(id) && !store->loadc(id, true, CoreButl::iCwholebytes) &&
                         CoreButl::fferr() == EFBIG;
    if (!refused && store->wopen(id, CoreAnsx("r"))) {
        std::string bytes;
        char chunk[4096];
        for (;;) {
            long const got = store->wread(id, chunk, 1, static_cast<long>(sizeof chunk));
            if (got <= 0) break;
            // A text cannot hold zero bytes; they are dropped.
            for (long i = 0; i < got; ++i)
                if (chunk[i] != '\0') bytes.push_back(chunk[i]);
            if (store->weof_(id)) break;
        }
        store->wclse(id);
        result = CoreAnsx(bytes.c_str());
    }
    // Kept in memory, a missing file included (as "0"): the next read of the
    // name does not go to the disk again.
    if (!store->isvld(id))
        store->setit(id, result.c_str(), result.Length() > 0 ? result.Length() : 0, true,
                     CoreAnsx("0"), true, false);
    return result;
}

// ---- raw VECTOR ----------------------------------------------------------------------------

CoreRvct* CoreProg::rvctr(CorePool* pool, CorePlel* cache, CoreFsys* store, RAWLOC* raws,
                          DataSrce* sources, short slot, CoreNode* vector, int& depth,
                          CoreAnsx& path, CoreAnsx const& prefix, FILECHAIN* open) {
    CoreAnsx const tag = X::sCtagvector;
    if (!raws || slot < 0 || slot >= iCrawslots || !vector) {
        CoreAnsx const why = tag + CoreAnsx(": no raw slot or node");
        CoreLog_::logtg(why, 1);
        throw why;
    }
    FILECHAIN chain;
    if (!open) open = &chain;
    RAWLOC& raw = raws[slot];
    int const leafmark = raw.leaves.count, coremark = raw.cores.count;
    std::vector<CoreRvct*> children; // built, not yet owned by a vector
    try {
        LEVELGUARD level(depth, tag);
        CoreLog_::debug(tag, depth, 3);
        CoreNode const* common = childOf(vector, X::sCtagcommon);
        double const low = numberOf(common, X::sCtagmnvalu, 0.0);
        double const high = numberOf(common, X::sCtagmxvalu, 0.0);
        double const buslow = numberOf(common, X::sCtagmnbusv, 0.0);
        double const bushigh = numberOf(common, X::sCtagmxbusv, 0.0);
        double const liquid = numberOf(common, X::sCtagliquid, 0.0) / 100.0;
        CoreAnsx const liquidkey = textOf(common, X::sCtaglqsrce, "ON");
        bool const switching = numberOf(common, X::sCtagswtchm, 0.0) > 0.0; // debug mark only

        std::vector<CoreNode*> const elements = elementsOf(vector);
        int const n = static_cast<int>(elements.size());
        std::vector<CoreAnsx> names(n, CoreAnsx(""));
        std::vector<double> weights(n, 0.0), busweights(n, 0.0);
        children.assign(n, nullptr);
        bool const leaf = readElements(n, "value", [&](int j, bool& isfile) {
            children[j] = relmn(pool, cache, store, raws, sources, slot, elements[j], isfile,
                                names[j], weights[j], busweights[j], depth, path, prefix, open);
            return children[j] != nullptr;
        });
        std::vector<CoreVctr*> owned(children.begin(), children.end());
        auto* v =
            new CoreRvct(pool, cache, leaf, n, names.data(), owned.data(), weights.data(), low,
                         high, busweights.data(), buslow, bushigh, sources, liquid, liquidkey);
        children.clear(); // the vector owns them now
        try {
            (leaf ? raw.leaves : raw.cores).Add(v);
        } catch (...) {
            delete v;
            throw;
        }
        CoreAnsx summary = X::sCtagcommon + CoreAnsx(":") + CoreAnsx(n) + CoreAnsx(":") +
                           CoreAnsx(leaf ? "L:" : "T:");
        for (double value : {low, high, buslow, bushigh, liquid})
            summary += CoreAnsx(value) + CoreAnsx(":");
        CoreLog_::debug(summary + liquidkey + CoreAnsx(switching ? ":S" : ":C"), depth + 1, 3);
        return v;
    } catch (...) {
        for (CoreRvct* child : children) delete child;
        cutList(raw.leaves, leafmark);
        cutList(raw.cores, coremark);
        refused(tag);
    }
}

// ---- raw ELEMENT ---------------------------------------------------------------------------

CoreRvct* CoreProg::relmn(CorePool* pool, CorePlel* cache, CoreFsys* store, RAWLOC* raws,
                          DataSrce* sources, short slot, CoreNode* element, bool& isfile,
                          CoreAnsx& file, double& weight, double& busweight, int& depth,
                          CoreAnsx& path, CoreAnsx const& prefix, FILECHAIN* open) {
    CoreAnsx const tag = X::sCtagelemnt;
    if (!raws || slot < 0 || slot >= iCrawslots) {
        CoreAnsx const why = tag + CoreAnsx(": no raw slot");
        CoreLog_::logtg(why, 1);
        throw why;
    }
    isfile = false;
    if (!element) return nullptr; // a section without ELEMENT holds no vector
    FILECHAIN chain;
    if (!open) open = &chain;
    RAWLOC& raw = raws[slot];
    int const leafmark = raw.leaves.count, coremark = raw.cores.count;
    CoreRvct* result = nullptr;
    try {
        LEVELGUARD level(depth, tag);
        CoreLog_::debug(tag, depth, 3);
        CoreNode* const control = childOf(element, X::sCtagcontrl);
        if (CoreNode* nested = childOf(element, X::sCtagvector)) {
            result =
                rvctr(pool, cache, store, raws, sources, slot, nested, depth, path, prefix, open);
        } else if (present(element, X::sCtagfilenm)) {
            CoreAnsx const name = textOf(element, X::sCtagfilenm, "");
            if (present(element, X::sCtagfilept)) path = textOf(element, X::sCtagfilept, "");
            CoreAnsx const full = prefix + path + name;
            CoreLog_::debug(X::sCtagfilenm + CoreAnsx(":") + full, depth + 1, 3);
            if (control) {
                readExternal(pool, store, full, *open, [&](CoreNode* vector) {
                    result = rvctr(pool, cache, store, raws, sources, slot, vector, depth, path,
                                   prefix, open);
                });
            } else {
                isfile = true;
            }
            file = full;
        }
        weight = numberOf(element, X::sCtagweight, 0.0);
        busweight = numberOf(element, X::sCtagbuswgt, 0.0);
        CoreLog_::debug(X::sCtagweight + CoreAnsx(":") + CoreAnsx(weight), depth + 1, 3);
        CoreLog_::debug(X::sCtagbuswgt + CoreAnsx(":") + CoreAnsx(busweight), depth + 1, 3);

        if (control && result) {
            CONTROLSOURCES const c = sourcesOf(control, result->getmn(), result->getmx());
            result->setvl(c.sourceon, c.minimum, c.maximum, c.source, c.buson, c.bus);
            CoreLog_::debug(c.debug(), depth + 1, 3);
        }
        return result;
    } catch (...) {
        delete result;
        cutList(raw.leaves, leafmark);
        cutList(raw.cores, coremark);
        refused(tag);
    }
}

CoreRvct* CoreProg::relmn(CorePool* pool, CorePlel* cache, CoreFsys* store, RAWLOC* raws,
                          DataSrce* sources, short slot, CoreNode* element, int& depth,
                          CoreAnsx& path, CoreAnsx const& prefix, FILECHAIN* open) {
    bool isfile = false;
    CoreAnsx file("");
    double weight = 0.0, busweight = 0.0;
    return relmn(pool, cache, store, raws, sources, slot, element, isfile, file, weight, busweight,
                 depth, path, prefix, open);
}

// ---- building ------------------------------------------------------------------------------

void CoreProg::starr() {
    CoreLog_::debug(CoreAnsx("starting raw reader"), 2, 5);
    for (short r = 0; r < iCrawslots; ++r) {
        if (!rawslots[r].inuse) continue;
        try {
            strer(r);
        } catch (...) {
            throw CoreAnsx("");
        }
    }
    for (CoreRfun* f : rawfuns)
        if (f) f->chckv();
}

void CoreProg::strer(short slot) {
    if (!rawslots || slot < 0 || slot >= iCrawslots) {
        CoreLog_::loger(CoreAnsx("strer: no raw slot ") + CoreAnsx(int(slot)), 1);
        throw CoreAnsx("");
    }
    RAWLOC& raw = rawslots[slot];
    CoreAnsx const number(slot + 1);
    CoreLog_::debug(CoreAnsx("starting raw ") + number, 2, 2);
    CoreLog_::debug(CoreAnsx("iVleafvectors:") + CoreAnsx(raw.leaves.count), 3, 3);
    CoreLog_::debug(CoreAnsx("iVcorevectors:") + CoreAnsx(raw.cores.count), 3, 3);
    auto leafAt = [&raw](int i) { return static_cast<CoreRvct*>(raw.leaves[unsigned(i)]); };
    bool failed = false;
    try {
        // Check pass: every file is tried, so one load shows every bad file.
        int longest = 0;
        {
            CoreEnvu loader(pool, store);
            for (int i = 0; i < raw.leaves.count; ++i) {
                CoreRvct* v = leafAt(i);
                for (int e = 0; e < v->getne(); ++e) {
                    CoreAnsx const file = v->getfn(e);
                    int frames = loader.open_(file);
                    if (frames <= 0) {
                        CoreLog_::logfl(quoted(file), 1);
                        failed = true;
                        frames = 0;
                    }
                    CoreLog_::debug(CoreAnsx("opened ") + quoted(file) + CoreAnsx(":") +
                                        CoreAnsx(frames),
                                    3, 3);
                    longest = std::max(longest, frames);
                }
            }
        }
        if (!failed) {
            // Load pass: every element gets exactly `longest` values.
            for (int i = 0; i < raw.leaves.count; ++i) {
                CoreRvct* v = leafAt(i);
                int const n = v->getne();
                std::vector<std::unique_ptr<CoreEnvu>> loaders;
                std::vector<double*> values(n, nullptr);
                std::vector<int> lengths(n, 0);
                for (int e = 0; e < n; ++e) {
                    loaders.push_back(std::make_unique<CoreEnvu>(pool, store));
                    lengths[e] = loaders.back()->open_(v->getfn(e));
                    CoreWave* wave = loaders.back()->getim();
                    values[e] = wave ? wave->getwv(short(0)) : nullptr;
                    if (!values[e]) lengths[e] = 0;
                }
                v->setre(longest, values.data(), lengths.data());
            }
            // A slot without a root vector has no table to size or hand on.
            if (raw.root) {
                // chncp replaces the output: nobody may hold the old one meanwhile.
                for (CoreRfun* f : rawfuns)
                    for (int j = 0; f && j < CoreRfun::iCsupportedraws; ++j)
                        if (f->getfr(j) == raw.name) f->setvl(j, nullptr, 0);
                raw.root->chncp(longest, -1, -1);
                raw.root->chnip();
                raw.root->chnna(X::sCtagvector + CoreAnsx(int(slot)));
                for (CoreRfun* f : rawfuns)
                    for (int j = 0; f && j < CoreRfun::iCsupportedraws; ++j)
                        if (f->getfr(j) == raw.name)
                            f->setvl(j, static_cast<double*>(raw.root->getlc()), raw.root->getcd());
            }
        }
    } catch (...) {
        CoreLog_::debug(CoreAnsx("end raw ") + number, 2, 3);
        throw CoreAnsx("");
    }
    CoreLog_::debug(CoreAnsx("end raw ") + number, 2, 3);
    if (failed) throw CoreAnsx("");
}

// ---- unloading -----------------------------------------------------------------------------

void CoreProg::detachRawFunctions() noexcept {
    for (CoreRfun* f : rawfuns)
        for (int j = 0; f && j < CoreRfun::iCsupportedraws; ++j) f->setvl(j, nullptr, 0);
}

void CoreProg::uloar() {
    // The modulators let go first, so none is left pointing into a tree
    // deleted below, whichever slot it was bound to.
    detachRawFunctions();
    for (int r = 0; r < iCrawslots; ++r) {
        RAWLOC& raw = rawslots[r];
        if (!raw.inuse) continue;
        delete raw.root;
        raw.root = nullptr;
        raw.inuse = false;
        raw.cores.Clear();
        raw.leaves.Clear();
    }
}
