#pragma once
// CoreShot: pictures of the display of a live instance, with no X server: it
// runs a step script (tools/CoreTour.h) against an instance opened through
// our host (CorePeer), talking to it only through the private properties as
// the editor does (input records and the mouse in, the snapshot out), and
// draws each shot through the snapshot renderer as NAME.png.
// Owner: the display-shots command and the plug-in tests. Threads: the
// caller's.

#include <string>
#include <vector>

#include "tools/CoreTour.h"

class CorePeer;

class CoreShot {
public:
    CoreShot() = delete;

    // The built-in tour: the boot, the program page, its list view, a load
    // there, the loaded program's kernel page and its program page.
    static char const* const sCtour;

    // Runs the steps on the instance, pictures into folder; false, with why
    // naming the step, at the first step that cannot be done (a text that
    // never shows, a picture that cannot be written, a verb it cannot run).
    static bool run(CorePeer& peer, std::vector<CoreTour::STEP> const& steps,
                    std::string const& folder, std::string& why);
};
