#pragma once
// CorePlel: the reference-counted cache of kernel element buffers. Programs
// built from the same impulse files with the same settings hold one copy of
// each left/right element pair: while one vector file is registered inside a
// named group with sharing on, an element whose identity matches a record of
// that group held by another owner is replaced by the registered buffers.
// The cache owns every registered buffer and deletes it, through the engine's
// element delete function, when its last holder lets go.
// A buffer held here is never changed by a second holder: the vector that
// received a substituted pair records it and leaves its contents alone.
// Owner: one cache per plug-in instance (or one made by a program given none);
// the instance deletes it after its programs.
// Threads: loader paths of any instance ("control or display thread, may
// block"); never the audio thread. The lock is held from `begin` to `end__`;
// the thread holding that bracket may call `addel`, `relel` and `garlk`
// inside it without taking the lock again, any other thread waits.

#include "engine/CoreCnvl.h"
#include "runtime/CoreAnsx.h"

#include <atomic>
#include <cstddef>
#include <thread>

class CorePool;
class CoreSmph;
class CoreTlst;

class CorePlel {
public:
    // Engine element delete function: (extension, pool, element).
    using DELFUNC = CoreCnvl::ELDEL;

    // One registered element pair and its identity.
    struct ELEMENT {
        int id;                            // the record's id, never reused
        int references;                    // number of holders (1 when created)
        void* group;                       // GROUP* it was registered in, or null
        CoreAnsx name;                     // identity: element (impulse file) name
        long length;                       // identity: usable length, samples
        long allocated;                    // identity: samples allocated per buffer
        long rangestart;                   // identity: range value one
        long rangeend;                     // identity: range value two
        int rate;                          // identity: sample rate, Hz
        short variant;                     // identity: caller's variant code
        short elementset;                  // identity: engine element set (1 memory, 2 bridge)
        void* owner;                       // registering owner; a match needs another one
        void* left;                        // left kernel buffer (owned)
        void* right;                       // right kernel buffer (owned; may equal left)
        DELFUNC deleter;                   // engine delete function given at registration
        CoreCnvl::VECEXTENSION* extension; // engine extension given at registration
    };

    // A named set of records registered by one vector file.
    struct GROUP {
        CoreAnsx name;     // group name (the vector file's archive name)
        CoreTlst* members; // ELEMENT* (not owned: the records list owns them)
    };

    // Keeps a `begin` .. `end__` bracket open for one scope, so an exception
    // thrown while a vector file is registered never leaves the lock held.
    // Stack-only.
    class BRACKET {
    public:
        BRACKET(CorePlel& cache, CoreAnsx const& name, bool sharing);
        ~BRACKET();
        void end__(); // closes the bracket early (once)
        BRACKET(BRACKET const&) = delete;
        BRACKET& operator=(BRACKET const&) = delete;
        BRACKET(BRACKET&&) = delete;
        BRACKET& operator=(BRACKET&&) = delete;
        static void* operator new(std::size_t) = delete;
        static void* operator new[](std::size_t) = delete;

    private:
        CorePlel& cache; // cache whose bracket is held
        bool open;       // end__ not yet called
    };

    explicit CorePlel(CorePool* pool);
    ~CorePlel();
    CorePlel(CorePlel const&) = delete;
    CorePlel& operator=(CorePlel const&) = delete;
    CorePlel(CorePlel&&) = delete;
    CorePlel& operator=(CorePlel&&) = delete;

    // Takes the lock and keeps it until end__; opens the group of that name
    // (first match), creating it when absent. Prefer BRACKET.
    void begin(CoreAnsx const& name, bool sharing);
    // Closes the bracket and releases the lock; without an open bracket it
    // does nothing.
    void end__();
    // Registers the pair at *left and *right and returns the id it is held
    // under. Inside a sharing bracket a matching record of the group held by
    // another owner replaces the pair: the caller's buffers are deleted and
    // *left and *right point at the shared ones.
    int addel(DELFUNC deleter, CoreCnvl::VECEXTENSION* extension, void** left, void** right,
              CoreAnsx const& name, long length, int rate, long rangeStart, long rangeEnd,
              void* owner, short variant, long allocated, short elementSet);
    // Drops one reference of id; the last one (or force) deletes the buffers
    // and the record. An unknown id changes nothing.
    void relel(int id, bool force);
    // Deletes every group without members (not the group of an open bracket).
    void garlk();

    // Queries for diagnostics and tests.
    int getnr();             // number of records
    int getng();             // number of groups
    int getrf(int id);       // references of id, -1 when absent
    bool isopn() const;      // a bracket is open
    CorePool* getpl() const; // pool handed to the delete functions (not owned)

private:
    // True when the calling thread holds the bracket; then the lock is
    // already ours.
    bool ownsBracket() const;
    // Takes the lock unless the calling thread holds the bracket; returns
    // whether it took it.
    bool lockUnlessOwner();
    // Deletes one record's buffers (left first, right once when different).
    void deleteBuffers(ELEMENT* record);
    // Removes every group without members, last to first; lock held.
    void collectGroups();
    // The record with that id, searched from the last; null when absent.
    ELEMENT* findRecord(int id, int* index);

    int nextid = 0;                     // id of the next new record, from 0
    std::atomic<bool> groupopen{false}; // a begin .. end__ bracket is active
    bool sharing = false;               // matches are searched in the open group
    CoreTlst* records;                  // ELEMENT* (owned), registration order
    CoreTlst* groups;                   // GROUP* (owned)
    CoreSmph* lock;                     // guards records and groups (owned)
    GROUP* currentgroup = nullptr;      // group of the open bracket
    CorePool* pool;                     // pool handed to the delete functions (not owned)
    // Thread holding the bracket, the default id when none.
    std::atomic<std::thread::id> bracketowner{std::thread::id()};
};
