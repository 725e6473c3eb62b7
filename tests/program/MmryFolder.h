#pragma once
// Program memory over a fresh data folder for tests: folders "Setups/",
// "Programs/", "Vectors/" and "Cache/" under a temporary base, helpers that
// write program files (plain and archive) and fill locations in memory.
// Test thread only.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/stat.h>

#include "program/CoreMmry.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FsysItems.h"
#include "tests/support/TempDir.h"

inline std::string str(CoreAnsx const& t) { return t.c_str(); }

// A program document with the catalogue elements that are not empty.
inline std::string programXml(std::string const& name, std::string const& category = "",
                              std::string const& sub1 = "", std::string const& sub2 = "",
                              std::string const& extra = "") {
    std::string x = "<PROGRAM><NAME> " + name + " </NAME>";
    if (!category.empty()) x += "<CATEGORY> " + category + " </CATEGORY>";
    if (!sub1.empty()) x += "<SUBCATEGORY1> " + sub1 + " </SUBCATEGORY1>";
    if (!sub2.empty()) x += "<SUBCATEGORY2> " + sub2 + " </SUBCATEGORY2>";
    return x + extra + "</PROGRAM>";
}

class MmryFolder : public ::testing::Test {
protected:
    void SetUp() override {
        for (char const* sub : {"Setups", "Programs", "Vectors", "Extra", "Extra/Programs"})
            ::mkdir(temp.file(sub).c_str(), 0775);
    }

    std::unique_ptr<CoreMmry> make(bool caching = false, CoreFsys* shared = nullptr,
                                   bool extraRoot = false) {
        CoreAnsx extra((temp.folder() + "Extra/").c_str());
        return std::make_unique<CoreMmry>(&pool, CoreAnsx(temp.folder().c_str()),
                                          short(extraRoot ? 1 : 0), &extra, CoreAnsx("Setups/"),
                                          CoreAnsx("Programs/"), CoreAnsx("Vectors/"),
                                          CoreAnsx("Cache/"), caching, shared);
    }

    // A plain program file under the root's program folder.
    void putProgram(std::string const& file, std::string const& xml,
                    std::string const& root = "") const {
        writeBytes(temp.file(root + "Programs/" + file), xml);
    }
    // A program archive holding xml as item "PROGRAMS/<base>.XML".
    void putArchive(std::string const& file, std::string const& base, std::string const& xml) {
        CoreFsys store(&pool);
        putItem(store, ("Programs/" + base + ".xml").c_str(), xml);
        ASSERT_TRUE(store.savea(CoreAnsx(temp.file("Programs/" + file).c_str())));
    }
    void putSetup(std::string const& file, std::string const& xml) const {
        writeBytes(temp.file("Setups/" + file), xml);
    }

    TempDir temp{"vorlanmmry"};
    CorePool pool;
};

// Every catalogue query of a location: name|description|3 categories|cached
// file|file|file with folder|vector file|archive.
inline std::string row(CoreMmry& m, int loc) {
    std::string r = str(m.getnm(loc)) + "|" + str(m.getds(loc));
    for (int k = 0; k < 3; ++k) r += "|" + str(m.getct(loc, k));
    return r + "|" + str(m.getcc(loc)) + "|" + str(m.getpf(loc)) + "|" + str(m.getfp(loc, false)) +
           "|" + str(m.getfv(loc, false)) + "|" + (m.getwp(loc) ? "arc" : "xml");
}

// Names of the locations from..to-1, each followed by "|".
inline std::string names(CoreMmry& m, int from, int to) {
    std::string all;
    for (int i = from; i < to; ++i) all += str(m.getnm(i)) + "|";
    return all;
}

// Fills a location in memory alone: name and categories as given.
inline void put(CoreMmry& m, int loc, std::string const& name, std::string const& c0 = "",
                std::string const& c1 = "", std::string const& c2 = "") {
    m.setvl(loc, false, CoreAnsx((name + ".xml").c_str()), CoreAnsx(programXml(name).c_str()));
    m.setnm(loc, name.c_str());
    m.setct(loc, c0.c_str(), 0);
    m.setct(loc, c1.c_str(), 1);
    m.setct(loc, c2.c_str(), 2);
}
