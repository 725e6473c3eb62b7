#pragma once
// CoreTour: the small step language the picture tools run: one step a line,
// a verb and its words, '#' starting a comment. The display-pictures tool
// (no X) and the editor tour (XTest on a live editor) share it; each runs
// the verbs it can and refuses the others before it starts.
//   click C R          a click on the cell at column C, row R
//   click-text TEXT    a click on the first letter of TEXT where it shows
//   drag C R DX DY     press at the cell, move DX, DY pixels, release
//   type TEXT          the characters of TEXT (the rest of the line)
//   key NAME           one key by its X name (Return, Escape, BackSpace ...)
//   wheel N            N wheel steps (up when above 0)
//   choose SLOT        the program pop-up's entry for slot SLOT
//   until-text TEXT    wait until TEXT shows on the screen (with a timeout;
//                      a page is known by its title, e.g. "KernelMode")
//   wait MS            let MS milliseconds pass
//   shot NAME          one picture, NAME.png
// Owner: the tool that runs the script. Threads: the tool's only thread.

#include <string>
#include <vector>

class CoreTour {
public:
    struct STEP {
        std::string verb;          // as written
        std::vector<long> numbers; // the numeric words, in order
        std::string text;          // the rest of the line for text verbs, else ""
        int line = 0;              // 1-based, for messages
    };

    // Parses text into steps; false, with error naming the line, on an
    // unknown verb, a missing or non-numeric word, or a bad picture name.
    static bool parse(std::string const& text, std::vector<STEP>& steps, std::string& error);
    // Reads and parses a script file.
    static bool loadf(std::string const& path, std::vector<STEP>& steps, std::string& error);
};
