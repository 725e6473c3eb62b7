#pragma once
// CoreNode: one node of an XML document tree. A node with children is an
// element (its text is the tag name); a node without children is a value leaf
// (its text is the value). The value of an element is the text of its first
// child. Owner: the parent node, or the document (CoreXml_) for the root, or
// whoever made a detached node. A node owns its whole subtree; a node handed
// to addcd, pappd, prplc or upglf belongs to the receiving tree from then on.
// Threads: whichever thread owns the document (engine, loader, editor), one at
// a time; no locks; allocates, so never on the audio path.
//
// Names are compared trimmed and upper-cased. A child lookup by name takes the
// LAST match; a path walk takes the FIRST. The not-found value of the text
// getters is "0", so a value stored as exactly "0" reads as absent, while the
// same value after a write and re-read (" 0 ") is present.
//
// Hazard for code that builds documents: an element made in memory without
// children is a leaf, so it is written as its bare text (" NAME ") and on
// re-reading becomes the parent's value or is lost. Give every container a
// child, or do not write empty containers.

#include "runtime/CoreAnsx.h"

class CoreTlst;

class CoreNode {
public:
    explicit CoreNode(CoreAnsx const& text); // text copied unchanged
    explicit CoreNode(char const* text); // as the CoreAnsx form (a literal must not become a bool)
    explicit CoreNode(bool value);       // "1" or "0"
    explicit CoreNode(int value);        // "%i"
    explicit CoreNode(double value);     // "%G" with "." as decimal point
    ~CoreNode();                         // destroys the subtree (iteratively: any depth)
    CoreNode(CoreNode const&) = delete;
    CoreNode& operator=(CoreNode const&) = delete;
    CoreNode(CoreNode&&) = delete;
    CoreNode& operator=(CoreNode&&) = delete;

    // ---- Structure -------------------------------------------------------
    CoreTlst* getcn() const;          // child list; may be null (counts as none)
    CoreNode* getcd() const;          // first child, null when none
    bool leaf_() const;               // true when the node has no children
    CoreAnsx gettx() const;           // copy of the text
    void settx(CoreAnsx const& text); // replaces the text
    void addcd(CoreNode* node);       // appends and takes ownership (null or this ignored)
    void delcn();                     // destroys all children; the list stays
    // Destroys every child of that name; an emptied list is released.
    void delcn(CoreAnsx const& name);
    // Replaces every child of that name by one new element holding value
    // (ownership taken), appended at the end.
    void upglf(CoreAnsx const& name, CoreNode* value);

    // ---- Lookups among the children ---------------------------------------
    CoreNode* getcd(CoreAnsx const& name) const; // last child of that name, or null
    bool exsnc(CoreAnsx const& name) const;      // getcd(name) finds one
    int getcc(CoreAnsx const& name) const;       // children whose name equals name as passed
    bool cdis_(CoreAnsx const& name) const;      // upper-cased own text equals name as passed

    // ---- Value getters (on children of this node) --------------------------
    CoreAnsx getlc(CoreAnsx const& name) const; // untrimmed value, "0" when absent
    bool exslc(CoreAnsx const& name) const;     // getlc is not "0"
    CoreAnsx getls(CoreAnsx const& name) const; // trimmed value, "" when absent
    // Value of the index-th (0-based) child whose trimmed upper-cased name
    // equals name as passed, trimmed and upper-cased; "" when there is none
    // or it holds no value.
    CoreAnsx getls(CoreAnsx const& name, int index) const;
    int getli(CoreAnsx const& name) const;    // leading integer (atoi), 0 when absent
    bool getlb(CoreAnsx const& name) const;   // getli is not 0
    double getld(CoreAnsx const& name) const; // number, "," read as ".", 0.0 when absent

    // Getters with a default; presence is exslc. A null node gives the default.
    // The trimmed value (getls).
    static CoreAnsx gtnls(CoreNode const* node, CoreAnsx const& name, CoreAnsx const& fallback);
    static double gtnld(CoreNode const* node, CoreAnsx const& name, double fallback); // getld(name)
    static int gtnli(CoreNode const* node, CoreAnsx const& name, int fallback); // getld truncated
    // True when getld, truncated, is not 0.
    static bool gtnlb(CoreNode const* node, CoreAnsx const& name, bool fallback);

    // ---- Paths -----------------------------------------------------------
    // A path is n names; level 0 names a child of this node. The walk takes
    // the first match per level and creates missing intermediate levels, never
    // the last one.
    // Walks the path; remove detaches the node found, keep hands it to the
    // caller (else it is destroyed and null returned).
    CoreNode* pcore(CoreAnsx const* path, int n, bool remove, bool keep);
    CoreNode* pfind(CoreAnsx const* path, int n); // the node at the path, or null
    CoreNode* psplt(CoreAnsx const* path, int n); // detached node, now the caller's
    CoreNode* pdlte(CoreAnsx const* path, int n); // destroys the node at the path; null
    // Appends node under the node at the path. Ownership is taken in every
    // case: when the path leads nowhere the node is destroyed and false returned.
    bool pappd(CoreAnsx const* path, int n, CoreNode* node);
    // Destroys the node at the path and appends node at the END of the parent
    // (the first n-1 levels). Ownership taken in every case.
    bool prplc(CoreAnsx const* path, int n, CoreNode* node);
    // Detaches the node at the from path under source and appends it at the
    // to path under this node (replace off) or puts it in place of the node
    // there (replace on). Returns false when nothing was moved; the source
    // then keeps its node (no to path, no node at the to path with replace
    // off, or the to path lies inside the node to move).
    bool pmove(CoreAnsx const* from, int nfrom, CoreNode* source, CoreAnsx const* to, int nto,
               bool replace);

    // ---- Tree operations ---------------------------------------------------
    // Imposes a template on a destination: template values replace the
    // destination's values, elements missing there are added, elements present
    // are merged (last match). Overlapping trees are refused.
    static void templ(CoreNode* tmpl, CoreNode* dest);
    // In the subtree, every element named name gets a single value: the new
    // text when old is "0" or whole is set, else its old value with old
    // replaced by new. Value leaves are never taken for elements.
    void rplce(CoreAnsx const& name, CoreAnsx const& newText, CoreAnsx const& oldText, bool whole);
    // Dump of the subtree of node (of this node when null): per node a line of
    // depth+1 ">" characters, a blank and the text.
    CoreAnsx debug(int depth, CoreNode const* node) const;

    // True when probe is node itself or inside its subtree (null-safe).
    static bool inside(CoreNode const* node, CoreNode const* probe);

private:
    static CoreAnsx key__(CoreAnsx const& text);           // trimmed, upper-cased compare key
    int count() const;                                     // number of children (0 without a list)
    CoreNode* child(int index) const;                      // child at index, no check
    static void templCore(CoreNode* tmpl, CoreNode* dest); // recursion of templ
    static void debugInto(CoreNode const* node, int depth, CoreAnsx& out);

    CoreAnsx text;      // tag name of an element, or the value of a leaf
    CoreTlst* children; // owned list of owned children in document order; may be null
};
