#include "tests/display/FakeBean.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {
// The display's chains as the fake runs them: each step shows the text of its
// message variable and the slot (or name) it works on.
struct STEP {
    char const* message;
    char const* subject; // or null
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
// Category keys compare trimmed and upper-cased, as program memory's do.
std::string key(std::string text) {
    auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
} // namespace

const std::vector<FakeBean::BOOTSTEP> FakeBean::threeLines = {
    {1, "Reading master settings", false, false, true},
    {2, "Scanning bank 0", false, false, true},
    {3, "Engine ready", true, false, true},
    {4, "", false, true, true},
};

FakeBean::FakeBean() : rows(8), script(threeLines) { values[{'b', CoreBnid::iCmode, 0, 0}] = "1"; }

std::string FakeBean::exact(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

void FakeBean::turn(int k, double raw) {
    std::lock_guard hold(mutex);
    if (k >= 0 && k < iCcontrols) controls[k].raw[controls[k].alternate ? 1 : 0] = raw;
}

double FakeBean::raw(int k, bool main) const {
    std::lock_guard hold(mutex);
    if (k < 0 || k >= iCcontrols) return 0.0;
    return controls[k].raw[!main && controls[k].alternate ? 1 : 0];
}

bool FakeBean::alternate(int k) const {
    std::lock_guard hold(mutex);
    return k >= 0 && k < iCcontrols && controls[k].alternate;
}

bool FakeBean::controlget(char kind, int id, int element, std::string& out) const {
    if (id < CoreBnid::iCalternate || id > CoreBnid::iCcarried) return false;
    if (id == CoreBnid::iCcarried && !values.count({kind, id, element, 0})) return out = "-1", true;
    if (element < 0 || element >= iCcontrols || id == CoreBnid::iCcarried) return false;
    CONTROL const& c = controls[element];
    if (kind == 'd' && id == CoreBnid::iCraw) return out = exact(c.raw[c.alternate ? 1 : 0]), true;
    if (kind == 'b' && id == CoreBnid::iCmainvalid) return out = c.valid[0] ? "1" : "0", true;
    if (kind == 'd' && id == CoreBnid::iCcontrol) return out = exact((c.raw[0] + 1.0) / 2.0), true;
    return false;
}

void FakeBean::controlset(int id, int element, std::string const& value) {
    if (id < CoreBnid::iCalternate || id > CoreBnid::iCcontrol || element < 0 ||
        element >= iCcontrols)
        return;
    CONTROL& c = controls[element];
    double v = std::atof(value.c_str());
    int current = c.alternate ? 1 : 0;
    switch (id) {
    case CoreBnid::iCalternate:
        c.alternate = value == "1";
        if (c.alternate) c.raw[1] = -1.0, c.valid[1] = false;
        break;
    case CoreBnid::iCrawnotvalid: c.raw[0] = v, c.valid[0] = false; break;
    case CoreBnid::iCsetraw: c.raw[current] = v, c.valid[current] = true; break;
    case CoreBnid::iCrawvalid: c.raw[0] = v, c.valid[0] = true; break;
    case CoreBnid::iCcontrol: c.raw[0] = 2.0 * v - 1.0; break;
    default: break;
    }
}

void FakeBean::put(char kind, int id, std::string const& value, int element, int subindex) {
    std::lock_guard hold(mutex);
    values[{kind, id, element, subindex}] = value;
}

void FakeBean::name(int slot, std::string const& text) {
    std::lock_guard hold(mutex);
    names[slot] = text;
}

void FakeBean::program(int slot, std::string const& text, std::array<std::string, 3> const& cats) {
    std::lock_guard hold(mutex);
    names[slot] = text;
    categories[slot] = cats;
}

void FakeBean::word(std::string const& category, std::string const& text) {
    std::lock_guard hold(mutex);
    dictionary[key(category)] = text;
}

void FakeBean::files(std::string const& folder, std::vector<std::string> const& list) {
    std::lock_guard hold(mutex);
    folders[folder] = list;
}

int FakeBean::level() const {
    std::lock_guard hold(mutex);
    return browse;
}

void FakeBean::boot(std::vector<BOOTSTEP> steps) {
    std::lock_guard hold(mutex);
    script = std::move(steps);
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

std::string FakeBean::var(std::string const& variable) const {
    std::lock_guard hold(mutex);
    return vars.count(variable) ? vars.at(variable) : "";
}

std::vector<FakeBean::WRITE> FakeBean::writes() const {
    std::lock_guard hold(mutex);
    return log;
}

void FakeBean::forget() {
    std::lock_guard hold(mutex);
    log.clear();
}

std::string FakeBean::get(char kind, int id, BEANSTRUCT* index) {
    int element = index ? index->element : 0, subindex = index ? index->subindex : 0, n = 0;
    if (kind == 'b' && id == CoreBnid::iCbatchstep) {
        n = ++stepreads;
        if (int ms = slowms; ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    std::unique_lock hold(mutex);
    if (kind == 's' && id == CoreBnid::iCslotname)
        return names.count(element) ? names[element] : "0";
    if (kind == 'i' && (id == CoreBnid::iCnextslot || id == CoreBnid::iCfilteredslot))
        return std::to_string(
            search(element, subindex < 0 ? -1 : 1, id == CoreBnid::iCfilteredslot));
    if (kind == 's' && id == CoreBnid::iCslotcategory)
        return element >= 0 && element < int(catlist.size()) ? catlist[size_t(element)] : "";
    if (kind == 'i' && (id == CoreBnid::iCcategories || id == CoreBnid::iCtopcategories))
        return catlist = distinct(id == CoreBnid::iCcategories ? browse : 0),
               std::to_string(catlist.size());
    if (kind == 'i' && id == CoreBnid::iCbrowselevel) {
        browse = std::clamp(browse + element, 0, 2);
        size_t count = distinct(browse).size();
        if (count == 0) browse = std::max(browse - 1, 0);
        return std::to_string(count);
    }
    if (TNODE const* node = reached();
        id >= CoreBnid::iCtreechildren && id <= CoreBnid::iCtreewords) {
        if (kind == 'i' && id == CoreBnid::iCtreechildren)
            return std::to_string(node ? node->children.size() : 0);
        if (kind == 's' && id == CoreBnid::iCtreetext)
            return leaf = !node || node->children.empty(), node ? node->text : "";
        if (kind == 'b' && id == CoreBnid::iCtreeleaf) return leaf ? "1" : "0";
        if (kind == 's' && id == CoreBnid::iCtreewords && node)
            return dictionary.count(node->text) ? dictionary[node->text] : node->text;
    }
    if (kind == 'i' && id == CoreBnid::iClistfiles) return std::to_string(listing.size());
    if (kind == 's' && id == CoreBnid::iClistfiles)
        return element >= 0 && element < int(listing.size()) ? listing[size_t(element)] : "";
    if (kind == 's' && id == CoreBnid::iCenginerow)
        return element >= 0 && element < int(rows.size()) ? rows[size_t(element)] : "";
    if (kind == 's' && id == CoreBnid::iCvarvalue) return vars[selected];
    if (kind == 's' && id == CoreBnid::iCbatchstep) return line;
    if (kind == 'b' && id == CoreBnid::iCbatchstep) {
        atgate = gatesteps >= 0 && n > gatesteps;
        gatechange.wait(hold, [&] { return gatesteps < 0 || n <= gatesteps; });
        atgate = false;
        return step(n) ? "1" : "0";
    }
    if (std::string out; controlget(kind, id, element, out)) return out;
    if (std::string out; midiget(kind, id, out)) return out;
    if (kind == 'b' && id == CoreBnid::iCsmoothing) { // switches smoothing to the element's setting
        bool hybrid = values[{'b', CoreBnid::iCforcehybrid, 0, 0}] == "1";
        bool live = element < 0 || (cansmooth && !hybrid);
        if (live) {
            values[{'d', CoreBnid::iCsmoothing, 0, 0}] = std::to_string(element + 1);
            values[{'h', CoreBnid::iCsmoothsetting, 0, 0}] = std::to_string(element);
        }
        log.push_back({'r', CoreBnid::iCsmoothing, element, subindex, live ? "1" : "0"});
        return live ? "1" : "0";
    }
    auto found = values.find({kind, id, element, subindex});
    return found != values.end() ? found->second : "";
}

void FakeBean::set(char kind, int id, std::string const& value, BEANSTRUCT* index) {
    std::lock_guard hold(mutex);
    int element = index ? index->element : 0, subindex = index ? index->subindex : 0;
    log.push_back({kind, id, element, subindex, value});
    values[{kind, id, element, subindex}] = value;
    if (id == CoreBnid::iCvarname) selected = value;
    if (id == CoreBnid::iCvarvalue) vars[selected] = value;
    if (id == CoreBnid::iCclearvars) vars.clear();
    if (id == CoreBnid::iCclearrows) rows.assign(rows.size(), "");
    if (id == CoreBnid::iCslotname) names[element] = value;
    if (id == CoreBnid::iCname) values[{'b', CoreBnid::iCnamechanged, 0, 0}] = "1";
    if (id == CoreBnid::iChdim) setkernels(std::atoi(value.c_str()));
    if (kind == 's' && id == CoreBnid::iCslotcategory && subindex >= 0 && subindex < 3)
        categories[element][size_t(subindex)] = value;
    if (kind == 's' && id == CoreBnid::iCfilter && element >= 0 && element < 3)
        filters[element] = value;
    if (kind == 'v' && id == CoreBnid::iCrebuildtree) buildtree();
    if (kind == 'i' && id == CoreBnid::iCtreepath && element >= 0 && element < 5)
        path[element] = std::atoi(value.c_str());
    if (kind == 'v' && id == CoreBnid::iClistfiles) {
        listing.clear();
        std::string mask = values[{'s', CoreBnid::iClistmask, 0, 0}];
        for (std::string const& file : folders[values[{'s', CoreBnid::iClistfolder, 0, 0}]])
            if (fnmatch(mask.c_str(), file.c_str(), 0) == 0) listing.push_back(file);
    }
    if (kind == 'v' &&
        id == CoreBnid::iCmodexchange) { // every setting of the two modulators changes place
        for (int setting = CoreBnid::iCmodshown; setting <= CoreBnid::iCmodbarmaximum; ++setting)
            for (char k : std::string("bhilds")) {
                auto a = values.find({k, setting, element, 0}),
                     b = values.find({k, setting, subindex, 0});
                std::string first = a != values.end() ? a->second : "",
                            second = b != values.end() ? b->second : "";
                if (a == values.end() && b == values.end()) continue;
                values[{k, setting, element, 0}] = second;
                values[{k, setting, subindex, 0}] = first;
            }
    }
    if (id == CoreBnid::iCmodshown || id == CoreBnid::iCmodprelabel ||
        id == CoreBnid::iCmodexchange)
        rederive();
    controlset(id, element, value);
    modulatorset(id, element, value);
    midiset(id, element, subindex, value);
    if (id == CoreBnid::iCbootstep && nextboot < script.size()) { // one boot step
        BOOTSTEP const& s = script[nextboot++];
        ++bootsrun;
        values[{'i', CoreBnid::iCbootline, 0, 0}] = std::to_string(s.number);
        values[{'s', CoreBnid::iCbootline, 0, 0}] = s.line;
        values[{'b', CoreBnid::iCbootbare, 0, 0}] = s.bare ? "1" : "0";
        values[{'b', CoreBnid::iCbootdone, 0, 0}] = s.finished ? "1" : "0";
        values[{'b', CoreBnid::iCbootok, 0, 0}] = s.ok ? "1" : "0";
    }
}

bool FakeBean::step(int n) {
    if (forever) {
        line = "endless " + std::to_string(n);
        return false;
    }
    std::string next = vars["NEXTSTEP"];
    if (next.empty()) return true;
    if (chains.count(next)) chain = next, chainstep = 0;
    auto found = chains.find(chain);
    if (found == chains.end() || chainstep >= found->second.size()) {
        line = "unknown step " + next;
        vars["NEXTSTEP"] = "";
        return false;
    }
    STEP const& s = found->second[chainstep++];
    line = vars[s.message];
    if (s.subject != nullptr) {
        std::string subject = vars[s.subject];
        line += " " + subject;
        if (names.count(std::atoi(subject.c_str())))
            line += " " + names[std::atoi(subject.c_str())];
    }
    rows[0] = chain + " " + std::to_string(chainstep) + "/" + std::to_string(found->second.size());
    if (chainstep == found->second.size()) chainend(chain);
    vars["NEXTSTEP"] =
        chainstep < found->second.size() ? chain + "#" + std::to_string(chainstep) : "";
    return false;
}

bool FakeBean::matches(int slot) const {
    if (key(filters[0]) == "0") return true;
    auto found = categories.find(slot);
    for (int k = 0; k <= browse; ++k)
        if (key(found != categories.end() ? found->second[size_t(k)] : "") != key(filters[k]))
            return false;
    return true;
}

int FakeBean::search(int start, int direction, bool filtered) const {
    int none = nonezero ? 0 : -1;
    bool filtering = filtered && key(filters[0]) != "0";
    int slot = start > 9999 ? 0 : (start < 0 ? 9999 : start);
    for (int n = 0; n < 20001; ++n) {
        if (names.count(slot) && names.at(slot) != "0" && (!filtering || matches(slot)))
            return slot;
        slot += direction;
        if (slot > 9999) {
            if (filtering) return none;
            slot = 0;
        }
        if (slot < 0) slot = 0, direction = 1;
    }
    return none;
}

std::vector<std::string> FakeBean::distinct(int depth) const {
    std::vector<std::string> found;
    for (auto const& [slot, text] : names) {
        if (text == "0") continue;
        auto cats = categories.find(slot);
        std::array<std::string, 3> none{};
        std::array<std::string, 3> const& c = cats != categories.end() ? cats->second : none;
        bool above = true;
        for (int k = 0; k < depth && key(filters[0]) != "0"; ++k)
            above = above && key(c[size_t(k)]) == key(filters[k]);
        std::string value = key(c[size_t(depth)]);
        if (above && !value.empty() && std::find(found.begin(), found.end(), value) == found.end())
            found.push_back(value);
    }
    return found;
}

void FakeBean::buildtree() {
    tree = TNODE{"ROOT", true, {}};
    for (auto const& [slot, text] : names) {
        if (text == "0") continue;
        TNODE* node = &tree;
        auto cats = categories.find(slot);
        if (cats != categories.end())
            for (std::string const& c : cats->second) {
                std::string name = key(c);
                if (name.empty()) continue;
                auto it =
                    std::find_if(node->children.begin(), node->children.end(),
                                 [&](TNODE const& n) { return n.category && n.text == name; });
                if (it == node->children.end()) {
                    node->children.push_back(TNODE{name, true, {}});
                    it = node->children.end() - 1;
                }
                node = &*it;
            }
        node->children.push_back(TNODE{std::to_string(slot) + " - " + text, false, {}});
    }
    auto shown = [this](TNODE const& n) {
        return dictionary.count(n.text) ? dictionary.at(n.text) : n.text;
    };
    std::stable_sort(tree.children.begin(), tree.children.end(),
                     [&](TNODE const& a, TNODE const& b) { return shown(a) < shown(b); });
}

FakeBean::TNODE const* FakeBean::reached() const {
    TNODE const* node = &tree;
    for (int step : path) {
        if (step < 0) break;
        if (step >= int(node->children.size())) return nullptr;
        node = &node->children[size_t(step)];
    }
    return node;
}

void FakeBean::rederive() {
    for (int k = 0; k < iCcontrols; ++k) values[{'h', CoreBnid::iCcarried, k, 0}] = "-1";
    for (int i = 0; i < 8; ++i)
        for (int m = 0; m < 16; ++m) {
            auto shown = values.find({'b', CoreBnid::iCmodshown, m, 0});
            auto pre = values.find({'s', CoreBnid::iCmodprelabel, m, 0});
            if (shown == values.end() || shown->second != "1" || pre == values.end() ||
                pre->second != std::to_string(i + 1))
                continue;
            values[{'h', CoreBnid::iCcarried, i, 0}] = std::to_string(m);
            break;
        }
}

// ---- Kernel, memory and global pages

std::vector<std::string> FakeBean::versions() const {
    std::lock_guard hold(mutex);
    return saved;
}

void FakeBean::setkernels(int limit) {
    int master = std::atoi(values[{'h', CoreBnid::iCkernellimit, 0, 0}].c_str());
    int used = limit > 0 ? std::min(limit, slots) : slots;
    if (master > 0) used = std::min(used, master);
    values[{'h', CoreBnid::iCslotsused, 0, 0}] = std::to_string(used);
}

void FakeBean::chainend(std::string const& done) {
    auto number = [&](char const* variable) { return std::atoi(vars[variable].c_str()); };
    auto load = [&](int slot) {
        values[{'i', CoreBnid::iCslot, 0, 0}] = std::to_string(slot);
        values[{'s', CoreBnid::iCname, 0, 0}] = names.count(slot) ? names[slot] : "";
        values[{'b', CoreBnid::iCnamechanged, 0, 0}] = "0";
    };
    if (done == "OVERWRITEMEMORYLOC") {
        int from = number("OLDPROGRAM"), to = number("NEWPROGRAM");
        if (names.count(from)) names[to] = names[from];
        names.erase(from);
    } else if (done == "DELETEMEMORYLOC") {
        names.erase(number("PROG"));
    } else if (done == "REPLACEMEMORYLOC") {
        load(search(number("NEWPROGRAM"), 1, false));
        names.erase(number("OLDPROGRAM"));
    } else if (done == "VERSIONING") {
        saved.push_back(vars["VERSIONINGNAME"]);
        int slot = std::atoi(values[{'i', CoreBnid::iCslot, 0, 0}].c_str());
        while (slot < 9999 && names.count(slot)) ++slot;
        names[slot] = values[{'s', CoreBnid::iCname, 0, 0}];
    } else if (done == "CHANGEHYBRID") {
        values[{'b', CoreBnid::iCforcehybrid, 0, 0}] = vars["BVFORCEHYBRID"].empty() ? "0" : "1";
    } else if (done == "CHANGEMONO") {
        values[{'b', CoreBnid::iCforcemono, 0, 0}] = vars["BVFORCEMONO"].empty() ? "0" : "1";
    }
}

// ---- Modulator settings (see the header), under the mutex.
void FakeBean::modulatorset(int id, int element, std::string const& value) {
    double v = std::atof(value.c_str());
    auto number = [&](int at) { return std::atof(values[{'d', at, element, 0}].c_str()); };
    auto store = [&](char kind, int at, std::string const& text) {
        values[{kind, at, element, 0}] = text;
    };
    if (id == CoreBnid::iClfosetminrate) {
        store('d', CoreBnid::iClfominrate, value);
        if (number(CoreBnid::iClfomaxrate) < v) store('d', CoreBnid::iClfomaxrate, value);
    } else if (id == CoreBnid::iClfosetmaxrate) {
        store('d', CoreBnid::iClfomaxrate, value);
        if (number(CoreBnid::iClfominrate) > v) store('d', CoreBnid::iClfominrate, value);
    } else if (id == CoreBnid::iClfosetratesource) {
        store('s', CoreBnid::iClforatesource, value);
    } else if (id == CoreBnid::iCfnginputa || id == CoreBnid::iCfnginputb) {
        int b = id - CoreBnid::iCfnginputa; // 0 for A, 1 for B
        char* end = nullptr;
        double constant = std::strtod(value.c_str(), &end);
        bool isnumber = !value.empty() && end != nullptr && *end == '\0';
        store('b', CoreBnid::iCfngisconstanta + b, isnumber ? "1" : "0");
        if (isnumber)
            store('d', CoreBnid::iCfngconstanta + b, exact(constant));
        else
            store('s', CoreBnid::iCfngsourcea + b, value);
    } else if (id == CoreBnid::iCevfsetbalance) {
        store('d', CoreBnid::iCevfbalance, value);
    }
}

// ---- Master, MIDI and disk pages (see the header).
void FakeBean::setmt(short type, bool force) {
    std::lock_guard hold(mutex);
    log.push_back({'m', CoreBnid::iCmeter, 0, 0, std::to_string(type)});
    std::string& meter = values[{'h', CoreBnid::iCmeter, 0, 0}];
    if (force || meter != std::to_string(type)) meter = std::to_string(type);
}

void FakeBean::midislot(int n, MIDISLOT const& slot) {
    std::lock_guard hold(mutex);
    if (n >= 0 && n < 8) midi[n] = slot;
}

FakeBean::MIDISLOT FakeBean::midislot(int n) const {
    std::lock_guard hold(mutex);
    return n >= 0 && n < 8 ? midi[n] : MIDISLOT{};
}

bool FakeBean::midiget(char kind, int id, std::string& out) {
    if (kind == 'b' && id == CoreBnid::iCmidiin) {
        out = values[{'b', CoreBnid::iCmidiin, 0, 0}];
        values[{'b', CoreBnid::iCmidiin, 0, 0}] = "0";
        return true;
    }
    if (id < CoreBnid::iCmidilearn || id > CoreBnid::iCmidivalue || midiselected < 0 ||
        midiselected >= 8)
        return false;
    MIDISLOT const& m = midi[midiselected];
    int const fields[] = {m.learn ? 1 : 0, m.status, m.controller, m.channel, m.value};
    out = std::to_string(fields[id - CoreBnid::iCmidilearn]);
    return true;
}

void FakeBean::midiset(int id, int element, int subindex, std::string const& value) {
    int n = std::atoi(value.c_str());
    if (id == CoreBnid::iCmidiselect) midiselected = n;
    if (id != CoreBnid::iCmidichange || n < 0 || n >= 8) return;
    if (subindex < 0) {
        midi[n].learn = !midi[n].learn;
        return;
    }
    midi[n].learn = false;
    midi[n].status = element;
    midi[n].controller = std::min(subindex, 127);
}
