#pragma once
// CoreVars: the batch machine's store of named text variables ("NEXTSTEP",
// "ACTION", ...). Names are matched trimmed and upper-cased; storing a name
// again replaces the earlier value and moves the variable to the end. Held in
// memory only, as one document: an element ROOT holding one element per
// variable (name as passed, value leaf as passed).
// Owner: the processing engine, one per engine. Threads: whichever thread
// holds the engine's batch lock; no locks of its own; allocates, so never on
// the audio path.
//
// A value stored as exactly "0" reads back as "", the same as a missing one.

#include "runtime/CoreAnsx.h"

class CoreXml_;

class CoreVars {
public:
    CoreVars();  // an open, empty store
    ~CoreVars(); // close
    CoreVars(CoreVars const&) = delete;
    CoreVars& operator=(CoreVars const&) = delete;
    CoreVars(CoreVars&&) = delete;
    CoreVars& operator=(CoreVars&&) = delete;

    void open_(); // drops every variable and opens the store empty
    void free_(); // same as open_: empties the store
    void close(); // drops the document; lookups give "", additions are ignored
    // Trimmed value of the variable, "" when absent, "0" or the store is closed.
    CoreAnsx getit(CoreAnsx const& name) const;
    // Stores value under name (both kept as passed; matched trimmed and
    // upper-cased), replacing an earlier one and moving it to the end.
    void addit(CoreAnsx const& name, CoreAnsx const& value);

    static inline const CoreAnsx sCtagvrroot{"ROOT"}; // the element holding the variables

private:
    bool present;       // true while the store holds its document
    CoreXml_* document; // owned document, null when closed
};
