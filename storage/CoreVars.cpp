#include "storage/CoreVars.h"

#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"

CoreVars::CoreVars() : present(false), document(nullptr) { open_(); }

CoreVars::~CoreVars() { close(); }

void CoreVars::open_() {
    close();
    CoreXml_* fresh = new CoreXml_;
    try {
        fresh->getfc(CoreAnsx("<") + sCtagvrroot + CoreAnsx("> </") + sCtagvrroot + CoreAnsx(">"));
    } catch (...) {
        delete fresh;
        throw;
    }
    document = fresh;
    present = true;
}

void CoreVars::free_() { open_(); }

void CoreVars::close() {
    delete document;
    document = nullptr;
    present = false;
}

CoreAnsx CoreVars::getit(CoreAnsx const& name) const {
    if (!present || !document || !document->getrt()) return CoreAnsx("");
    CoreNode const* vars = document->getrt()->getcd(sCtagvrroot);
    CoreAnsx const key = name.UpperCase().Trim();
    if (!vars || !vars->exslc(key)) return CoreAnsx("");
    return vars->getls(key);
}

void CoreVars::addit(CoreAnsx const& name, CoreAnsx const& value) {
    if (!present || !document) return;
    CoreNode* variable = new CoreNode(name);
    try {
        variable->addcd(new CoreNode(value));
    } catch (...) {
        delete variable;
        throw;
    }
    CoreAnsx path[2] = {sCtagvrroot, name.UpperCase().Trim()};
    try {
        document->pdlte(path, 2);
    } catch (...) {
        delete variable;
        throw;
    }
    document->pappd(path, 1, variable);
}
