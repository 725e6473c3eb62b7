#pragma once
// FakeBean: a stand-in engine bus for the display tests. Values are kept per
// kind, id and both index words; every write is logged in order. It also
// plays a scripted boot (properties 144 to 148 with 22, 41 and 46), a batch
// machine on 223 to 226 that runs the display's chains with their messages
// (optionally slowly, or answering "not ended" for ever as an engine with its
// boot pending does), the engine's message rows (221, 222), slot names (167)
// and the slot searches 168 and 169.
// Owner: a test or the rig. Threads: any; one mutex guards everything, and a
// slow step sleeps outside it.

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "display/CoreBean.h"

class FakeBean : public CoreBean {
public:
    // One logged write: kind is the accessor's letter (b h i l d s v).
    struct WRITE {
        char kind;
        int id;
        int element;
        int subindex;
        std::string value; // the value as text; empty for an action
        bool operator==(WRITE const&) const = default;
        friend std::ostream& operator<<(std::ostream& out, WRITE const& w) {
            return out << w.kind << w.id << "[" << w.element << "," << w.subindex
                       << "]=" << w.value;
        }
    };
    // One boot step as properties 145 to 148 report it.
    struct BOOTSTEP {
        int number;       // 145 int
        std::string line; // 145 string
        bool bare;        // 146: printed without its number
        bool finished;    // 147
        bool ok;          // 148
    };

    FakeBean(); // mode 41 true, a boot of three lines, no slot named

    void setb(int id, bool value, int element = 0, int subindex = 0);
    void seth(int id, short value, int element = 0, int subindex = 0);
    void seti(int id, int value, int element = 0, int subindex = 0);
    void sets(int id, std::string const& value, int element = 0, int subindex = 0);
    void name(int slot, std::string const& name); // program name of a memory slot
    void boot(std::vector<BOOTSTEP> steps);       // the script 144 plays
    void slow(int milliseconds);                  // each batch step waits this long
    void endless(bool on);                        // 226 answers false for ever ("endless n" lines)
    // Batch steps past the first n wait until the gate opens again (n < 0).
    void gate(int n);
    bool waiting() const;                                           // a step waits at the gate
    void setvar(std::string const& name, std::string const& value); // as a step would

    std::vector<WRITE> writes() const;              // every write so far, in order
    void forget();                                  // clears the write log
    std::string var(std::string const& name) const; // a batch variable
    int stepcalls() const;                          // reads of 226 as bool
    int bootcalls() const;                          // boot steps run

    static const std::vector<BOOTSTEP> threeLines; // the default boot

    bool getbb(int id, BEANSTRUCT* index) override;
    short getbh(int id, BEANSTRUCT* index) override;
    int getbi(int id, BEANSTRUCT* index) override;
    long getbl(int id, BEANSTRUCT* index) override;
    double getbd(int id, BEANSTRUCT* index) override;
    CoreAnsx getbs(int id, BEANSTRUCT* index) override;
    void setbb(int id, bool value, BEANSTRUCT* index) override;
    void setbh(int id, short value, BEANSTRUCT* index) override;
    void setbi(int id, int value, BEANSTRUCT* index) override;
    void setbl(int id, long value, BEANSTRUCT* index) override;
    void setbd(int id, double value, BEANSTRUCT* index) override;
    void setbs(int id, CoreAnsx value, BEANSTRUCT* index) override;
    void setbv(int id, BEANSTRUCT* index) override;
    short gettp(short level) override { return tplvl(level); }
    void setmt(short, bool) override {}

private:
    using KEY = std::tuple<char, int, int, int>; // kind, id, element, subindex
    KEY key(char kind, int id, BEANSTRUCT* index) const;
    void store(char kind, int id, double value, BEANSTRUCT* index, std::string const& text);
    double number(char kind, int id, BEANSTRUCT* index);
    bool step();     // one batch step, under the mutex
    void bootstep(); // one boot step, under the mutex
    int search(int start, int direction) const;
    std::string slotText(std::string const& var) const;

    mutable std::mutex mutex;
    std::map<KEY, double> numbers;           // bool, short, int, long, double values
    std::map<KEY, std::string> texts;        // string values
    std::vector<WRITE> log;                  // writes in order
    std::map<std::string, std::string> vars; // batch variables
    std::string selected;                    // variable 223 selected
    std::string chain;                       // first step of the running chain
    int chainstep = 0;                       // steps of it run
    std::string line;                        // last step's message (226 string)
    std::vector<std::string> rows;           // engine message rows (221)
    std::map<int, std::string> names;        // slot names (167)
    std::vector<BOOTSTEP> script;            // boot steps
    size_t nextboot = 0;                     // next boot step
    std::atomic<int> slowms{0};
    std::atomic<bool> forever{false};
    std::atomic<int> stepreads{0};
    std::atomic<int> bootsrun{0};
    std::condition_variable gatechange; // the gate opened
    int gatesteps = -1;                 // steps that pass the gate, -1 open
    bool atgate = false;                // a step waits
};
