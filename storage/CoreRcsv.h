#pragma once
// CoreRcsv: reads and writes number lists, the plain-text form of impulses and
// envelopes: every value is written with 16 decimals followed by ";" and a
// line feed, and on reading every ";" ends one value. Lists are read through
// the item store, so loose files and archive items read alike.
// Owner: the loader that reads one list (impulse or envelope loading) or the
// exporter that writes one; lives for one file.
// Threads: loader, engine worker or control thread; may block on file I/O.

#include "runtime/CoreAnsx.h"

class CoreFsys;
class CorePool;

class CoreRcsv {
public:
    CoreRcsv(CorePool* pool, CoreFsys* store); // empty text, not open
    ~CoreRcsv();                               // closes the item when open
    CoreRcsv(CoreRcsv const&) = delete;
    CoreRcsv& operator=(CoreRcsv const&) = delete;
    CoreRcsv(CoreRcsv&&) = delete;
    CoreRcsv& operator=(CoreRcsv&&) = delete;

    // Registers the name in the store, loads it whole and opens it; true when
    // the item could be opened. A previous item is closed and its text dropped.
    bool open_(CoreAnsx name);
    // Takes the item's bytes as the text (zero bytes dropped) and returns the
    // number of values in it. Calling it again gives the same text and count.
    long getdr();
    // Parses the text: stores each value into destination unless countOnly
    // (or destination is null) and returns the count; 0 when not open or empty.
    long getdt(double* destination, bool countOnly);
    void close(); // closes the item when open

    // The number-list text of n values.
    CoreAnsx crtcn(double* values, long n);
    // Writes crtcn's text to the store's data folder + name, only when that
    // file's folder exists; false when nothing was written.
    bool wfile(CoreAnsx name, double* values, long n);

private:
    CoreAnsx text;   // the loaded list
    int item;        // item id in the store, -1 before the first open_
    bool open;       // the item is open
    CoreFsys* store; // item store the list is read through; not owned
    CorePool* pool;  // not owned
};
