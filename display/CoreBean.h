#pragma once
// CoreBean: the engine's property bus ("beans") as the display sees it: the
// thirteen typed accessors keyed by an integer id and a two-word index record,
// and the two engine operations the display calls directly. The display
// reaches the engine through nothing else, so it runs as well on a stand-in.
// An id a reader does not serve answers false, 0, 0.0 or the empty text; a
// writer ignores an id it does not serve. A null index record reads as {0, 0}.
// Owner: the instance assembly (an adapter to the engine, plugin/CorePrbn) or a test;
// the display only holds a pointer.
// Threads: any thread, concurrently: the control thread in ticks, the display
// thread while it steps a batch, host threads. Implementations do their own
// locking and never call back into the display (the control thread holds the
// display lock while it calls them).

#include "runtime/CoreAnsx.h"
#include "runtime/CoreBnid.h"

class CoreBean {
public:
    // The index record passed with every property, laid out per property
    // as the shared id table decides (CoreBnid).
    using BEANSTRUCT = CoreBnid::BEANSTRUCT;

    virtual ~CoreBean() = default;

    virtual bool getbb(int id, BEANSTRUCT* index) = 0;
    virtual short getbh(int id, BEANSTRUCT* index) = 0;
    virtual int getbi(int id, BEANSTRUCT* index) = 0;
    virtual long getbl(int id, BEANSTRUCT* index) = 0;
    virtual double getbd(int id, BEANSTRUCT* index) = 0;
    virtual CoreAnsx getbs(int id, BEANSTRUCT* index) = 0;
    virtual void setbb(int id, bool value, BEANSTRUCT* index) = 0;
    virtual void setbh(int id, short value, BEANSTRUCT* index) = 0;
    virtual void setbi(int id, int value, BEANSTRUCT* index) = 0;
    virtual void setbl(int id, long value, BEANSTRUCT* index) = 0;
    virtual void setbd(int id, double value, BEANSTRUCT* index) = 0;
    virtual void setbs(int id, CoreAnsx value, BEANSTRUCT* index) = 0;
    virtual void setbv(int id, BEANSTRUCT* index) = 0; // runs an action that takes no value
    // A thread priority level made valid: 0, 2, 3 and 4 stay, anything else is 1.
    virtual short gettp(short level) = 0;
    // Sets the meter type (property 48); without force an unchanged type does nothing.
    virtual void setmt(short type, bool force) = 0;

    // The rule gettp follows, for implementations that have no engine to ask.
    static short tplvl(short level) { return level == 0 || (level >= 2 && level <= 4) ? level : 1; }
};
