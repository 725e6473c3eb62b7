#include "tests/support/StoreFolder.h"

#include "tests/support/FileBytes.h"

void StoreFolder::SetUp() { store = new CoreFsys(&pool, CoreAnsx((dir + "/").c_str()), false); }

void StoreFolder::TearDown() {
    delete store;
    store = nullptr;
}

void StoreFolder::put(std::string const& name, std::string const& bytes) const {
    writeBytes(dir + "/" + name, bytes);
}
