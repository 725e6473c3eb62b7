#pragma once
// CoreEdhs: the plug-in object as the editor sees it: the display's private
// properties (CorePlif: the editor reads 100104 to 100107 with gtprp and
// writes 100100, 100101 and 100108 with stprp) and the count of attached
// editors, which the control thread turns into the display's "attached" tick
// argument. The same object serves the display (CorePlif), so the plug-in
// implements both directions once.
//
// What the editor expects of gtprp: `value` is the capacity of `data` in
// bytes; 100104 and 100107 copy at most that and answer the bytes copied;
// 100105 (1 byte) and 100106 (20 bytes) answer above 0 when served.
// Owner: the plug-in shell, which outlives its editors.
// Threads: the editor calls it on the host's user-interface thread only.

#include "display/CorePlif.h"

class CoreEdhs : public CorePlif {
public:
    // Raises (true: an editor opened) or lowers (false: it closed) the count
    // of attached editors.
    virtual void attch(bool attached) = 0;
};
