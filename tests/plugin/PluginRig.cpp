#include "tests/plugin/PluginRig.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
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
