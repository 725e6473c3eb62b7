// CoreProg kernel vector readers: a slot's tree of VECTOR and ELEMENT nodes,
// external vector files included, into CoreVctr nodes filed in the slot's
// lists; and the helpers the raw vector readers share with them.
#include "program/CoreProg.h"

#include "engine/CoreVctr.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using X = DataXml_;

CoreAnsx quoted(CoreAnsx const& text) { return CoreAnsx("\"") + text + CoreAnsx("\""); }

// The one failure text of a reader level: CoreAnsx failures pass as they
// are, anything else (the standard library's allocation) becomes one.
[[noreturn]] void rethrowAsText(char const* where) {
    try {
        throw;
    } catch (CoreAnsx const&) {
        throw;
    } catch (...) {
        throw CoreAnsx(CoreAnsx("Memory request failed in ") + CoreAnsx(where));
    }
}

} // namespace

// ---- shared helpers ----------------------------------------------------------------------

CoreProg::LEVELGUARD::LEVELGUARD(int& depth, CoreAnsx const& tag) : depth(depth) {
    if (depth >= iCmaxdepth) {
        CoreAnsx const why = tag + CoreAnsx(": vectors nested deeper than ") +
                             CoreAnsx(iCmaxdepth) + CoreAnsx(" levels");
        CoreLog_::loger(why, 1);
        throw why;
    }
    ++depth;
}

CoreProg::LEVELGUARD::~LEVELGUARD() { --depth; }

std::vector<CoreNode*> CoreProg::elementsOf(CoreNode const* vector) {
    std::vector<CoreNode*> out;
    CoreTlst* children = vector ? vector->getcn() : nullptr;
    if (!children) return out;
    for (int i = 0; i < children->count; ++i) {
        auto* child = static_cast<CoreNode*>((*children)[unsigned(i)]);
        if (child && !child->leaf_() && child->gettx().Trim().UpperCase() == X::sCtagelemnt)
            out.push_back(child);
    }
    return out;
}

bool CoreProg::readElements(int n, char const* files,
                            std::function<bool(int j, bool& isfile)> const& read) {
    int filecount = 0, vectorcount = 0;
    for (int j = 0; j < n; ++j) {
        bool isfile = false;
        vectorcount += read(j, isfile) ? 1 : 0;
        filecount += isfile ? 1 : 0;
    }
    // The vector would take its file elements for missing children.
    if (filecount > 0 && vectorcount > 0) {
        CoreAnsx const why =
            X::sCtagvector + CoreAnsx(" mixes ") + CoreAnsx(files) + CoreAnsx(" files and vectors");
        CoreLog_::loger(why, 1);
        throw why;
    }
    return filecount == n;
}

CoreProg::CONTROLSOURCES CoreProg::sourcesOf(CoreNode const* control, double minimum,
                                             double maximum) {
    bool const sourceon = present(control, X::sCtagsource);
    if (sourceon && present(control, X::sCtagmnvalu)) {
        minimum = numberOf(control, X::sCtagmnvalu, 0.0);
        maximum = numberOf(control, X::sCtagmxvalu, 0.0);
    }
    return {sourceon,
            textOf(control, X::sCtagsource, ""),
            present(control, X::sCtagbussrc),
            textOf(control, X::sCtagbussrc, ""),
            minimum,
            maximum};
}

CoreAnsx CoreProg::CONTROLSOURCES::debug() const {
    return X::sCtagcontrl + CoreAnsx(":") + CoreAnsx(sourceon ? "S:" : "-:") + CoreAnsx(minimum) +
           CoreAnsx(":") + CoreAnsx(maximum) + CoreAnsx(":") + source +
           CoreAnsx(buson ? ":B:" : ":-:") + bus;
}

void CoreProg::cutList(CoreTlst& list, int count) {
    while (list.count > count && list.count > 0) list.Delete(list.count - 1);
}

void CoreProg::readExternal(CorePool* pool, CoreFsys* store, CoreAnsx const& file, FILECHAIN& open,
                            std::function<void(CoreNode*)> const& read) {
    CoreAnsx const key = file.Trim().UpperCase();
    // Each refusal is thrown with its reason, which the program's line repeats.
    auto refuse = [&file](char const* why, short level) {
        CoreAnsx const line = quoted(file) + CoreAnsx(why);
        CoreLog_::logfl(line, level);
        throw line;
    };
    if (std::find(open.begin(), open.end(), key) != open.end()) refuse(": refers to itself", 1);
    open.push_back(key);
    struct Pop {
        FILECHAIN& chain;
        ~Pop() { chain.pop_back(); }
    } pop{open};

    CoreAnsx const text = getas(pool, store, file);
    if (text == CoreAnsx("0")) refuse(": cannot be read", 0);
    CoreXml_ document;
    CoreNode* vector = nullptr;
    try {
        CoreNode* root = document.getfc(text);
        vector = childOf(root ? root->getcd() : nullptr, X::sCtagvector);
    } catch (...) {
        refuse(": no readable document", 0);
    }
    if (document.cutsh(quoted(file))) throw quoted(file) + CoreAnsx(": cut short");
    if (!vector) refuse(": no VECTOR", 0);
    try {
        read(vector);
    } catch (...) {
        // The innermost refusal names its own file and why.
        CoreLog_::logfl(quoted(file), 1);
        rethrowAsText("a vector file");
    }
}

// ---- VECTOR ------------------------------------------------------------------------------

CoreVctr* CoreProg::vectr(CorePool* pool, CorePlel* cache, CoreFsys* store, HLOC* slots,
                          DataSrce* sources, short slot, CoreNode* vector, int& depth,
                          CoreAnsx& path, CoreAnsx const& base, long ceiling, short capacity,
                          FILECHAIN* open) {
    if (!slots || slot < 0 || slot > capacity || !vector) {
        CoreAnsx const why = CoreAnsx("VECTOR without slot or node: ") + CoreAnsx(int(slot));
        CoreLog_::loger(why, 1);
        throw why;
    }
    FILECHAIN chain;
    if (!open) open = &chain;
    LEVELGUARD level(depth, X::sCtagvector);
    CoreLog_::debug(X::sCtagvector, 3, static_cast<short>(depth));

    HLOC& h = slots[slot];
    int const leafmark = h.leaves.count, coremark = h.cores.count;
    std::vector<CoreVctr*> children; // built, not yet owned by a vector
    try {
        // A VECTOR without COMMON takes every value as absent.
        CoreNode const* common = childOf(vector, X::sCtagcommon);
        double const minimum = numberOf(common, X::sCtagmnvalu, 0.0);
        double const maximum = numberOf(common, X::sCtagmxvalu, 0.0);
        double const busminimum = numberOf(common, X::sCtagmnbusv, 0.0);
        double const busmaximum = numberOf(common, X::sCtagmxbusv, 0.0);
        CoreAnsx const unit = textOf(common, X::sCtaguntval, "");
        double const liquid = numberOf(common, X::sCtagliquid, 0.0) / 100.0;
        int offset = microsOf(common, X::sCtagoffset, 0);
        if (ceiling >= 0 && offset > ceiling) offset = static_cast<int>(ceiling);
        int const fadein = std::min(microsOf(common, X::sCtagfadein, 0), offset);
        CoreNode const* ot[2] = {childOf(common, X::sCtagopttyp + CoreAnsx(1)),
                                 childOf(common, X::sCtagopttyp + CoreAnsx(2))};
        int fadeouts[2] = {0, 0};
        int limits[2] = {0, -1};
        if (ot[0] || ot[1]) {
            for (int k = 0; k < 2; ++k) {
                fadeouts[k] = microsOf(ot[k], X::sCtagfadeou, 0);
                limits[k] = microsOf(ot[k], X::sCtaglength, 0);
            }
            // An OT2 LENGTH that is not a positive whole number is no limit,
            // so the extended ceiling applies: taken as the normal limit, a
            // slot without OT1 kept only its first sample.
            if (ot[1] && limits[1] <= 0) limits[1] = std::numeric_limits<int>::max();
        } else {
            fadeouts[0] = microsOf(common, X::sCtagfadeou, 0);
            limits[0] = microsOf(common, X::sCtaglength, -1);
        }
        CoreAnsx const liquidsource = textOf(common, X::sCtaglqsrce, "ON");
        bool const switching = numberOf(common, X::sCtagswtchm, 0.0) > 0.0;
        short const fadeincurve = shortOf(common, X::sCtagfadeic, -1);
        short const fadeoutcurve = shortOf(common, X::sCtagfadeoc, -1);

        std::vector<CoreNode*> const elements = elementsOf(vector);
        int const n = static_cast<int>(elements.size());
        std::vector<CoreAnsx> names(n, CoreAnsx(""));
        std::vector<double> weights(n, 0.0), busweights(n, 0.0);
        children.assign(n, nullptr);
        bool const leaf = readElements(n, "impulse", [&](int j, bool& isfile) {
            children[j] =
                elmnt(pool, cache, store, slots, sources, slot, elements[j], isfile, names[j],
                      weights[j], busweights[j], depth, path, base, ceiling, capacity, open);
            return children[j] != nullptr;
        });

        auto* v =
            new CoreVctr(pool, cache, slot, h.convolver, leaf, n, names.data(), weights.data(),
                         children.data(), minimum, maximum, busweights.data(), busminimum,
                         busmaximum, unit, sources, liquid, liquidsource, offset, fadein, fadeouts,
                         limits, switching, fadeincurve, fadeoutcurve, slot < capacity);
        children.clear(); // the vector owns them now
        try {
            (leaf ? h.leaves : h.cores).Add(v);
        } catch (...) {
            delete v;
            throw;
        }
        CoreAnsx summary = X::sCtagvector + CoreAnsx(":") + CoreAnsx(leaf ? "T:" : "L:");
        for (double value : {minimum, maximum, busminimum, busmaximum, liquid})
            summary += CoreAnsx(value) + CoreAnsx(":");
        for (int value : {offset, fadein, fadeouts[0], fadeouts[1], limits[0], limits[1], n})
            summary += CoreAnsx(value) + CoreAnsx(":");
        CoreLog_::debug(summary + CoreAnsx(switching ? "S" : "C"), 3, static_cast<short>(depth));
        return v;
    } catch (...) {
        for (CoreVctr* child : children) delete child;
        cutList(h.leaves, leafmark);
        cutList(h.cores, coremark);
        rethrowAsText("VECTOR");
    }
}

// ---- ELEMENT -----------------------------------------------------------------------------

CoreVctr* CoreProg::elmnt(CorePool* pool, CorePlel* cache, CoreFsys* store, HLOC* slots,
                          DataSrce* sources, short slot, CoreNode* element, bool& isfile,
                          CoreAnsx& file, double& weight, double& busweight, int& depth,
                          CoreAnsx& path, CoreAnsx const& base, long ceiling, short capacity,
                          FILECHAIN* open) {
    if (!slots || slot < 0 || slot > capacity) {
        CoreAnsx const why = CoreAnsx("ELEMENT without slot: ") + CoreAnsx(int(slot));
        CoreLog_::loger(why, 1);
        throw why;
    }
    isfile = false;
    if (!element) return nullptr; // a section without ELEMENT holds no vector
    FILECHAIN chain;
    if (!open) open = &chain;
    LEVELGUARD level(depth, X::sCtagelemnt);
    short const dl = static_cast<short>(depth); // debug level of this element's lines
    CoreLog_::debug(X::sCtagelemnt, 3, dl);

    HLOC& h = slots[slot];
    int const leafmark = h.leaves.count, coremark = h.cores.count;
    CoreVctr* result = nullptr;
    try {
        CoreNode* const control = childOf(element, X::sCtagcontrl);
        if (CoreNode* nested = childOf(element, X::sCtagvector)) {
            result = vectr(pool, cache, store, slots, sources, slot, nested, depth, path, base,
                           ceiling, capacity, open);
        } else if (present(element, X::sCtagfilenm)) {
            // A FILEPATH holds for this and every later element of the section.
            if (present(element, X::sCtagfilept)) path = textOf(element, X::sCtagfilept, "");
            file = base + path + textOf(element, X::sCtagfilenm, "");
            CoreLog_::debug(X::sCtagfilenm + CoreAnsx(":") + file, 3, short(dl + 1));
            if (!control) {
                isfile = true;
            } else {
                readExternal(pool, store, file, *open, [&](CoreNode* vector) {
                    result = vectr(pool, cache, store, slots, sources, slot, vector, depth, path,
                                   base, ceiling, capacity, open);
                });
            }
        }
        weight = numberOf(element, X::sCtagweight, 0.0);
        busweight = numberOf(element, X::sCtagbuswgt, 0.0);
        CoreLog_::debug(X::sCtagweight + CoreAnsx(":") + CoreAnsx(weight), 3, short(dl + 1));
        CoreLog_::debug(X::sCtagbuswgt + CoreAnsx(":") + CoreAnsx(busweight), 3, short(dl + 1));

        if (control && result) {
            bool const panon = present(control, X::sCtagpanfct);
            double const pan = numberOf(control, X::sCtagpanfct, 0.0) / 90.0;
            CoreAnsx const pansource =
                panon ? textOf(control, X::sCtagpnsrce, "OFF") : CoreAnsx("OFF");
            double gainpad = 1.0;
            if (present(control, X::sCtaggainpd)) {
                double const db = CoreButl::flushSubnormal(numberOf(control, X::sCtaggainpd, 0.0));
                gainpad = std::pow(10.0, db / 20.0);
                // Thousands of dB overflow: the mix would carry infinities.
                if (!std::isfinite(gainpad)) {
                    CoreLog_::loger(CoreAnsx("No finite gain for GAINPADFACTOR ") + CoreAnsx(db),
                                    1);
                    gainpad = 1.0;
                }
            }
            CoreAnsx const gainpadsource = textOf(control, X::sCtaggainps, "ON");
            bool const gainon = present(control, X::sCtaggnsrce);
            CoreAnsx const gainsource = textOf(control, X::sCtaggnsrce, "OFF");
            double const handle = numberOf(control, X::sCtaggainhd, result->getmn());
            bool const limiteron = present(control, X::sCtaggainlm);
            double const limiter = numberOf(control, X::sCtaggainlm, 1.0);
            CONTROLSOURCES const c = sourcesOf(control, result->getmn(), result->getmx());
            result->setvl(c.sourceon, c.minimum, c.maximum, c.source, c.buson, c.bus, pan,
                          pansource, gainpad, gainpadsource, gainon, gainsource, limiteron, handle,
                          limiter);
            CoreLog_::debug(c.debug(), 3, short(dl + 1));
        }
        return result;
    } catch (...) {
        delete result;
        cutList(h.leaves, leafmark);
        cutList(h.cores, coremark);
        rethrowAsText("ELEMENT");
    }
}

CoreVctr* CoreProg::elmnt(CorePool* pool, CorePlel* cache, CoreFsys* store, HLOC* slots,
                          DataSrce* sources, short slot, CoreNode* element, int& depth,
                          CoreAnsx& path, CoreAnsx const& base, long ceiling, short capacity,
                          FILECHAIN* open) {
    bool isfile = false;
    CoreAnsx file("");
    double weight = 0.0, busweight = 0.0;
    return elmnt(pool, cache, store, slots, sources, slot, element, isfile, file, weight, busweight,
                 depth, path, base, ceiling, capacity, open);
}
