// CorePrcs::setds: the description of a program stored as a program archive,
// changed without loading it. Only the archive's program item is rewritten;
// the other items (impulses, vectors) are written back byte for byte.
#include "processing/CorePrcs.h"

#include <memory>

#include "program/CoreProg.h"
#include "storage/CoreNode.h"
#include "storage/DataXml_.h"

void CorePrcs::setds(CorePool* store_pool, CoreAnsx path, CoreAnsx description) {
    // The program item as the reader names it (key.XML first), else any item
    // holding the key that parses as a program; never an impulse or vector
    // beside it.
    auto const edit = [&](CoreXml_&, CoreNode* program, CoreAnsx const&) {
        auto element = std::make_unique<CoreNode>(DataXml_::sCtagdescrp);
        element->addcd(new CoreNode(description));
        program->prplc(&DataXml_::sCtagdescrp, 1, element.release());
    };
    CoreProg::editProgramItem(store_pool, path, true, "description", edit, CoreAnsx("0"));
}
