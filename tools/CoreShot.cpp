#include "tools/CoreShot.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include <X11/Xlib.h>

#include "editor/x11/CoreEdit.h"
#include "runtime/CoreAnsx.h"
#include "tools/CoreDspg.h"
#include "tools/CorePeer.h"

char const* const CoreShot::sCtour = R"(
until-text LOADER
shot boot
until-text ProgMode
shot program
click 55 0
wait 500
shot list
choose 2
until-text ListMode
wait 500
click-text KERN
until-text KernelMode
shot kernel
click-text PROG
until-text ProgMode
wait 500
shot load
)";

namespace {

constexpr int settle = 300;       // ms after an input: a few display ticks
constexpr double patience = 30.0; // s an until-step waits

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Pixel position of a cell's middle, from the main zone's top-left corner,
// in the renderer's cell size (the display reads pixels only for drags).
int pixelx(long column) { return int(column) * CoreDspg::iCcellx + CoreDspg::iCcellx / 2; }
int pixely(long row) { return int(row) * CoreDspg::iCcelly + CoreDspg::iCcelly / 2; }

void mouse(CorePeer& peer, int x, int y, int button) {
    std::int32_t const record[3] = {x, y, button};
    peer.set(100101, record, sizeof record);
}

bool find(CorePeer& peer, std::string const& text, long& column, long& row) {
    std::vector<std::string> rows = peer.screen();
    for (std::size_t r = 0; r < rows.size() && r < std::size_t(CorePeer::iCrows); ++r)
        if (std::size_t at = rows[r].find(text); at != std::string::npos) {
            column = long(at);
            row = long(r);
            return true;
        }
    return false;
}

bool shot(CorePeer& peer, std::string const& path) {
    std::vector<double> cells(CoreDspg::iCdefaultcells);
    int const bytes = CoreDspg::iCdefaultcells * int(sizeof(double));
    CoreDspg::IMAGE image;
    return peer.get(100104, cells.data(), bytes) == bytes &&
           CoreDspg::rendr(cells.data(), CoreDspg::iCdefaultcells, 2, image) &&
           CoreDspg::wrpng(image, CoreAnsx(path.c_str()));
}

} // namespace

bool CoreShot::run(CorePeer& peer, std::vector<CoreTour::STEP> const& steps,
                   std::string const& folder, std::string& why) {
    for (CoreTour::STEP const& step : steps) {
        auto const& n = step.numbers;
        auto fail = [&](std::string const& what) {
            why = "line " + std::to_string(step.line) + " (" + step.verb + "): " + what;
            return false;
        };
        if (step.verb == "click" || step.verb == "click-text" || step.verb == "drag") {
            long column = n.empty() ? 0 : n[0], row = n.size() < 2 ? 0 : n[1];
            if (step.verb == "click-text" && !find(peer, step.text, column, row))
                return fail("\"" + step.text + "\" is not on the screen");
            int const x = pixelx(column), y = pixely(row);
            mouse(peer, x, y, 1);
            peer.post(0, int(column), int(row), x, y);
            if (step.verb == "drag") {
                pause(settle);
                mouse(peer, x + int(n[2]), y + int(n[3]), 1);
                pause(settle);
                mouse(peer, x + int(n[2]), y + int(n[3]), 0);
            } else {
                mouse(peer, x, y, 0);
            }
        } else if (step.verb == "type") {
            for (char c : step.text) peer.post(1, static_cast<unsigned char>(c));
        } else if (step.verb == "key") {
            int code = CoreEdit::keycd(XStringToKeysym(step.text.c_str()));
            if (code < 0) return fail("the display takes no key named " + step.text);
            peer.post(1, code);
        } else if (step.verb == "wheel") {
            peer.post(3, int(n[0]));
        } else if (step.verb == "choose") {
            peer.post(4, int(n[0]));
        } else if (step.verb == "until-text") {
            long column = 0, row = 0;
            if (!CorePeer::until([&] { return find(peer, step.text, column, row); }, patience))
                return fail("\"" + step.text + "\" did not show");
            continue;
        } else if (step.verb == "wait") {
            pause(int(n[0]));
            continue;
        } else if (step.verb == "shot") {
            std::string const path = folder + "/" + step.text + ".png";
            if (!shot(peer, path)) return fail(path + " could not be written");
            continue;
        } else {
            return fail("not a step the display pictures take");
        }
        pause(settle);
    }
    return true;
}
