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

constexpr char const* kHeader = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n";

std::string num(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.10G", v);
    return text;
}

std::string element(std::string const& tag, std::string const& value) {
    return "<" + tag + ">" + value + "</" + tag + ">";
}

std::string elements(KitValues const& values) {
    std::string out;
    for (auto const& [tag, value] : values) out += element(tag, value);
    return out;
}

// Writes bytes at path, making its folders first.
void put(std::string const& path, std::string const& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    writeBytes(path, bytes);
    if (readBytes(path) != bytes) throw std::runtime_error("DataKit: cannot write " + path);
}

} // namespace

std::string kitEl(std::string const& tag, std::string const& value) { return element(tag, value); }

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

std::string DataKit::vectorXml(KitVector const& v) {
    std::string out = "<VECTOR>" + element("COMMON", element("MINVALUE", num(v.minValue)) +
                                                         element("MAXVALUE", num(v.maxValue)) +
                                                         elements(v.common));
    std::size_t const n = v.files.size() + v.children.size();
    auto weight = [&](std::size_t i) {
        if (i < v.weights.size()) return v.weights[i];
        return n < 2 ? v.minValue : v.minValue + (v.maxValue - v.minValue) * double(i) / (n - 1);
    };
    for (std::size_t i = 0; i < v.files.size(); ++i)
        out +=
            element("ELEMENT", element("FILENAME", v.files[i]) + element("WEIGHT", num(weight(i))));
    for (std::size_t c = 0; c < v.children.size(); ++c) {
        KitVector const& child = v.children[c];
        std::string const values =
            (child.source.empty() ? "" : element("SOURCE", child.source)) + elements(child.control);
        std::string const control = values.empty() ? "" : element("CONTROL", values);
        out += element("ELEMENT", element("WEIGHT", num(weight(v.files.size() + c))) + control +
                                      vectorXml(child));
    }
    return out + "</VECTOR>";
}

std::string DataKit::programXml(KitProgram const& p) {
    std::string body = element("NAME", p.name);
    if (!p.category.empty()) body += element("CATEGORY", p.category);
    body += elements(p.values) + p.sections;
    for (std::size_t h = 0; h < p.slots.size(); ++h)
        body += element("H" + std::to_string(h + 1), element("ELEMENT", vectorXml(p.slots[h])));
    for (std::size_t r = 0; r < p.raws.size(); ++r)
        body += element("RAW" + std::to_string(r + 1), element("ELEMENT", vectorXml(p.raws[r])));
    return kHeader + element("PROGRAM", body) + "\n";
}

std::string DataKit::vectorFile(std::string const& name, KitVector const& vector) {
    std::string const path = vectors() + name;
    put(path, kHeader + element("VECTORFILE", vectorXml(vector)) + "\n");
    return path;
}

std::string DataKit::program(std::string const& file, KitProgram const& p) {
    std::string const path = programs() + file;
    put(path, programXml(p));
    return path;
}

std::string DataKit::setup(std::string const& file, std::vector<std::string> const& files,
                           int load) {
    std::string body;
    for (std::size_t i = 0; i < files.size(); ++i)
        body += element("PROGRAM", element("SEQUENCE", std::to_string(i)) +
                                       element("FILENAME", files[i]) +
                                       (int(i) == load ? element("LOAD", "1") : ""));
    std::string const path = setups() + file;
    put(path, kHeader + element("SETUP", body) + "\n");
    return path;
}

std::string DataKit::master(std::string const& setupName, KitValues const& extra) {
    std::string body = element("DATAPATH", data()) + element("PROGRAMSUBPATH", programSub) +
                       element("VECTORSUBPATH", vectorSub) + element("SETUPSUBPATH", setupSub);
    if (!setupName.empty()) body += element("SETUPROMNAME", setupName);
    body += elements(extra);
    std::string const path = code() + "VORLAN2.XML";
    put(path, kHeader + element("MASTER", body) + "\n");
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
