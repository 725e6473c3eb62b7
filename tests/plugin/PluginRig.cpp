#include "tests/plugin/PluginRig.h"

#include <filesystem>

#include "tools/CoreDemo.h"

PluginRig::PluginRig() {
    so = temp.folder() + "vorlan.so";
    std::filesystem::copy_file(VORLAN_PLUGIN_SO, so);
    CoreDemo::wrdem(CoreAnsx(temp.folder().c_str()), CoreAnsx("vorlan.so"));
}
