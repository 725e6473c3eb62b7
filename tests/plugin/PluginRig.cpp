#include "tests/plugin/PluginRig.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <tuple>
#include <vector>

#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

PluginRig::PluginRig() {
    so = temp.folder() + "vorlan.so";
    std::filesystem::copy_file(VORLAN_PLUGIN_SO, so);
    CoreDemo::wrdem(CoreAnsx(temp.folder().c_str()), CoreAnsx("vorlan.so"));
}

bool PluginRig::settings(std::vector<std::pair<std::string, std::string>> const& more) const {
    CoreDdoc::VALUES values = CoreDemo::mstvl();
    for (auto const& [key, value] : more) {
        bool replaced = false;
        for (auto& v : values)
            if (v.first == key) v.second = value, replaced = true;
        if (!replaced) values.emplace_back(key, value);
        if (value.empty())
            std::erase_if(values, [&name = key](auto const& v) { return v.first == name; });
    }
    std::string const text = CoreDdoc::mstxm(values);
    std::string const file = temp.folder() + CoreDemo::mstnm(CoreAnsx("vorlan.so")).c_str();
    return CoreButl::wrall(CoreAnsx(file.c_str()), text.data(), text.size());
}

bool writeText(CorePeer& p, int id, std::string const& text) {
    CorePrvt::BUSCALL b;
    b.kind = 's';
    b.write = true;
    std::snprintf(b.text, sizeof b.text, "%s", text.c_str());
    CorePrvt::CALL c;
    c.kind = CorePrvt::iCbus;
    c.id = id;
    c.data = &b;
    c.size = sizeof b;
    return p.call(c) == 1;
}

std::vector<std::string> chain(CorePeer& p,
                               std::vector<std::pair<std::string, std::string>> const& vars,
                               std::size_t steps) {
    p.bus(225, 'v');
    for (auto const& [name, value] : vars)
        if (!writeText(p, 223, name) || !writeText(p, 224, value)) return {"not posted"};
    std::vector<std::string> lines;
    for (CorePrvt::BUSCALL b = p.bus(226, 'b');
         b.kind != 0 && b.number == 0.0 && lines.size() < steps; b = p.bus(226, 'b'))
        lines.push_back(p.bus(226, 's').text);
    return lines;
}

std::string textOf(CorePeer& p, int id, int element) { return p.bus(id, 's', element).text; }
int slotOf(CorePeer& p) { return int(p.bus(67, 'i').number); }

bool playing(CorePeer& p, int slot, std::string const& name) {
    return CorePeer::until(
        [&] {
            CorePrvt::BUSCALL const busy = p.bus(46, 'b');
            return busy.kind != 0 && busy.number == 0.0 && slotOf(p) == slot &&
                   textOf(p, 56) == name;
        },
        60.0); // s; boots and loads under the sanitizers
}
bool ready(CorePeer& p) { return playing(p, CoreDemo::iCroom, "Demo Room"); }

std::vector<std::string> posted(CorePeer& p, char const* step,
                                std::vector<std::pair<std::string, std::string>> vars) {
    vars.insert(vars.begin(), {{"SAVING", "Saving"},
                               {"MOVED", "Moved"},
                               {"DELETED", "Deleted"},
                               {"LOADED", "Loaded"},
                               {"LOADING", "Loading"}});
    vars.emplace_back("NEXTSTEP", step);
    return chain(p, vars, 9);
}
std::vector<std::string> version(CorePeer& p, std::string const& name) {
    return posted(p, "VERSIONING", {{"VERSIONINGNAME", name}});
}

std::vector<std::string> entries(std::string const& bank, std::vector<std::string> more) {
    std::vector<std::string> out;
    for (std::size_t at = bank.find("<PROGRAM>"); at != bank.npos;
         at = bank.find("<PROGRAM>", at + 1)) {
        std::string const entry = bank.substr(at, bank.find("</PROGRAM>", at) - at);
        std::string line;
        for (std::string tag : {"SEQUENCE", "FILENAME", "LOAD"}) {
            std::size_t const from = entry.find("<" + tag + ">"), to = entry.find("</" + tag + ">");
            std::string v = from < to && to != entry.npos
                                ? entry.substr(from + tag.size() + 2, to - from - tag.size() - 2)
                                : "";
            v.erase(0, v.find_first_not_of(" \t\r\n"));
            v.erase(v.find_last_not_of(" \t\r\n") + 1);
            line += (tag == "SEQUENCE" ? "" : "|") + v;
        }
        out.push_back(line);
    }
    out.insert(out.end(), more.begin(), more.end());
    return out;
}

bool restoreAt(CorePeer& p, std::string const& programs, int location) {
    void* data = nullptr;
    if (p.host().dispt(PlatVst::opGetChunk, 0, 0, &data) <= 0) return false;
    std::string chunk = static_cast<char const*>(data);
    std::filesystem::copy_file(programs + "ROOM.XML", programs + "CHUNKED.xml",
                               std::filesystem::copy_options::overwrite_existing);
    std::string const at = std::to_string(location);
    for (auto [tag, value, first] : {std::tuple{"NAME", "Chunked", true},
                                     {"SELECTEDPROGRAM", at.c_str(), true},
                                     {"SEQUENCE", at.c_str(), false},
                                     {"ORIGINALFILENAME", "CHUNKED.xml", false}}) {
        std::string const open = std::string("<") + tag + ">";
        std::size_t const from = (first ? chunk.find(open) : chunk.rfind(open)) + open.size();
        chunk.replace(from, chunk.find('<', from) - from, value);
    }
    return p.host().dispt(PlatVst::opSetChunk, 0, std::intptr_t(chunk.size() + 1), chunk.data()) ==
               1 &&
           CorePeer::until([&] { return slotOf(p) == location && textOf(p, 56) == "Chunked"; },
                           60.0);
}

CoreHost::CHANNELS playedNoise(CoreHost& h, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> d(-0.5, 0.5);
    CoreHost::CHANNELS x(2, std::vector<double>(20000)), y;
    for (auto& c : x)
        for (auto& v : c) v = static_cast<float>(d(g));
    h.rendr(x, y, true);
    std::size_t onset = 0;
    while (onset < y[0].size() && std::abs(y[0][onset]) < 1e-9) ++onset;
    for (auto& c : y) {
        c.erase(c.begin(), c.begin() + long(std::min(onset, c.size())));
        c.resize(8000);
    }
    return y;
}

bool packItem(std::string const& path, std::string const& item, std::string const& bytes) {
    CorePool pool;
    CoreFsys store(&pool);
    int const id = store.crtit(CoreAnsx(item.c_str()), true);
    store.setit(id, bytes.data(), long(bytes.size()), CoreAnsx(""), true, false);
    return store.savea(CoreAnsx(path.c_str()));
}

bool packRoom(std::string const& data, std::string const& name, std::string const& impulse) {
    CoreDdoc::PROGRAM arc = CoreDemo::prgrm(CoreDemo::iCroom);
    arc.name = "Demo Archive";
    arc.slots[0].files = {"ARCROOM.WAV"};
    return packItem(data + CoreDemo::sCprograms + name + ".V2P", name + ".XML",
                    CoreDdoc::prgxm(arc)) &&
           packItem(data + CoreDemo::sCvectors + name + ".V2V", "ARCROOM.WAV", impulse);
}

void writeBank(std::string const& data, std::vector<std::string> const& more) {
    std::vector<std::string> bank(CoreDemo::sCprogramfiles,
                                  CoreDemo::sCprogramfiles + CoreDemo::iCprograms);
    bank.insert(bank.end(), more.begin(), more.end());
    writeBytes(data + CoreDemo::sCsetups + CoreDemo::sCsetup,
               CoreDdoc::stpxm(bank, CoreDemo::iCroom));
}

namespace {

// Where a render of Played::rendr notes the end of each call (done frames, when).
thread_local std::vector<std::pair<long, Played::Clock::time_point>>* renderMarks = nullptr;

} // namespace

Played::Played(PluginRig const& rig, int rate)
    : logs{rig.folder() + "Vorlan3olvio.log",
           rig.folder() + CoreDemo::sCdatapath + "Vorlan3olvio.log"},
      rate(rate) {
    for (std::string const& log : logs) sizes.push_back(readBytes(log).size());
}

void Played::rendr(CoreHost& h, CoreHost::CHANNELS const& in, CoreHost::CHANNELS& out, bool dbl,
                   bool add) {
    std::vector<std::pair<long, Clock::time_point>> marks{{0, Clock::now()}};
    renderMarks = &marks;
    h.rendr(in, out, dbl, add, {},
            [](long done, long) { renderMarks->emplace_back(done, Clock::now()); });
    renderMarks = nullptr;
    for (std::size_t i = 1; i < marks.size(); ++i) {
        double const* at[2] = {out[0].data() + marks[i - 1].first,
                               out[1].data() + marks[i - 1].first};
        record(std::size_t(marks[i].first - marks[i - 1].first), at, marks[i - 1].second,
               marks[i].second);
    }
}

std::vector<std::pair<unsigned long, int>> Played::told() const {
    std::string const line = "calls or chunks dropped: ";
    std::vector<std::pair<unsigned long, int>> totals;
    for (std::size_t f = 0; f < logs.size(); ++f) {
        std::string const text = readBytes(logs[f]);
        // A log removed meanwhile starts again.
        std::istringstream lines(text.substr(text.size() >= sizes[f] ? sizes[f] : 0));
        for (std::string l; std::getline(lines, l);) {
            std::size_t const at = l.find(line), dash = l.find('-');
            if (at != l.npos && dash < at)
                totals.emplace_back(std::stoul(l.substr(dash + 1)),
                                    std::stoi(l.substr(at + line.size())));
        }
    }
    return totals;
}

int Played::counted() const {
    int most = 0;
    for (auto const& [thread, total] : told()) most = std::max(most, total);
    return most;
}

std::vector<std::vector<int>> Played::counts(std::vector<unsigned long> const& closers) const {
    // Each thread's last total; a thread that is no closer is one instance's control thread.
    std::map<unsigned long, int> threads;
    for (auto const& [thread, total] : told()) threads[thread] = std::max(threads[thread], total);
    std::vector<int> closing(closers.size());
    std::vector<int> others;
    for (auto const& [thread, total] : threads) {
        auto const at = std::find(closers.begin(), closers.end(), thread);
        if (at == closers.end())
            others.push_back(total);
        else
            closing[std::size_t(at - closers.begin())] = total;
    }
    std::vector<std::vector<int>> ways;
    std::size_t all = 1;
    for (std::size_t i = 0; i < others.size(); ++i) all *= closers.size();
    for (std::size_t way = 0; way < all; ++way) {
        std::vector<int> count = closing;
        for (std::size_t i = 0, w = way; i < others.size(); ++i, w /= closers.size())
            count[w % closers.size()] = std::max(count[w % closers.size()], others[i]);
        if (std::find(ways.begin(), ways.end(), count) == ways.end()) ways.push_back(count);
    }
    return ways;
}

testing::AssertionResult
Played::holds(int count, std::function<std::string(std::vector<bool> const&)> const& fault) const {
    // The latest first: silence the row expects comes before the output first sounds.
    std::vector<std::size_t> looks;
    for (std::size_t i = calls.size(); i-- > 0;)
        if (looksDropped(calls[i])) looks.push_back(i);
    // Each choice of count among them, in order, a few thousand at most.
    std::vector<std::size_t> pick(static_cast<std::size_t>(std::max(count, 0)));
    std::iota(pick.begin(), pick.end(), 0);
    for (int tries = 0; count >= 0 && pick.size() <= looks.size() && tries < 4096; ++tries) {
        std::vector<bool> cut(calls.size());
        for (std::size_t p : pick) cut[looks[p]] = true;
        if (fault(cut).empty()) return testing::AssertionSuccess();
        std::size_t k = pick.size();
        while (k > 0 && pick[k - 1] == looks.size() - pick.size() + k - 1) --k;
        if (k == 0) break;
        ++pick[k - 1];
        for (std::size_t j = k; j < pick.size(); ++j) pick[j] = pick[j - 1] + 1;
    }
    testing::AssertionResult failed = testing::AssertionFailure();
    failed << count << " calls counted as dropped; silent, as long as themselves, from frames:";
    for (std::size_t i : looks) failed << " " << calls[i].first;
    return failed << "; with none cut, " << fault(std::vector<bool>(calls.size()));
}

bool Played::looksDropped(CALL const& c) const {
    return c.silent &&
           std::chrono::duration<double>(c.ended - c.begun).count() * rate >= double(c.frames);
}

testing::AssertionResult Played::delayed(CoreHost::CHANNELS const& in,
                                         CoreHost::CHANNELS const& out, long latency,
                                         int count) const {
    return holds(count, [&](std::vector<bool> const& cut) {
        auto const x = heard(in, cut), y = heard(out, cut);
        long bad = 0;
        for (std::size_t c = 0; c < 2; ++c)
            for (std::size_t k = 0; k < y[c].size(); ++k)
                bad += y[c][k] != (long(k) < latency ? 0.0 : x[c][k - std::size_t(latency)]);
        return bad == 0 ? "" : std::to_string(bad) + " frames wrong";
    });
}

bool wholeChunk(std::string const& text) {
    std::size_t const last = text.find_last_not_of(std::string(" \n\r\t\0", 5));
    return !text.empty() && text.back() == '\0' && std::strlen(text.c_str()) + 1 == text.size() &&
           text.find("<SETUP>") != text.npos && last != text.npos && last >= 7 &&
           text.compare(last - 7, 8, "</SETUP>") == 0;
}
