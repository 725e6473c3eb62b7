#include "modulation/DataSrce.h"

#include "modulation/CoreSrce.h"
#include "runtime/CoreAudp.h"

namespace {

struct SourceRow {
    char const* key;
    char const* label;
};

// Bus index order. Programs store keys, the engine stores indices: both must
// stay as they are. PRM13-16 follow the RAWFUN sources and EVF5 the ERT
// sources because they were added after those.
constexpr SourceRow sourceTable[DataSrce::iCsources] = {
    {"OFF", ""}, // 0
    {"LFO1", ""},
    {"LFO2", ""},
    {"LFO3", ""},
    {"LFO4", ""}, // 1-4
    {"FUN1", ""},
    {"FUN2", ""},
    {"FUN3", ""},
    {"FUN4", ""}, // 5-8
    {"FUN5", ""},
    {"FUN6", ""},
    {"FUN7", ""},
    {"FUN8", ""}, // 9-12
    {"ENV1", ""},
    {"ENV2", ""},
    {"ENV3", ""},
    {"ENV4", ""}, // 13-16
    {"AMC1", ""},
    {"AMC2", ""}, // 17-18
    {"MIX1", ""},
    {"MIX2", ""},
    {"MIX3", ""},
    {"MIX4", ""}, // 19-22
    {"MIX5", ""},
    {"MIX6", ""},
    {"MIX7", ""},
    {"MIX8", ""}, // 23-26
    {"LSTO", ""}, // 27
    {"GAININ", ""},
    {"GAINOUT", ""}, // 28-29
    {"EVF1", ""},
    {"EVF2", ""},
    {"EVF3", ""},
    {"EVF4", ""}, // 30-33
    {"DNM1", ""},
    {"DNM2", ""}, // 34-35
    {"PRM1", ""},
    {"PRM2", ""},
    {"PRM3", ""},
    {"PRM4", ""}, // 36-39
    {"PRM5", ""},
    {"PRM6", ""},
    {"PRM7", ""},
    {"PRM8", ""}, // 40-43
    {"PRM9", ""},
    {"PRM10", ""},
    {"PRM11", ""},
    {"PRM12", ""}, // 44-47
    {"IN_L", ""},
    {"IN_R", ""},
    {"OUTL", ""},
    {"OUTR", ""}, // 48-51
    {"BUS1", ""},
    {"BUS2", ""},
    {"BUS3", ""},
    {"BUS4", ""}, // 52-55
    {"BUS5", ""},
    {"BUS6", ""},
    {"BUS7", ""},
    {"BUS8", ""}, // 56-59
    {"RATELFO1", "RTELFO1"},
    {"RATELFO2", "RTELFO2"}, // 60-61
    {"RATELFO3", "RTELFO3"},
    {"RATELFO4", "RTELFO4"}, // 62-63
    {"IN_P", ""},
    {"OUTP", ""}, // 64-65
    {"RAWFUN1", ""},
    {"RAWFUN2", ""},
    {"RAWFUN3", ""},
    {"RAWFUN4", ""}, // 66-69
    {"PRM13", ""},
    {"PRM14", ""},
    {"PRM15", ""},
    {"PRM16", ""}, // 70-73
    {"EAT1", ""},
    {"EAT2", ""},
    {"EAT3", ""},
    {"EAT4", ""}, // 74-77
    {"ERT1", ""},
    {"ERT2", ""},
    {"ERT3", ""},
    {"ERT4", ""}, // 78-81
    {"EVF5", ""}, // 82
    {"ON", ""},   // 83
};

} // namespace

DataSrce::DataSrce() : count(iCsources), sources{} {
    try {
        for (int i = 0; i < iCsources; ++i)
            sources[i] = new CoreSrce(CoreAnsx(sourceTable[i].key), CoreAnsx(sourceTable[i].label));
    } catch (...) {
        for (CoreSrce* s : sources) delete s;
        throw CoreAnsx("Memory request failed for the modulation sources");
    }
}

DataSrce::~DataSrce() {
    for (CoreSrce*& s : sources) {
        delete s;
        s = nullptr;
    }
}

CoreSrce* DataSrce::getis(int index) const {
    // Reached from the per-block steps: a bad index there is only counted.
    if (!CoreAudp::index(index, count, "Modulation source")) return nullptr;
    return sources[index];
}

int DataSrce::getgs() const { return count; }

void DataSrce::getgs(CoreAnsx* labels, CoreAnsx* keys) const {
    for (int i = 0; i < count; ++i) {
        if (labels) labels[i] = sources[i]->getlb();
        if (keys) keys[i] = sources[i]->getky();
    }
}

int DataSrce::findKey(CoreAnsx const& key) const {
    int found = -1;
    for (int i = 0; i < count; ++i)
        if (sources[i]->getky() == key) found = i;
    return found;
}

CoreSrce* DataSrce::getsc(CoreAnsx const& key) const {
    int const i = findKey(key);
    return sources[i < 0 ? 0 : i];
}

bool DataSrce::isact(CoreAnsx const& key) const { return findKey(key) >= 1; }

bool DataSrce::isils(CoreAnsx const& key) const { return key.Length() <= 0 || findKey(key) >= 0; }
