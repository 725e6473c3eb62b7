#pragma once
// CorePeer: one instance of the built plug-in opened through our host, and
// the editor's side of it as an outside program sees it: the private calls
// through the vendor opcode (the display's properties, the attached-editor
// count, a listener that records every announcement) and the screen read
// through 100104, decoded back to text rows, so tests and the picture tool
// read pages as text.
// Owner: the test or tool that opens the instance. Threads: its thread; the
// listener is called on the plug-in's control thread and only records.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "display/CoreCnst.h"
#include "plugin/CorePrvt.h"
#include "tools/CoreHost.h"

class CorePeer {
public:
    static constexpr int iCcells = 3190; // the display's snapshot cells (fonts 0..3)
    static constexpr int iCrows = 17;    // main rows and extra rows
    static constexpr int iCcolumns = 58;

    explicit CorePeer(std::string const& so, int rate = 44100, int block = 256);
    ~CorePeer();
    CorePeer(CorePeer const&) = delete;
    CorePeer& operator=(CorePeer const&) = delete;

    CoreHost& host() { return plugin; }
    std::intptr_t call(CorePrvt::CALL& c);
    int get(int id, void* data, int capacity);
    int set(int id, void const* data, unsigned long size);
    void attach(bool on);
    // One call of the engine's property bus (iCbus): the record after it,
    // its answer in number or text; kind 0 when the call was refused.
    CorePrvt::BUSCALL bus(int id, char kind, int element = 0, int subindex = 0, bool write = false,
                          double number = 0.0);
    // The same call on a host that is no peer (the command-line host).
    static CorePrvt::BUSCALL bus(CoreHost& host, int id, char kind, int element = 0,
                                 int subindex = 0, bool write = false, double number = 0.0);
    void post(int id, int word1, int word2 = 0, int word3 = 0, int word4 = 0); // 100100
    // The pop-up entries 100107 answers, as many as the arm record (100106)
    // counts; none while no menu is armed.
    std::vector<CoreCnst::POPMENUENTRY> entries();

    // Announcements heard so far of that id.
    int heard(int id);

    // The screen as text: fonts 0 and 1 as characters, a double-size or
    // unknown glyph as '?', an empty cell as a blank. Empty when 100104
    // answers short.
    std::vector<std::string> screen() { return screen(plugin); }
    // The same for an instance of our plug-in on any host of ours.
    static std::vector<std::string> screen(CoreHost& host);
    std::string row(int r); // one row of screen(), "" when unreadable
    // One row of the double-size font (two grid rows each; page 0 shows the
    // program's name in its row 1), decoded the same way; "" when unreadable.
    std::string large(int r);
    std::string dump(); // every row, for failure messages
    // Polls until done() or the time runs out (seconds); answers done().
    static bool until(std::function<bool()> const& done, double seconds);
    // The title row shows the page's name ("  ProgMode", "  BatchMode").
    bool titled(char const* name) { return row(0).rfind(name, 0) == 0; }

private:
    static void record(void* context, int id, int index, int value);

    CoreHost plugin;
    std::mutex lock; // guards ids
    std::vector<int> ids;
};
