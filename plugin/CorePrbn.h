#pragma once
// CorePrbn: the display's bus to the processing engine. Each accessor is
// passed on word for word to the engine's own accessor of the same name,
// with the index record laid out the same on both sides. It lives above the
// display and the engine, so neither needs the other's library.
// Owner: the instance assembly (CoreMstr), beside the engine it forwards to;
// built after the engine and deleted after the display that holds it.
// Threads: any thread, as the engine's accessors allow; keeps no state of
// its own beyond the engine pointer.

#include "display/CoreBean.h"

class CorePrcs;

class CorePrbn final : public CoreBean {
public:
    explicit CorePrbn(CorePrcs* engine); // null: every call answers the bus's default
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
    CorePrcs* engine; // not owned; null serves nothing
};
