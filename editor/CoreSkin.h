#pragma once
// CoreSkin: the active skin's parsed description as the display reads it: the
// names of the skin's fonts (offered as font colours) and DISPLAYADDCHARS, the
// extra zone's column count. A fresh skin has no fonts and no extra-zone
// setting; reading a skin file fills the record.
// Owner: the instance assembly, built before the display and deleted after it.
// Threads: filled before the display is built; read by the display's
// constructor and by the master pages on the control thread.

#include <vector>

#include "runtime/CoreAnsx.h"

class CoreSkin {
public:
    // The skin's description record.
    struct SKIN {
        int fontcount = 0;               // names in fontnames
        std::vector<CoreAnsx> fontnames; // the skin's font names, fontcount of them
        int displayaddchars = 0;         // DISPLAYADDCHARS: extra-zone columns, 0 none given
    };

    CoreSkin();
    CoreSkin(CoreSkin const&) = delete;
    CoreSkin& operator=(CoreSkin const&) = delete;
    CoreSkin(CoreSkin&&) = delete;
    CoreSkin& operator=(CoreSkin&&) = delete;

    SKIN* getsk(); // the description record, never null

private:
    SKIN skin; // the parsed description
};
