#include "tools/CoreTour.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

struct VERB {
    char const* name;
    int numbers; // numeric words it takes
    bool text;   // takes the rest of the line as text
};

constexpr VERB verbs[] = {
    {"click", 2, false}, {"click-text", 0, true}, {"drag", 4, false},   {"type", 0, true},
    {"key", 0, true},    {"wheel", 1, false},     {"choose", 1, false}, {"until-text", 0, true},
    {"wait", 1, false},  {"shot", 0, true},
};

bool number(std::string const& word, long& value) {
    if (word.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(word.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0';
}

// A picture name becomes a file name: letters, digits, '-' and '_' only.
bool plainName(std::string const& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
    return true;
}

} // namespace

bool CoreTour::parse(std::string const& text, std::vector<STEP>& steps, std::string& error) {
    steps.clear();
    std::istringstream in(text);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (std::size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        STEP step;
        step.line = n;
        if (!(words >> step.verb)) continue;
        VERB const* verb = nullptr;
        for (VERB const& v : verbs)
            if (step.verb == v.name) verb = &v;
        auto fail = [&](char const* why) {
            error = "line " + std::to_string(n) + ": " + why + " (" + step.verb + ")";
            steps.clear();
            return false;
        };
        if (verb == nullptr) return fail("unknown step");
        for (int k = 0; k < verb->numbers; ++k) {
            std::string word;
            long value = 0;
            if (!(words >> word) || !number(word, value)) return fail("a number is missing");
            step.numbers.push_back(value);
        }
        std::string rest;
        std::getline(words, rest);
        std::size_t first = rest.find_first_not_of(" \t");
        rest = first == std::string::npos ? "" : rest.substr(first);
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r'))
            rest.pop_back();
        if (verb->text) {
            if (rest.empty()) return fail("the text is missing");
            if (step.verb == "shot" && !plainName(rest))
                return fail("a picture name takes letters, digits, '-' and '_'");
            step.text = rest;
        } else if (!rest.empty()) {
            return fail("too many words");
        }
        steps.push_back(step);
    }
    return true;
}

bool CoreTour::loadf(std::string const& path, std::vector<STEP>& steps, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parse(text.str(), steps, error);
}
