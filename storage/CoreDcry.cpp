#include "storage/CoreDcry.h"

#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

CoreDcry::CoreDcry(CoreAnsx const& path)
    : ready(false), document(new CoreXml_), dictionary(nullptr) {
    CoreNode* root = nullptr;
    try {
        root = document->getff(path, false);
    } catch (...) {
        delete document; // the destructor does not run for a throwing constructor
        document = nullptr;
        throw;
    }
    ready = root && root->exslc(DataXml_::sCtagdictry);
    if (ready) dictionary = root->getcd(DataXml_::sCtagdictry);
}

CoreDcry::~CoreDcry() {
    dictionary = nullptr;
    delete document;
    document = nullptr;
}

CoreAnsx CoreDcry::getvl(CoreAnsx const& section, CoreAnsx const& word) const {
    if (!ready || !dictionary || !dictionary->exslc(section)) return word;
    CoreNode const* words = dictionary->getcd(section);
    if (!words || !words->exslc(word)) return word;
    return words->getls(word);
}
