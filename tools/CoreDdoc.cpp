#include "tools/CoreDdoc.h"

#include <cstdio>

std::string CoreDdoc::elmnt(std::string const& tag, std::string const& value) {
    return "<" + tag + ">" + value + "</" + tag + ">";
}

std::string CoreDdoc::elmts(VALUES const& values) {
    std::string out;
    for (auto const& [tag, value] : values) out += elmnt(tag, value);
    return out;
}

std::string CoreDdoc::numbr(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.10G", value);
    return text;
}

std::string CoreDdoc::vctxm(VECTOR const& v) {
    std::string out =
        "<VECTOR>" + elmnt("COMMON", elmnt("MINVALUE", numbr(v.minValue)) +
                                         elmnt("MAXVALUE", numbr(v.maxValue)) + elmts(v.common));
    std::size_t const n = v.files.size() + v.children.size();
    auto weight = [&](std::size_t i) {
        if (i < v.weights.size()) return v.weights[i];
        return n < 2 ? v.minValue : v.minValue + (v.maxValue - v.minValue) * double(i) / (n - 1);
    };
    for (std::size_t i = 0; i < v.files.size(); ++i)
        out += elmnt("ELEMENT", elmnt("FILENAME", v.files[i]) + elmnt("WEIGHT", numbr(weight(i))));
    for (std::size_t c = 0; c < v.children.size(); ++c) {
        VECTOR const& child = v.children[c];
        std::string const values =
            (child.source.empty() ? "" : elmnt("SOURCE", child.source)) + elmts(child.control);
        std::string const control = values.empty() ? "" : elmnt("CONTROL", values);
        out += elmnt("ELEMENT",
                     elmnt("WEIGHT", numbr(weight(v.files.size() + c))) + control + vctxm(child));
    }
    return out + "</VECTOR>";
}

std::string CoreDdoc::prgxm(PROGRAM const& p) {
    std::string body = elmnt("NAME", p.name);
    if (!p.category.empty()) body += elmnt("CATEGORY", p.category);
    body += elmts(p.values) + p.sections;
    for (std::size_t h = 0; h < p.slots.size(); ++h)
        body += elmnt("H" + std::to_string(h + 1), elmnt("ELEMENT", vctxm(p.slots[h])));
    for (std::size_t r = 0; r < p.raws.size(); ++r)
        body += elmnt("RAW" + std::to_string(r + 1), elmnt("ELEMENT", vctxm(p.raws[r])));
    return sCheader + elmnt("PROGRAM", body) + "\n";
}

std::string CoreDdoc::stpxm(std::vector<std::string> const& files, int load) {
    std::string body;
    for (std::size_t i = 0; i < files.size(); ++i)
        body +=
            elmnt("PROGRAM", elmnt("SEQUENCE", std::to_string(i)) + elmnt("FILENAME", files[i]) +
                                 (int(i) == load ? elmnt("LOAD", "1") : ""));
    return sCheader + elmnt("SETUP", body) + "\n";
}

std::string CoreDdoc::mstxm(VALUES const& values) {
    return sCheader + elmnt("MASTER", elmts(values)) + "\n";
}
