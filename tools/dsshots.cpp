// display-shots: pictures of a plug-in instance's display, with no X server.
//   display-shots PLUGIN.so FOLDER [SCRIPT]
// Opens an instance of the plug-in through our host (on the data beside it:
// the demo data once tools/demodata wrote it there), runs the step script
// (tools/CoreTour.h; default: the built-in tour of the boot, the program
// page, its list view, a load there, the loaded program's kernel page and
// its program page) and writes a PNG per shot
// into FOLDER, drawn through the snapshot renderer.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/CorePeer.h"
#include "tools/CoreShot.h"
#include "tools/CoreTour.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: display-shots PLUGIN.so FOLDER [SCRIPT]\n");
        return 2;
    }
    std::vector<CoreTour::STEP> steps;
    std::string error;
    if (!(argc == 4 ? CoreTour::loadf(argv[3], steps, error)
                    : CoreTour::parse(CoreShot::sCtour, steps, error))) {
        std::fprintf(stderr, "display-shots: %s\n", error.c_str());
        return 2;
    }
    std::error_code made;
    std::filesystem::create_directories(argv[2], made);
    CorePeer peer(argv[1]);
    if (!peer.host().valid()) {
        std::fprintf(stderr, "display-shots: %s: %s\n", argv[1], peer.host().error().c_str());
        return 1;
    }
    if (!CoreShot::run(peer, steps, argv[2], error)) {
        std::fprintf(stderr, "display-shots: %s\n", error.c_str());
        return 1;
    }
    for (auto const& step : steps)
        if (step.verb == "shot") std::printf("%s/%s.png\n", argv[2], step.text.c_str());
    return 0;
}
