#pragma once
// CoreTlst: a growable list of untyped pointers. It never owns what its
// entries point to; whoever keeps records in it deletes them. Growth is in
// steps of 4 slots and never drops below the high-water capacity, so lists
// emptied and refilled every block stop reallocating.
// Owned by the class that holds it. Not thread-safe: one thread at a time or
// under the owner's lock. Add/grow_ allocate (not on the audio path unless
// the high-water capacity already covers the count).

class CoreTlst {
public:
    CoreTlst();
    ~CoreTlst();
    CoreTlst(CoreTlst const&) = delete;
    CoreTlst& operator=(CoreTlst const&) = delete;
    CoreTlst(CoreTlst&&) = delete;
    CoreTlst& operator=(CoreTlst&&) = delete;

    // Appends item; returns 1. Throws CoreAnsx "Memory request failed <bytes>"
    // when the slot array cannot grow (the list is then unchanged).
    int Add(void* item);
    // Sets count to n, growing as Add does; new slots hold null. A negative n
    // is taken as 0.
    void grow_(int n);
    // Removes the entry at index (later ones move down); a bad index changes
    // nothing. Emptying the list releases the slot array.
    void Delete(int index);
    // Releases the slot array; count and capacity become 0, mincapacity stays.
    void Clear();
    // The slot at index, without a bounds check.
    void*& operator[](unsigned index);
    void* const& operator[](unsigned index) const;
    int capacity() const; // slots allocated

    int mincapacity; // high-water slot count: every growth reaches at least this; callers may
                     // preset it
    int count;       // used slots; read directly by users, changed only through the methods

private:
    void growTo(int n); // makes room for n slots by the growth rule

    int capac;    // slots allocated
    void** items; // slot array, null when capac is 0
};
