#include "modulation/DataRgfn.h"

#include <cmath>

#include "runtime/CoreButl.h"

namespace {

struct RawRow {
    char const* key;
    char const* label;
    CoreRgfn::FUNCTION function;
};

constexpr RawRow rawTable[DataRgfn::iCrawfunctions] = {
    {"RSINGLE", "Raw 1 value envelope", fr001},
    {"RMULTI", "Raw multi value envelope", fr002},
};

} // namespace

// Without an array there is nothing to play: the last value stands, as it
// does for a modulator whose arrays are missing.
double fr001(CoreRgfn::FUNEXTENSION* st) {
    if (!st->array0 || st->length0 < 1) return st->value;
    return std::exp(-1.0 / (st->array0[0] * st->rate)) - 0.5;
}

double fr002(CoreRgfn::FUNEXTENSION* st) {
    if (!st->array0 || st->length0 < 1) return st->value;
    int const n = st->length0;
    if (n < 2) return st->array0[0]; // no entry past the skipped first one
    double const x = st->a * 100000000.0;
    double const step = 1.0 / st->b;
    double const p = x / step;
    // An input that is not a number (a constant "nan" in a document) has
    // no position: the last value stands.
    if (std::isnan(p)) return st->value;
    double next = 0.0;
    return CoreButl::envsv(x, n, st->array0, step, next, true);
}

DataRgfn::DataRgfn() : count(iCrawfunctions), entries{} {
    try {
        for (int i = 0; i < iCrawfunctions; ++i)
            entries[i] = new CoreRgfn(CoreAnsx(rawTable[i].key), CoreAnsx(rawTable[i].label),
                                      rawTable[i].function);
    } catch (...) {
        for (CoreRgfn* e : entries) delete e;
        throw CoreAnsx("Memory request failed for the raw-function catalogue");
    }
}

DataRgfn::~DataRgfn() {
    for (CoreRgfn*& e : entries) {
        delete e;
        e = nullptr;
    }
}

int DataRgfn::getnm() const { return count; }

CoreRgfn* DataRgfn::getgf(CoreAnsx const& key) const {
    CoreRgfn* found = entries[0];
    for (int i = 0; i < count; ++i)
        if (entries[i]->getky() == key) found = entries[i];
    return found;
}

void DataRgfn::getgs(CoreAnsx* labels, CoreAnsx* keys) const {
    for (int i = 0; i < count; ++i) {
        if (labels) labels[i] = entries[i]->getlb();
        if (keys) keys[i] = entries[i]->getky();
    }
}
