// Parses arbitrary bytes as a document; whatever parses must write, re-read
// and re-write to the same text, and a refused parse must leave no root.
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    std::string text;
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0) text += static_cast<char>(data[i]);
    bool const utf16 = size > 0 && (data[0] & 1);
    CoreXml_ doc;
    try {
        if (doc.getdc(CoreAnsx(text.c_str()), false, utf16)) {
            CoreAnsx once = doc.settc(true, (size & 1) != 0);
            CoreXml_ again;
            again.getfc(once);
            CoreAnsx twice = again.settc(true, false);
            CoreXml_ third;
            third.getfc(twice);
            if (std::string(third.settc(true, false).c_str()) != twice.c_str()) __builtin_trap();
            CoreNode* r = doc.getrt();
            if (r && r->getcd()) {
                CoreNode* top = r->getcd();
                (void)top->getld("A");
                (void)CoreNode::gtnli(top, "B", 1);
                (void)top->getls("C", 1);
                CoreXml_::patch(again.getrt(), 0, doc.getrt());
                CoreNode::templ(third.getrt(), doc.getrt());
                doc.merge(&again);
            }
        }
    } catch (CoreAnsx const&) {
        if (doc.getrt()) __builtin_trap();
    }
    return 0;
}
