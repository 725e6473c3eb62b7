#include "engine/CorePlel.h"

#include "runtime/CoreLog_.h"
#include "runtime/CoreSmph.h"
#include "runtime/CoreTlst.h"

namespace {

// Releases the cache lock at scope exit when this scope took it.
class HeldUnlessOwner {
public:
    HeldUnlessOwner(CoreSmph* lock, bool taken) : lock(lock), taken(taken) {}
    ~HeldUnlessOwner() {
        if (taken) lock->relse();
    }
    HeldUnlessOwner(HeldUnlessOwner const&) = delete;
    HeldUnlessOwner& operator=(HeldUnlessOwner const&) = delete;

private:
    CoreSmph* lock; // the cache lock
    bool taken;     // this scope took it
};

} // namespace

// ---- Bracket guard ------------------------------------------------------------------

CorePlel::BRACKET::BRACKET(CorePlel& cache, CoreAnsx const& name, bool sharing)
    : cache(cache), open(false) {
    cache.begin(name, sharing);
    open = true;
}

CorePlel::BRACKET::~BRACKET() { end__(); }

void CorePlel::BRACKET::end__() {
    if (!open) return;
    open = false;
    cache.end__();
}

// ---- Construction -------------------------------------------------------------------

CorePlel::CorePlel(CorePool* pool)
    : records(new CoreTlst), groups(new CoreTlst), lock(new CoreSmph), pool(pool) {}

CorePlel::~CorePlel() {
    // Whatever holders remain, the buffers go with the cache.
    while (records->count > 0) {
        ELEMENT* record = static_cast<ELEMENT*>((*records)[records->count - 1]);
        relel(record->id, true);
    }
    garlk();
    // A bracket left open by a caller cannot outlive the cache: its group
    // was spared by garlk above.
    for (int i = groups->count - 1; i >= 0; --i) {
        GROUP* group = static_cast<GROUP*>((*groups)[i]);
        delete group->members;
        delete group;
    }
    delete groups;
    delete records;
    delete lock;
}

// ---- Bracket ------------------------------------------------------------------------

bool CorePlel::ownsBracket() const {
    return groupopen.load() && bracketowner.load() == std::this_thread::get_id();
}

bool CorePlel::lockUnlessOwner() {
    if (ownsBracket()) return false;
    lock->locks();
    return true;
}

void CorePlel::begin(CoreAnsx const& name, bool sharing) {
    // The lock is not re-entrant: a second begin from the bracket's own
    // thread would wait on itself forever, so it only switches the group.
    bool nested = ownsBracket();
    if (nested)
        CoreLog_::loger(CoreAnsx("Element cache group opened twice: ") + name, 1);
    else
        lock->locks();
    GROUP* found = nullptr;
    for (int i = 0; i < groups->count && found == nullptr; ++i) {
        GROUP* group = static_cast<GROUP*>((*groups)[i]);
        if (group->name == name) found = group;
    }
    if (found == nullptr) {
        CoreTlst* members = nullptr;
        try {
            members = new CoreTlst;
            found = new GROUP{name, members};
            groups->Add(found);
        } catch (...) {
            // Whatever was made before the failure goes; the lock is not kept.
            delete found;
            delete members;
            if (!nested) lock->relse();
            throw;
        }
    }
    currentgroup = found;
    this->sharing = sharing;
    bracketowner.store(std::this_thread::get_id());
    groupopen.store(true);
}

void CorePlel::end__() {
    if (!groupopen.load()) return;
    // Only the bracket's own thread may close it: another thread would let
    // go of a lock it never took while the owner is still registering.
    if (bracketowner.load() != std::this_thread::get_id()) {
        CoreLog_::loger(CoreAnsx("Element cache group closed by a thread that did not open it"), 1);
        return;
    }
    groupopen.store(false);
    bracketowner.store(std::thread::id());
    currentgroup = nullptr;
    sharing = false;
    lock->relse();
}

CorePool* CorePlel::getpl() const { return pool; }

bool CorePlel::isopn() const { return groupopen.load(); }

// ---- Registration -------------------------------------------------------------------

void CorePlel::deleteBuffers(ELEMENT* record) {
    if (record->deleter == nullptr) return;
    if (record->left != nullptr) record->deleter(record->extension, pool, record->left);
    if (record->right != nullptr && record->right != record->left)
        record->deleter(record->extension, pool, record->right);
    record->left = nullptr;
    record->right = nullptr;
}

int CorePlel::addel(DELFUNC deleter, CoreCnvl::VECEXTENSION* extension, void** left, void** right,
                    CoreAnsx const& name, long length, int rate, long rangeStart, long rangeEnd,
                    void* owner, short variant, long allocated, short elementSet) {
    HeldUnlessOwner held(lock, lockUnlessOwner());
    bool inbracket = ownsBracket();
    void* givenleft = left != nullptr ? *left : nullptr;
    void* givenright = right != nullptr ? *right : nullptr;

    if (inbracket && sharing && currentgroup != nullptr) {
        CoreTlst* members = currentgroup->members;
        for (int i = 0; i < members->count; ++i) {
            ELEMENT* member = static_cast<ELEMENT*>((*members)[i]);
            if (member->owner == owner) continue;
            if (member->length != length || member->allocated != allocated ||
                member->rate != rate || member->rangestart != rangeStart ||
                member->rangeend != rangeEnd || member->variant != variant ||
                member->elementset != elementSet || !(member->name == name))
                continue;
            // The caller's pair gives way to the registered one; a buffer
            // that already is one of the registered pair is not the
            // caller's to delete.
            auto isShared = [member](void* p) { return p == member->left || p == member->right; };
            if (deleter != nullptr) {
                if (givenleft != nullptr && !isShared(givenleft))
                    deleter(extension, pool, givenleft);
                if (givenright != nullptr && givenright != givenleft && !isShared(givenright))
                    deleter(extension, pool, givenright);
            }
            if (left != nullptr) *left = member->left;
            if (right != nullptr) *right = member->right;
            member->references += 1;
            return member->id;
        }
    }

    ELEMENT* record = new ELEMENT{nextid,     1,          nullptr, name,     length,     allocated,
                                  rangeStart, rangeEnd,   rate,    variant,  elementSet, owner,
                                  givenleft,  givenright, deleter, extension};
    try {
        records->Add(record);
    } catch (...) {
        delete record;
        throw;
    }
    if (inbracket && currentgroup != nullptr) {
        try {
            currentgroup->members->Add(record);
        } catch (...) {
            records->Delete(records->count - 1);
            delete record;
            throw;
        }
        record->group = currentgroup;
    }
    nextid += 1;
    return record->id;
}

CorePlel::ELEMENT* CorePlel::findRecord(int id, int* index) {
    for (int i = records->count - 1; i >= 0; --i) {
        ELEMENT* record = static_cast<ELEMENT*>((*records)[i]);
        if (record->id == id) {
            if (index != nullptr) *index = i;
            return record;
        }
    }
    return nullptr;
}

void CorePlel::relel(int id, bool force) {
    HeldUnlessOwner held(lock, lockUnlessOwner());
    int index = -1;
    ELEMENT* record = findRecord(id, &index);
    if (record == nullptr) return;
    record->references -= 1;
    if (record->references > 0 && !force) return;
    deleteBuffers(record);
    if (record->group != nullptr) {
        CoreTlst* members = static_cast<GROUP*>(record->group)->members;
        for (int i = 0; i < members->count; ++i) {
            if (static_cast<ELEMENT*>((*members)[i])->id == id) {
                members->Delete(i);
                break;
            }
        }
    }
    records->Delete(index);
    delete record;
}

// ---- Groups -------------------------------------------------------------------------

void CorePlel::collectGroups() {
    for (int i = groups->count - 1; i >= 0; --i) {
        GROUP* group = static_cast<GROUP*>((*groups)[i]);
        if (group->members->count > 0) continue;
        if (groupopen.load() && group == currentgroup) continue;
        groups->Delete(i);
        delete group->members;
        delete group;
    }
}

void CorePlel::garlk() {
    HeldUnlessOwner held(lock, lockUnlessOwner());
    collectGroups();
}

// ---- Queries ------------------------------------------------------------------------

int CorePlel::getnr() {
    HeldUnlessOwner held(lock, lockUnlessOwner());
    return records->count;
}

int CorePlel::getng() {
    HeldUnlessOwner held(lock, lockUnlessOwner());
    return groups->count;
}

int CorePlel::getrf(int id) {
    HeldUnlessOwner held(lock, lockUnlessOwner());
    ELEMENT* record = findRecord(id, nullptr);
    return record != nullptr ? record->references : -1;
}
