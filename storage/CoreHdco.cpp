#include "storage/CoreHdco.h"

#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"

CoreHdco::CoreHdco(CoreAnsx archive, bool f)
    : archivename(archive), flag(f), appended(false), store(nullptr) {}

CoreHdco::~CoreHdco() = default;

bool CoreHdco::addit(CoreAnsx itemName, long size, void const* data) {
    if (size < 0 || (data == nullptr && size > 0)) {
        CoreLog_::loger(CoreAnsx("No data for archive item ") + itemName, 1);
        return false;
    }
    // Pool and store live for this call only, also when it throws.
    struct Scratch {
        CorePool pool;
        CoreFsys* items = nullptr;
        CoreFsys*& current;
        explicit Scratch(CoreFsys*& c) : current(c) {}
        ~Scratch() {
            delete items;
            current = nullptr;
        }
    } scratch(store);
    scratch.items = new CoreFsys(&scratch.pool, CoreAnsx(""), true);
    store = scratch.items;
    int id = store->crtit(itemName, false);
    store->setit(id, data, size, CoreAnsx(0), true, false);
    // Only a written archive can be appended to: after a failed first write
    // the next call tries to write it again.
    bool ok = appended ? store->appnd(archivename, itemName) : store->savea(archivename);
    if (ok) appended = true;
    return ok;
}
