#include "tests/display/FakeBean.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {
// The display's chains as the fake runs them: each step shows the text of
// its message variable and what it works on.
struct STEP {
    char const* message; // variable holding the step's message text
    char const* subject; // variable naming the slot or name it works on, or null
};
std::map<std::string, std::vector<STEP>> const chains = {
    {"READPROGRAM", {{"LOADING", "NEWPROGRAM"}, {"LOADING", nullptr}, {"LOADED", "NEWPROGRAM"}}},
    {"READPROGRAM_2", {{"LOADING", "NEWPROGRAM"}, {"LOADED", "NEWPROGRAM"}}},
    {"SAVEPROGRAM", {{"SAVING", nullptr}}},
    {"CHANGEHYBRID", {{"HYBRID", nullptr}, {"LOADING", "NEWPROGRAM"}, {"LOADED", "NEWPROGRAM"}}},
    {"CHANGEMONO", {{"MONO", nullptr}, {"LOADING", "NEWPROGRAM"}, {"LOADED", "NEWPROGRAM"}}},
    {"OVERWRITEMEMORYLOC", {{"MOVED", "OLDPROGRAM"}}},
    {"DELETEMEMORYLOC", {{"DELETED", "PROG"}}},
    {"REPLACEMEMORYLOC",
     {{"DELETED", "OLDPROGRAM"}, {"LOADING", "NEWPROGRAM"}, {"LOADED", "NEWPROGRAM"}}},
    {"VERSIONING", {{"SAVING", "VERSIONINGNAME"}}},
};
constexpr int slots = 10000;
} // namespace

const std::vector<FakeBean::BOOTSTEP> FakeBean::threeLines = {
    {1, "Reading master settings", false, false, true},
    {2, "Scanning bank 0", false, false, true},
    {3, "Engine ready", true, false, true},
    {4, "", false, true, true},
};

FakeBean::FakeBean() : rows(8), script(threeLines) { numbers[{'b', 41, 0, 0}] = 1; }

FakeBean::KEY FakeBean::key(char kind, int id, BEANSTRUCT* index) const {
    return {kind, id, index != nullptr ? index->element : 0,
            index != nullptr ? index->subindex : 0};
}

void FakeBean::setb(int id, bool value, int element, int subindex) {
    std::lock_guard hold(mutex);
    numbers[{'b', id, element, subindex}] = value ? 1 : 0;
}

void FakeBean::seth(int id, short value, int element, int subindex) {
    std::lock_guard hold(mutex);
    numbers[{'h', id, element, subindex}] = value;
}

void FakeBean::seti(int id, int value, int element, int subindex) {
    std::lock_guard hold(mutex);
    numbers[{'i', id, element, subindex}] = value;
}

void FakeBean::sets(int id, std::string const& value, int element, int subindex) {
    std::lock_guard hold(mutex);
    texts[{'s', id, element, subindex}] = value;
}

void FakeBean::name(int slot, std::string const& text) {
    std::lock_guard hold(mutex);
    names[slot] = text;
}

void FakeBean::boot(std::vector<BOOTSTEP> steps) {
    std::lock_guard hold(mutex);
    script = std::move(steps);
    nextboot = 0;
}

void FakeBean::slow(int milliseconds) { slowms = milliseconds; }

void FakeBean::endless(bool on) { forever = on; }

std::vector<FakeBean::WRITE> FakeBean::writes() const {
    std::lock_guard hold(mutex);
    return log;
}

void FakeBean::forget() {
    std::lock_guard hold(mutex);
    log.clear();
}

std::string FakeBean::var(std::string const& text) const {
    std::lock_guard hold(mutex);
    auto found = vars.find(text);
    return found != vars.end() ? found->second : std::string();
}

int FakeBean::stepcalls() const { return stepreads; }

int FakeBean::bootcalls() const { return bootsrun; }

double FakeBean::number(char kind, int id, BEANSTRUCT* index) {
    std::lock_guard hold(mutex);
    auto found = numbers.find(key(kind, id, index));
    return found != numbers.end() ? found->second : 0.0;
}

void FakeBean::store(char kind, int id, double value, BEANSTRUCT* index, std::string const& text) {
    KEY k = key(kind, id, index);
    log.push_back({kind, id, std::get<2>(k), std::get<3>(k), text});
    if (kind == 's')
        texts[k] = text;
    else if (kind != 'v')
        numbers[k] = value;
}

void FakeBean::gate(int n) {
    std::lock_guard hold(mutex);
    gatesteps = n;
    gatechange.notify_all();
}

bool FakeBean::waiting() const {
    std::lock_guard hold(mutex);
    return atgate;
}

void FakeBean::setvar(std::string const& variable, std::string const& value) {
    std::lock_guard hold(mutex);
    vars[variable] = value;
}

bool FakeBean::getbb(int id, BEANSTRUCT* index) {
    if (id != 226) return number('b', id, index) != 0.0;
    int n = ++stepreads;
    if (int ms = slowms; ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    std::unique_lock hold(mutex);
    atgate = gatesteps >= 0 && n > gatesteps;
    gatechange.wait(hold, [&] { return gatesteps < 0 || n <= gatesteps; });
    atgate = false;
    if (!forever) return step();
    line = "endless " + std::to_string(n);
    return false;
}

short FakeBean::getbh(int id, BEANSTRUCT* index) { return short(number('h', id, index)); }

int FakeBean::getbi(int id, BEANSTRUCT* index) {
    if (id == 168 || id == 169) {
        std::lock_guard hold(mutex);
        return search(index ? index->element : 0, index && index->subindex < 0 ? -1 : 1);
    }
    return int(number('i', id, index));
}

long FakeBean::getbl(int id, BEANSTRUCT* index) { return long(number('l', id, index)); }

double FakeBean::getbd(int id, BEANSTRUCT* index) { return number('d', id, index); }

CoreAnsx FakeBean::getbs(int id, BEANSTRUCT* index) {
    std::lock_guard hold(mutex);
    int element = index != nullptr ? index->element : 0;
    switch (id) {
    case 167: {
        auto found = names.find(element);
        return CoreAnsx(found != names.end() ? found->second.c_str() : "0");
    }
    case 221:
        return CoreAnsx(element >= 0 && element < int(rows.size()) ? rows[size_t(element)].c_str()
                                                                   : "");
    case 224: {
        auto found = vars.find(selected);
        return CoreAnsx(found != vars.end() ? found->second.c_str() : "");
    }
    case 226: return CoreAnsx(line.c_str());
    default: {
        auto found = texts.find(key('s', id, index));
        return CoreAnsx(found != texts.end() ? found->second.c_str() : "");
    }
    }
}

void FakeBean::setbb(int id, bool value, BEANSTRUCT* index) {
    std::lock_guard hold(mutex);
    store('b', id, value ? 1 : 0, index, value ? "1" : "0");
    if (id == 144) bootstep();
}

void FakeBean::setbh(int id, short value, BEANSTRUCT* index) {
    std::lock_guard hold(mutex);
    store('h', id, value, index, std::to_string(value));
}

void FakeBean::setbi(int id, int value, BEANSTRUCT* index) {
    std::lock_guard hold(mutex);
    store('i', id, value, index, std::to_string(value));
}

void FakeBean::setbl(int id, long value, BEANSTRUCT* index) {
    std::lock_guard hold(mutex);
    store('l', id, double(value), index, std::to_string(value));
}

void FakeBean::setbd(int id, double value, BEANSTRUCT* index) {
    std::lock_guard hold(mutex);
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    store('d', id, value, index, text);
}

void FakeBean::setbs(int id, CoreAnsx value, BEANSTRUCT* index) {
    std::lock_guard hold(mutex);
    store('s', id, 0, index, value.c_str());
    if (id == 223) selected = value.c_str();
    if (id == 224) vars[selected] = value.c_str();
    if (id == 167 && index != nullptr) names[index->element] = value.c_str();
}

void FakeBean::setbv(int id, BEANSTRUCT* index) {
    std::lock_guard hold(mutex);
    store('v', id, 0, index, "");
    if (id == 225) vars.clear();
    if (id == 222) rows.assign(rows.size(), "");
}

void FakeBean::bootstep() {
    if (nextboot >= script.size()) return;
    BOOTSTEP const& s = script[nextboot++];
    ++bootsrun;
    numbers[{'i', 145, 0, 0}] = s.number;
    texts[{'s', 145, 0, 0}] = s.line;
    numbers[{'b', 146, 0, 0}] = s.bare;
    numbers[{'b', 147, 0, 0}] = s.finished;
    numbers[{'b', 148, 0, 0}] = s.ok;
}

std::string FakeBean::slotText(std::string const& variable) const {
    auto found = vars.find(variable);
    if (found == vars.end()) return "";
    if (variable == "VERSIONINGNAME") return found->second;
    auto named = names.find(std::atoi(found->second.c_str()));
    return found->second + " " + (named != names.end() ? named->second : std::string("0"));
}

bool FakeBean::step() {
    std::string next = vars.count("NEXTSTEP") ? vars["NEXTSTEP"] : "";
    if (next.empty()) return true;
    if (chains.count(next)) {
        chain = next;
        chainstep = 0;
    }
    auto found = chains.find(chain);
    if (found == chains.end() || chainstep >= int(found->second.size())) {
        line = "unknown step " + next;
        vars["NEXTSTEP"] = "";
        return false;
    }
    std::vector<STEP> const& steps = found->second;
    STEP const& s = steps[size_t(chainstep)];
    line = vars[s.message];
    if (s.subject != nullptr) line += " " + slotText(s.subject);
    ++chainstep;
    rows[0] = chain + " " + std::to_string(chainstep) + "/" + std::to_string(steps.size());
    vars["NEXTSTEP"] = chainstep < int(steps.size()) ? chain + "#" + std::to_string(chainstep) : "";
    return false;
}

int FakeBean::search(int start, int direction) const {
    auto used = [this](int slot) {
        auto found = names.find(slot);
        return found != names.end() && found->second != "0";
    };
    int slot = start > slots - 1 ? 0 : (start < 0 ? slots - 1 : start);
    for (int n = 0; n < 2 * slots; ++n) {
        if (used(slot)) return slot;
        slot += direction;
        if (slot > slots - 1) slot = 0;
        if (slot < 0) {
            slot = 0;
            direction = 1;
        }
    }
    return 0; // no slot is used
}
