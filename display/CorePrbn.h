#pragma once
// CorePrbn: the display's bus to the processing engine: each accessor is
// passed on word for word to the engine's own accessor of the same name.
// Until the engine's property bus exists it answers every reader with the
// bus's default (false, 0, 0.0, the empty text) and ignores every writer;
// only gettp applies its rule, which needs no engine.
// Owner: the instance assembly, beside the engine it forwards to; outlives the
// display that holds it.
// Threads: any thread; keeps no state of its own beyond the engine pointer.

#include "display/CoreBean.h"

class CorePrcs;

class CorePrbn : public CoreBean {
public:
    explicit CorePrbn(CorePrcs* engine); // null: every call answers the default
    CorePrbn(CorePrbn const&) = delete;
    CorePrbn& operator=(CorePrbn const&) = delete;
    CorePrbn(CorePrbn&&) = delete;
    CorePrbn& operator=(CorePrbn&&) = delete;

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
    short gettp(short level) override;
    void setmt(short type, bool force) override;

private:
    [[maybe_unused]] CorePrcs* engine; // not owned; not yet called
};
