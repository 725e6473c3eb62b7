#pragma once
// Fixture for readers that take their files through the item store: a fresh
// temporary data folder, a pool, and a store over that folder that keeps its
// files open. Test thread only.

#include <gtest/gtest.h>

#include <string>

#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tests/support/TempDir.h"

class StoreFolder : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes a file of exactly these bytes into the data folder.
    void put(std::string const& name, std::string const& bytes) const;

    TempDir temp;                        // the data folder, removed after the test
    std::string const dir = temp.path(); // its path, no trailing "/"
    CorePool pool;                       // pool of the store and of the readers
    CoreFsys* store = nullptr;           // store over dir, made in SetUp
};
