#include "tests/support/DataKit.h"

#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FsysItems.h"
#include "tests/support/WavBytes.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace {

using D = CoreDdoc;

// Writes bytes at path, making its folders first.
void put(std::string const& path, std::string const& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    writeBytes(path, bytes);
    if (readBytes(path) != bytes) throw std::runtime_error("DataKit: cannot write " + path);
}

} // namespace

std::string kitEl(std::string const& tag, std::string const& value) { return D::elmnt(tag, value); }

KitNode::KitNode(std::string const& text) {
    root = xml.getfc(CoreAnsx(text.c_str()));
    node = root ? root->getcd() : nullptr;
}

DataKit::DataKit(char const* stem) : temp(stem) {
    for (std::string const& folder : {programs(), vectors(), setups()})
        std::filesystem::create_directories(folder);
}

std::vector<double> DataKit::impulse(int n, int at, double peak) {
    std::vector<double> x(n > 0 ? n : 0, 0.0);
    for (int k = at < 0 ? 0 : at; k < n; ++k) x[k] = peak * std::exp2(-(k - at) / 8.0);
    return x;
}

std::vector<double> DataKit::ramp(int n, double from, double to) {
    std::vector<double> x(n > 0 ? n : 0, from);
    for (int k = 1; k < n; ++k) x[k] = from + (to - from) * k / (n - 1);
    return x;
}

std::string DataKit::wav(std::string const& name, std::vector<std::vector<double>> const& channels,
                         int rate) {
    WavBytes w;
    w.rate = rate;
    w.channels = channels;
    std::string const path = vectors() + name;
    put(path, wavBytes(w));
    return path;
}

std::string DataKit::listText(std::vector<double> const& values) {
    std::string out;
    char line[48];
    for (double v : values) {
        std::snprintf(line, sizeof line, "%.16f;\n", v);
        out += line;
    }
    return out;
}

std::string DataKit::csv(std::string const& name, std::vector<double> const& values) {
    std::string const path = vectors() + name;
    put(path, listText(values));
    return path;
}

std::string DataKit::vectorXml(KitVector const& v) { return D::vctxm(v); }

std::string DataKit::programXml(KitProgram const& p) { return D::prgxm(p); }

std::string DataKit::vectorFile(std::string const& name, KitVector const& vector) {
    std::string const path = vectors() + name;
    put(path, D::sCheader + D::elmnt("VECTORFILE", vectorXml(vector)) + "\n");
    return path;
}

std::string DataKit::program(std::string const& file, KitProgram const& p) {
    std::string const path = programs() + file;
    put(path, programXml(p));
    return path;
}

std::string DataKit::setup(std::string const& file, std::vector<std::string> const& files,
                           int load) {
    std::string const path = setups() + file;
    put(path, D::stpxm(files, load));
    return path;
}

std::string DataKit::master(std::string const& setupName, KitValues const& extra) {
    KitValues values = {{"DATAPATH", data()},
                        {"PROGRAMSUBPATH", programSub},
                        {"VECTORSUBPATH", vectorSub},
                        {"SETUPSUBPATH", setupSub}};
    if (!setupName.empty()) values.push_back({"SETUPROMNAME", setupName});
    values.insert(values.end(), extra.begin(), extra.end());
    std::string const path = code() + "VORLAN2.XML";
    put(path, D::mstxm(values));
    return path;
}

std::string DataKit::absolute(std::string const& path) const {
    return !path.empty() && path[0] == '/' ? path : data() + path;
}

std::string DataKit::archive(std::string const& path,
                             std::vector<std::pair<std::string, std::string>> const& items) {
    std::string const target = absolute(path);
    std::filesystem::create_directories(std::filesystem::path(target).parent_path());
    CorePool pool;
    CoreFsys pack(&pool);
    for (auto const& [name, bytes] : items) putItem(pack, name.c_str(), bytes);
    if (!pack.savea(CoreAnsx(target.c_str())))
        throw std::runtime_error("DataKit: cannot write archive " + target);
    return target;
}
