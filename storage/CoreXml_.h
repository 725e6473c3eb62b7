#pragma once
// CoreXml_: one XML document of the system's dialect: a synthetic root node
// "ROOT" (never written) whose children are the file's top-level elements.
// Parses text or a file into a CoreNode tree, writes the tree back as text or
// as a file, and edits it by tag paths. Owner: whoever makes it (stack or
// heap); it owns the root after a parse or setrt. Threads: one thread at a
// time (engine, loader, editor each make their own); no locks; allocates and
// touches files, so never on the audio path.
//
// The dialect: elements and text only (no attributes); "<!...>" and "<?...>"
// are skipped up to their first ">"; a tag's text is everything up to ">"
// taken as the name; the text right after an open tag becomes the element's
// value (untrimmed) when a close tag follows; close-tag names are not
// compared; elements left open at the end are kept. A self-closed "<NAME/>"
// (blanks allowed before the slash), the form XML tools write for an empty
// "<NAME></NAME>", reads as that pair: an element holding one empty text
// (present to the getters, unlike an element with no child). The writer
// puts a value between single blanks, indents by 2 blanks per level when
// pretty, and writes "<", ">" and "&" inside names and values as "&lt;",
// "&gt;" and "&amp;"; the reader decodes exactly those three entities.
// Reading never fails on content except a close tag with nothing open, which
// destroys the tree and throws CoreAnsx("").
//
// The writer has no empty-element form: an element built in memory without
// children is written as a bare value and does not come back as an element.
// Code that writes documents gives every container a child or leaves it out.

#include "runtime/CoreAnsx.h"

class CoreNode;

class CoreXml_ {
public:
    CoreXml_();  // no root, owns nothing
    ~CoreXml_(); // destroys an owned tree
    CoreXml_(CoreXml_ const&) = delete;
    CoreXml_& operator=(CoreXml_ const&) = delete;
    CoreXml_(CoreXml_&&) = delete;
    CoreXml_& operator=(CoreXml_&&) = delete;

    CoreNode* getrt() const;    // the root, null when nothing was parsed
    void setrt(CoreNode* node); // destroys an owned tree, then owns node as root
    void free_();               // forgets the root without destroying it
    void close();               // destroys an owned tree; root null, owned false

    // ---- Reading ------------------------------------------------------------
    // Parses source (a file path when fromFile, else the text itself) and
    // returns the new root; null when the text is "0" (a missing file). With
    // utf16 a text opening with the bytes FF FE is taken as UTF-16LE.
    // Throws CoreAnsx("") on a close tag with nothing open or on lack of
    // memory; the document then has no root.
    CoreNode* getdc(CoreAnsx const& source, bool fromFile, bool utf16);
    CoreNode* getff(CoreAnsx const& path, bool utf16); // getdc from the file
    CoreNode* getfc(CoreAnsx const& text);             // getdc of the text, no UTF-16
    // Parses that fail stay unlogged (still thrown): for an early look at a
    // file whose own read reports it.
    void quiet(bool on) { hushed = on; }
    // The file's bytes as text with zero bytes dropped; "0" when unreadable
    // or larger than CoreButl::iCwholebytes, when opened or when read.
    static CoreAnsx getas(CoreAnsx const& path);
    // True when the last parse ended with an element still open (a document
    // cut short). The parse itself keeps such elements; the readers of whole
    // files (programs, banks, settings, skins) refuse them, and then a level-0
    // line naming file says why.
    bool cutsh(CoreAnsx const& file) const;
    // cutsh without its line, for readers that say why in their own words.
    bool leftOpen() const { return leftopen; }

    // ---- Writing ------------------------------------------------------------
    // The children of the root as text ("" without a root). topbreak adds a
    // line feed after each top-level open tag when pretty.
    CoreAnsx settc(bool pretty, bool topbreak);
    // The children of node written from level; wroteValue tells whether a
    // value leaf was among them (then no indentation goes before the parent's
    // close tag).
    CoreAnsx settc(bool pretty, int level, CoreNode const* node, bool& wroteValue, bool topbreak);
    // Writes the XML declaration, the generator line, settc(pretty, topbreak)
    // and a final line feed to path, replacing the file whole. flag is handed
    // on and has no effect. False when the file could not be written.
    bool settf(CoreAnsx const& path, bool pretty, bool topbreak, bool flag);

    // ---- Path edits on the root (a document without a root gets an empty one)
    bool pappd(CoreAnsx const* path, int n, CoreNode* node); // ownership taken in every case
    CoreNode* pdlte(CoreAnsx const* path, int n);            // always null
    // Moves the node at from (in source) to the path to here; see CoreNode::pmove.
    bool pmove(CoreAnsx const* from, int nfrom, CoreXml_* source, CoreAnsx const* to, int nto,
               bool replace);
    // Sets a value at a path: a new element named path[n-1] holding value
    // replaces the element there, appended at the end of its parent.
    bool pappr(CoreAnsx const* path, int n, CoreNode* value);
    // Overlays source on destination: a source value replaces the
    // destination's whole content; elements merge by name (last match). depth
    // is 0 on the first call. Overlapping trees are refused.
    static void patch(CoreNode* source, int depth, CoreNode* destination);
    // Moves every child of other's first top-level element P0 into this
    // document's P0, replacing same-named ones; they end up at the end of P0 in
    // reverse order, and other loses them.
    void merge(CoreXml_* other);

    // ---- Scanner steps --------------------------------------------------------
    static CoreAnsx sbstr(CoreAnsx const& text, int from); // from 1-based position to the end
    // From 0-based pos to the next tag: copies the tag text (after "<", or
    // after "</" for a close tag) into buffer, reports the character after
    // "<" in kind, leaves pos after the ">" and returns 1; 0 at the end.
    static int fndtc(CoreAnsx const& text, int& pos, CoreAnsx& buffer, char& kind);
    // As fndtc, but skips "<!" and "<?" tags and reports whether the tag is an
    // open tag.
    static int fndte(CoreAnsx const& text, int& pos, CoreAnsx& buffer, bool& open);
    // True when the text of an open tag (between "<" and ">", length bytes)
    // closes itself ("NAME/", "NAME /"); length is then cut to the name's.
    // For scanners of raw document text that must count tags as the parse
    // does.
    static bool selfClosed(char const* tag, int& length);

    static inline const CoreAnsx sCroot{"ROOT"};   // text of the synthetic root
    static inline const CoreAnsx sCopenytag{"<"};  // opens a tag
    static inline const CoreAnsx sCopenntag{"</"}; // opens a close tag
    static inline const CoreAnsx sCclsextag{">"};  // ends a tag
    static inline const CoreAnsx sCexcludetag[2]{CoreAnsx("<!"), CoreAnsx("<?")}; // skipped tags

private:
    CoreNode* editRoot(); // the root, made (empty, owned) when there is none

    CoreNode* root;      // synthetic root "ROOT", or null
    bool owned;          // true when the document destroys root
    bool leftopen;       // the last parse ended inside an element
    bool hushed = false; // a failed parse logs no line
};
