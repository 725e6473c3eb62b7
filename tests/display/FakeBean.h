#pragma once
// FakeBean: a stand-in engine bus for the display tests. Values are kept as
// texts per kind letter (b h i l d s), id and both index words; every write
// is logged in order. It plays a scripted boot (144 to 148; 22, 41 and 46 are
// plain values), a batch machine on 223 to 226 running the display's chains
// with their messages (slowly, held at a gate, or answering "not ended" for
// ever as an engine with its boot pending does), the engine's message rows
// (221, 222), slot names (167) and the slot searches 168 and 169. It keeps
// the ten interface controls, each with a main and an alternate slot
// (187 to 193): 187 switches slots (the alternate one restarts at -1, not
// valid), 188 reads the current slot, 189 to 191 write, 192 and 193 read the
// main slot. The parameter modulator each control carries (194) is -1 until
// put. The modulators' setters move what their getters read (modulatorset).
// Doubles are kept and logged exactly ("%.17g"). Program memory has
// categories on three levels per slot: the slot searches 168 and 169 (169
// under the level filters, 171), the category lists (170, 172, 173), the
// browse level (174) and the category tree with its browse path (244 to 249,
// the dictionary for 249 and the tree's order set by word). A search that
// finds nothing answers -1, or 0 as an engine may that says so. The
// parameter modulators' settings are plain values; 205 exchanges two
// modulators' settings and a write of 196 or 197 (or 205) re-derives the
// modulator each control carries (194). Folders hold file names for the
// folder listing (237 to 239).
// Owner: a test or the rig. Threads: any; one mutex guards everything, a slow
// step sleeps outside it.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "display/CoreBean.h"

class FakeBean : public CoreBean {
public:
    struct WRITE {
        char kind; // accessor letter, 'v' for an action
        int id;
        int element;
        int subindex;
        std::string value;
        bool operator==(WRITE const&) const = default;
        friend std::ostream& operator<<(std::ostream& out, WRITE const& w) {
            return out << w.kind << w.id << "[" << w.element << "," << w.subindex
                       << "]=" << w.value;
        }
    };
    struct BOOTSTEP { // one boot step as 145 to 148 report it
        int number;
        std::string line;
        bool bare; // printed without its number
        bool finished;
        bool ok;
    };
    static const std::vector<BOOTSTEP> threeLines; // the default boot

    static constexpr int iCcontrols = 10; // interface controls 0..9

    FakeBean(); // mode 41 true

    // The user moves control k: its current slot takes the raw value (not logged).
    void turn(int k, double raw);
    double raw(int k, bool main) const; // a control's slot, the current one unless main
    bool alternate(int k) const;        // the alternate slot is current
    static std::string exact(double v); // "%.17g", as doubles are logged

    void put(char kind, int id, std::string const& value, int element = 0, int subindex = 0);
    void name(int slot, std::string const& text); // a used memory slot
    // A used memory slot with its categories on levels 0 to 2 ("" none).
    void program(int slot, std::string const& text, std::array<std::string, 3> const& categories);
    void word(std::string const& category, std::string const& text); // category dictionary
    void files(std::string const& folder, std::vector<std::string> const& names);
    void noneAsZero(bool on) { nonezero = on; } // searches that find nothing answer 0
    int level() const;                          // program memory's browse level
    void boot(std::vector<BOOTSTEP> steps);
    void slow(int milliseconds) { slowms = milliseconds; } // each batch step waits
    void endless(bool on) { forever = on; }
    void gate(int n); // steps past the first n wait until the gate opens (n < 0)
    bool waiting() const;
    void setvar(std::string const& variable, std::string const& value);
    std::string var(std::string const& variable) const;
    std::vector<WRITE> writes() const;
    void forget();                              // clears the write log
    int stepcalls() const { return stepreads; } // reads of 226 as bool
    int bootcalls() const { return bootsrun; }

    bool getbb(int id, BEANSTRUCT* i) override { return get('b', id, i) == "1"; }
    short getbh(int id, BEANSTRUCT* i) override {
        return short(std::atoi(get('h', id, i).c_str()));
    }
    int getbi(int id, BEANSTRUCT* i) override { return std::atoi(get('i', id, i).c_str()); }
    long getbl(int id, BEANSTRUCT* i) override { return std::atol(get('l', id, i).c_str()); }
    double getbd(int id, BEANSTRUCT* i) override { return std::atof(get('d', id, i).c_str()); }
    CoreAnsx getbs(int id, BEANSTRUCT* i) override { return CoreAnsx(get('s', id, i).c_str()); }
    void setbb(int id, bool v, BEANSTRUCT* i) override { set('b', id, v ? "1" : "0", i); }
    void setbh(int id, short v, BEANSTRUCT* i) override { set('h', id, std::to_string(v), i); }
    void setbi(int id, int v, BEANSTRUCT* i) override { set('i', id, std::to_string(v), i); }
    void setbl(int id, long v, BEANSTRUCT* i) override { set('l', id, std::to_string(v), i); }
    void setbd(int id, double v, BEANSTRUCT* i) override { set('d', id, exact(v), i); }
    void setbs(int id, CoreAnsx v, BEANSTRUCT* i) override { set('s', id, v.c_str(), i); }
    void setbv(int id, BEANSTRUCT* i) override { set('v', id, "", i); }
    short gettp(short level) override { return tplvl(level); }

    // ---- Kernel, memory and global pages: the program's kernel slots (55
    // written makes 75 the smaller of the slots, the written limit unless 0
    // and the master limit 54), a program that cannot smooth live (reading
    // 14 as bool with a setting >= 0 then answers false, as on a hybrid
    // program, 27), and the versions the VERSIONING chain saved. Reading 14
    // as bool switches smoothing, so it is logged as an 'r' entry with the
    // element and the answer. 56 written raises 58. At their end the memory
    // chains move, empty, load (67, 56) and version slots, and the hybrid
    // and mono chains set 27 and 33 from their non-empty flag text.
    void kernelslots(int n) { slots = n; }
    void smoothable(bool on) { cansmooth = on; }
    std::vector<std::string> versions() const;

    // ---- Master, MIDI and disk pages: setmt is logged as an 'm' write of 48
    // and stores the type (without force only one that differs); the eight
    // MIDI mix slots follow the engine's rule: 180 selects the slot 181 to
    // 185 read, 179 (slot n, record a, b) clears learn and stores status a
    // and controller min(b, 127) for b >= 0, and toggles learn for b < 0.
    // Reading 59 clears it. The disk figures are plain values.
    struct MIDISLOT {
        bool learn = false;
        int status = 0, controller = 0, channel = 0, value = 0;
    };
    void setmt(short type, bool force) override;
    void midislot(int n, MIDISLOT const& slot);
    MIDISLOT midislot(int n) const;

private:
    void chainend(std::string const& done); // the chain's effect on the fake program and memory
    void setkernels(int limit);             // 75 after 55 was written
    int slots = 20;
    bool cansmooth = true;
    std::vector<std::string> saved; // VERSIONINGNAME of each version
    // Master, MIDI and disk pages (under the mutex).
    bool midiget(char kind, int id, std::string& out);
    void midiset(int id, int element, int subindex, std::string const& value);
    MIDISLOT midi[8];
    int midiselected = 0;

    std::string get(char kind, int id, BEANSTRUCT* index);
    void set(char kind, int id, std::string const& value, BEANSTRUCT* index);
    bool step(int n); // one batch step, under the mutex; true when ended
    int search(int start, int direction, bool filtered) const;
    bool matches(int slot) const;                       // the level filters 0..level
    std::vector<std::string> distinct(int depth) const; // category values of a level
    void buildtree();                                   // 244
    void rederive();                                    // 194 from 196 and 197
    struct TNODE {
        std::string text;
        bool category = false;
        std::vector<TNODE> children;
    };
    TNODE const* reached() const; // the node at the browse path, null off the tree
    // A control's answer or update; false when the id is not a control's.
    bool controlget(char kind, int id, int element, std::string& out) const;
    void controlset(int id, int element, std::string const& value);
    // ---- Modulator settings (LFOs, function generators, followers): the
    // setters that move what other properties read. 98 and 99 set the
    // minimum and maximum LFO rate (96, 97), moving the other when they
    // would cross; 100 sets the rate source (89); 104 and 105 set a
    // generator input, a number text as a constant (108/109 true, 106/107),
    // anything else as a source key (110/111); 120 sets the balance (113).
    void modulatorset(int id, int element, std::string const& value);

    struct CONTROL {
        double raw[2] = {0.0, -1.0}; // main, alternate slot
        bool valid[2] = {false, false};
        bool alternate = false; // the alternate slot is current
    };
    CONTROL controls[iCcontrols];

    mutable std::mutex mutex;
    std::map<std::tuple<char, int, int, int>, std::string> values; // kind, id, element, subindex
    std::vector<WRITE> log;
    std::map<std::string, std::string> vars;              // batch variables
    std::string selected;                                 // variable selected by 223
    std::string chain;                                    // first step of the running chain
    size_t chainstep = 0;                                 // its steps run
    std::string line;                                     // last step's message
    std::vector<std::string> rows;                        // engine message rows
    std::map<int, std::string> names;                     // slot names
    std::map<int, std::array<std::string, 3>> categories; // slot categories
    std::map<std::string, std::string> dictionary;        // category word -> text
    std::map<std::string, std::vector<std::string>> folders;
    std::vector<std::string> listing; // the last folder listing (239)
    std::string filters[3] = {"0", "0", "0"};
    int browse = 0;                     // browse level, 0..2
    std::vector<std::string> catlist;   // built by 172 or 173, read by 170
    TNODE tree;                         // the category tree under its root
    int path[5] = {-1, -1, -1, -1, -1}; // browse path (245)
    bool leaf = false;                  // recorded by 247
    std::atomic<bool> nonezero{false};
    std::vector<BOOTSTEP> script;
    size_t nextboot = 0;
    int gatesteps = -1; // steps that pass the gate, -1 open
    bool atgate = false;
    std::condition_variable gatechange;
    std::atomic<int> slowms{0};
    std::atomic<bool> forever{false};
    std::atomic<int> stepreads{0};
    std::atomic<int> bootsrun{0};
};
