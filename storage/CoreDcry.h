#pragma once
// CoreDcry: the category dictionary. Translates words (category names) by
// section from a dictionary file: a top-level element DICTIONARY, under it
// one element per section ("CATEGORY"), under a section one element per word
// (matched trimmed and upper-cased) holding its translation. A word without
// a translation, or with the translation "0", comes back unchanged, and so
// does every word when the file is missing or has no DICTIONARY.
// Owner: the processing engine, which hands it to program memory. Threads:
// built on the engine's start path (may block on the file); read-only after,
// so any thread may look up except the audio thread (lookups allocate).

#include "runtime/CoreAnsx.h"

class CoreNode;
class CoreXml_;

class CoreDcry {
public:
    // Reads the dictionary file. A malformed file (a close tag with nothing
    // open) throws the parser's CoreAnsx; callers catch it.
    explicit CoreDcry(CoreAnsx const& path);
    ~CoreDcry();
    CoreDcry(CoreDcry const&) = delete;
    CoreDcry& operator=(CoreDcry const&) = delete;
    CoreDcry(CoreDcry&&) = delete;
    CoreDcry& operator=(CoreDcry&&) = delete;

    // The trimmed translation of word in section, else word unchanged.
    CoreAnsx getvl(CoreAnsx const& section, CoreAnsx const& word) const;

private:
    bool ready;           // the file parsed and holds a DICTIONARY element with content
    CoreXml_* document;   // owned document of the file
    CoreNode* dictionary; // the DICTIONARY element inside document (borrowed), or null
};
