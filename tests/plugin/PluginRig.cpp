#include "tests/plugin/PluginRig.h"

#include <filesystem>
#include <vector>

#include "runtime/CoreButl.h"
#include "tools/CoreDemo.h"

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
