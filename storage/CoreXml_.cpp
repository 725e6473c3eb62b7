#include "storage/CoreXml_.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreTlst.h"
#include "storage/CoreNode.h"

namespace {

// Decodes "&lt;", "&gt;" and "&amp;" in one pass; any other "&" stays as it is.
std::string decodeEntities(char const* text, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == '&') {
            size_t const rest = n - i;
            if (rest >= 4 && std::memcmp(text + i, "&lt;", 4) == 0) {
                out += '<';
                i += 3;
                continue;
            }
            if (rest >= 4 && std::memcmp(text + i, "&gt;", 4) == 0) {
                out += '>';
                i += 3;
                continue;
            }
            if (rest >= 5 && std::memcmp(text + i, "&amp;", 5) == 0) {
                out += '&';
                i += 4;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// A name or value holding "<", ">" or "&" would otherwise break the document
// (a program named "Bass & Drums <old>").
void appendEscaped(std::string& out, char const* text) {
    for (; *text; ++text) {
        switch (*text) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        default: out += *text; break;
        }
    }
}

int childCount(CoreNode const* node) {
    CoreTlst const* list = node->getcn();
    return list ? list->count : 0;
}

CoreNode* childAt(CoreNode const* node, int index) {
    return static_cast<CoreNode*>((*node->getcn())[static_cast<unsigned>(index)]);
}

// The next tag from pos: text between "<" (or "</") and ">". Returns false at
// the end of the text (also for a tag cut off by the end).
bool nextTag(char const* s, int n, int& pos, int& tagStart, int& tagEnd, bool& close) {
    if (pos < 0) pos = 0;
    if (pos >= n) return false;
    void const* lt = std::memchr(s + pos, '<', static_cast<size_t>(n - pos));
    if (!lt) {
        pos = n;
        return false;
    }
    int p = static_cast<int>(static_cast<char const*>(lt) - s) + 1;
    close = p < n && s[p] == '/';
    if (close) ++p;
    void const* gt = p < n ? std::memchr(s + p, '>', static_cast<size_t>(n - p)) : nullptr;
    if (!gt) {
        pos = n;
        return false;
    }
    tagStart = p;
    tagEnd = static_cast<int>(static_cast<char const*>(gt) - s);
    pos = tagEnd + 1;
    return true;
}

} // namespace

// ---- Document --------------------------------------------------------------

CoreXml_::CoreXml_() : root(nullptr), owned(false), leftopen(false) {}

CoreXml_::~CoreXml_() { close(); }

CoreNode* CoreXml_::getrt() const { return root; }

void CoreXml_::setrt(CoreNode* node) {
    if (node == root) {
        owned = node != nullptr;
        return;
    }
    close();
    root = node;
    owned = node != nullptr;
}

void CoreXml_::free_() {
    root = nullptr;
    owned = false;
}

void CoreXml_::close() {
    if (owned) delete root;
    root = nullptr;
    owned = false;
}

CoreNode* CoreXml_::editRoot() {
    if (!root) {
        root = new CoreNode(sCroot);
        owned = true;
    }
    return root;
}

// ---- Reading --------------------------------------------------------------

CoreAnsx CoreXml_::getas(CoreAnsx const& path) {
    FILE* file = CoreButl::ffpen(path, CoreAnsx("r"), CoreButl::iCwholebytes);
    if (!file) return CoreAnsx("0");
    // No more than the file holds now, within the bound: one that grows
    // after the open or while read cannot keep the reader.
    long long left = CoreButl::rdsze(file, path, CoreButl::iCwholebytes);
    if (left < 0) {
        int const error = errno;
        std::fclose(file);
        errno = error;
        return CoreAnsx("0");
    }
    std::string bytes;
    try {
        char block[65536];
        size_t got;
        while (left > 0 &&
               (got = std::fread(block, 1, size_t(std::min<long long>(left, sizeof block)), file)) >
                   0) {
            left -= static_cast<long long>(got);
            for (size_t i = 0; i < got; ++i)
                if (block[i] != '\0') bytes += block[i];
        }
    } catch (...) {
        std::fclose(file);
        throw CoreAnsx("");
    }
    std::fclose(file);
    return CoreAnsx(bytes.c_str());
}

bool CoreXml_::cutsh(CoreAnsx const& file) const {
    if (!leftopen) return false;
    CoreLog_::logfl(file + CoreAnsx(": cut short, its document does not close"), 0);
    return true;
}

CoreNode* CoreXml_::getdc(CoreAnsx const& source, bool fromFile, bool utf16) {
    close();
    leftopen = false;
    CoreAnsx text = fromFile ? getas(source) : source;
    if (text == "0") return nullptr;
    try {
        root = new CoreNode(sCroot);
        owned = true;
        if (utf16) text = CoreButl::getu8(text);
        if (text == "0") return root;

        char const* s = text.c_str();
        int const n = text.Length() < 0 ? 0 : text.Length();
        std::vector<CoreNode*> open{root}; // elements not yet closed; back is current
        std::string pendingText;           // text right after the last open tag
        bool pending = false;
        int pos = 0, tagStart = 0, tagEnd = 0;
        bool close = false;
        while (nextTag(s, n, pos, tagStart, tagEnd, close)) {
            if (!close && tagEnd > tagStart && (s[tagStart] == '!' || s[tagStart] == '?'))
                continue; // declaration, comment or processing instruction
            int length = tagEnd - tagStart;
            if (!close && selfClosed(s + tagStart, length)) {
                // Read as the open and close pair it stands for: an element
                // holding one empty text, so the getters see what they see
                // for "<NAME></NAME>"; what follows it is text after a child.
                CoreNode* element = new CoreNode(
                    CoreAnsx(decodeEntities(s + tagStart, static_cast<size_t>(length)).c_str()));
                open.back()->addcd(element);
                element->addcd(new CoreNode(CoreAnsx("")));
                pending = false;
                continue;
            }
            if (!close) {
                CoreNode* element = new CoreNode(CoreAnsx(
                    decodeEntities(s + tagStart, static_cast<size_t>(tagEnd - tagStart)).c_str()));
                open.back()->addcd(element);
                open.push_back(element);
                void const* lt = std::memchr(s + pos, '<', static_cast<size_t>(n - pos));
                int const end = lt ? static_cast<int>(static_cast<char const*>(lt) - s) : n;
                pendingText.assign(s + pos, static_cast<size_t>(end - pos));
                pending = true;
                pos = end;
                continue;
            }
            if (pending) {
                open.back()->addcd(new CoreNode(
                    CoreAnsx(decodeEntities(pendingText.data(), pendingText.size()).c_str())));
                pending = false;
            }
            if (open.size() <= 1) throw CoreAnsx("XML: close tag with no element open");
            open.pop_back();
        }
        leftopen = open.size() > 1;
        return root;
    } catch (CoreAnsx const& error) {
        close();
        if (!hushed) CoreLog_::logtg(error.Length() > 0 ? error : CoreAnsx("XML: parse failed"), 0);
    } catch (...) {
        close();
        if (!hushed) CoreLog_::logtg(CoreAnsx("XML: out of memory while parsing"), 0);
    }
    throw CoreAnsx("");
}

CoreNode* CoreXml_::getff(CoreAnsx const& path, bool utf16) { return getdc(path, true, utf16); }

CoreNode* CoreXml_::getfc(CoreAnsx const& text) { return getdc(text, false, false); }

// ---- Writing --------------------------------------------------------------

CoreAnsx CoreXml_::settc(bool pretty, bool topbreak) {
    bool wroteValue = false;
    return settc(pretty, 0, root, wroteValue, topbreak);
}

CoreAnsx CoreXml_::settc(bool pretty, int level, CoreNode const* node, bool& wroteValue,
                         bool topbreak) {
    wroteValue = false;
    if (!node) return CoreAnsx("");
    // One frame per open element instead of recursion: a document read from
    // a file may be nested deeper than the stack allows.
    struct Frame {
        CoreNode const* node; // element whose children are being written
        int next;             // index of the next child to write
        int level;            // indentation level of those children
        bool wrote;           // a value leaf was among them
        bool topbreak;        // line feed after open tags at level 0
    };
    std::string out;
    std::vector<Frame> frames{{node, 0, level < 0 ? 0 : level, false, topbreak}};
    auto indent = [&](int lvl) {
        if (pretty) out.append(static_cast<size_t>(2 * lvl), ' ');
    };
    while (true) {
        Frame& frame = frames.back();
        if (frame.next >= childCount(frame.node)) {
            bool const wrote = frame.wrote;
            frames.pop_back();
            if (frames.empty()) {
                wroteValue = wrote;
                break;
            }
            Frame const& parent = frames.back();
            if (!wrote) indent(parent.level);
            out += "</";
            appendEscaped(out, childAt(parent.node, parent.next - 1)->gettx().c_str());
            out += '>';
            if (pretty) out += '\n';
            continue;
        }
        int const index = frame.next++;
        CoreNode const* child = childAt(frame.node, index);
        if (child->leaf_()) {
            CoreAnsx const value = child->gettx().Trim();
            if (value.Length() > 0) {
                out += ' ';
                appendEscaped(out, value.c_str());
                out += ' ';
            }
            frame.wrote = true;
            continue;
        }
        if (pretty && index == 0) out += '\n';
        indent(frame.level);
        out += '<';
        appendEscaped(out, child->gettx().c_str());
        out += '>';
        if (pretty && frame.topbreak && frame.level == 0) out += '\n';
        Frame const inner{child, 0, frame.level + 1, false, false};
        frames.push_back(inner); // invalidates frame
    }
    return CoreAnsx(out.c_str());
}

bool CoreXml_::settf(CoreAnsx const& path, bool pretty, bool topbreak, bool flag) {
    return CoreButl::svatx(path, settc(pretty, topbreak), flag);
}

// ---- Path edits ----------------------------------------------------------------

bool CoreXml_::pappd(CoreAnsx const* path, int n, CoreNode* node) {
    CoreNode* top = nullptr;
    try {
        top = editRoot();
    } catch (...) {
        delete node;
        throw;
    }
    return top->pappd(path, n, node);
}

CoreNode* CoreXml_::pdlte(CoreAnsx const* path, int n) {
    return root ? root->pdlte(path, n) : nullptr;
}

bool CoreXml_::pmove(CoreAnsx const* from, int nfrom, CoreXml_* source, CoreAnsx const* to, int nto,
                     bool replace) {
    if (!source || !source->root) return false;
    return editRoot()->pmove(from, nfrom, source->root, to, nto, replace);
}

bool CoreXml_::pappr(CoreAnsx const* path, int n, CoreNode* value) {
    if (!path || n < 1) {
        delete value;
        return false;
    }
    CoreNode* element = nullptr;
    try {
        editRoot();
        element = new CoreNode(path[n - 1]);
    } catch (...) {
        delete value;
        throw;
    }
    element->addcd(value);
    return root->prplc(path, n, element);
}

void CoreXml_::patch(CoreNode* source, int depth, CoreNode* destination) {
    if (!source || !destination) return;
    if (depth == 0 &&
        (CoreNode::inside(source, destination) || CoreNode::inside(destination, source))) {
        // Walking a tree while emptying or growing it would touch freed nodes.
        CoreLog_::loger(CoreAnsx("XML: patch source and destination overlap"), 0);
        return;
    }
    for (int i = 0; i < childCount(source); ++i) {
        CoreNode* ch = childAt(source, i);
        CoreAnsx const name = ch->gettx();
        if (ch->leaf_()) destination->delcn();
        CoreNode* target = destination->getcd(name);
        if (!target) {
            target = new CoreNode(name);
            destination->addcd(target);
        }
        patch(ch, depth + 1, target);
    }
}

void CoreXml_::merge(CoreXml_* other) {
    // Overlaying a document on itself changes nothing, but the walk below
    // would destroy the elements it is about to move.
    if (!other || other == this || !other->root) return;
    CoreNode* top = other->root->getcd();
    if (!top) return;
    CoreAnsx path[2] = {top->gettx(), CoreAnsx("")};
    for (int i = childCount(top) - 1; i >= 0; --i) {
        if (i >= childCount(top)) continue; // the list shrank under a same-named earlier child
        path[1] = childAt(top, i)->gettx();
        pdlte(path, 2);
        pmove(path, 2, other, path, 2, true);
    }
}

// ---- Scanner steps ------------------------------------------------------------

CoreAnsx CoreXml_::sbstr(CoreAnsx const& text, int from) { return text.SubString(from, -1); }

bool CoreXml_::selfClosed(char const* tag, int& length) {
    if (!tag || length <= 0 || tag[length - 1] != '/') return false;
    int end = length - 1;
    while (end > 0 && (tag[end - 1] == ' ' || tag[end - 1] == '\t' || tag[end - 1] == '\r' ||
                       tag[end - 1] == '\n'))
        --end;
    length = end;
    return true;
}

int CoreXml_::fndtc(CoreAnsx const& text, int& pos, CoreAnsx& buffer, char& kind) {
    char const* s = text.c_str();
    int const n = text.Length() < 0 ? 0 : text.Length();
    int tagStart = 0, tagEnd = 0;
    bool close = false;
    if (!nextTag(s, n, pos, tagStart, tagEnd, close)) return 0;
    kind = close ? '/' : (tagEnd > tagStart ? s[tagStart] : '>');
    buffer = CoreAnsx(std::string(s + tagStart, static_cast<size_t>(tagEnd - tagStart)).c_str());
    return 1;
}

int CoreXml_::fndte(CoreAnsx const& text, int& pos, CoreAnsx& buffer, bool& open) {
    char const* s = text.c_str();
    int const n = text.Length() < 0 ? 0 : text.Length();
    int tagStart = 0, tagEnd = 0;
    bool close = false;
    while (nextTag(s, n, pos, tagStart, tagEnd, close)) {
        if (!close && tagEnd > tagStart && (s[tagStart] == '!' || s[tagStart] == '?')) continue;
        open = !close;
        buffer =
            CoreAnsx(std::string(s + tagStart, static_cast<size_t>(tagEnd - tagStart)).c_str());
        return 1;
    }
    return 0;
}
