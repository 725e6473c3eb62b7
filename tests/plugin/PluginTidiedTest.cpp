// The settings, the bank and a program as an XML tool tidies them
// (`xmllint --format`: a declaration, indentation, and every empty element
// written self-closed) boot and play bit for bit as the files as written.
// The tidied files lie in plugin/data/tidied/, made once by xmllint from the
// demo's files, each with an empty element added; where xmllint is
// installed, the test also checks they are still what it makes of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {

struct Edit {
    std::string file;     // in the installation, and its name in plugin/data/tidied/
    std::string from, to; // the demo's text, and the same with an empty element
};

Edit const kEdits[] = {
    {"vorlan.xml", "</MASTER>", "<DL></DL></MASTER>"},
    {"data/setups/DEMO.XML", "</SETUP>", "<NOTE></NOTE></SETUP>"},
    {"data/programs/ROOM.XML", "<CATEGORY>Reverb</CATEGORY>", "<CATEGORY></CATEGORY>"},
};

// What the instance plays once its boot has put the room on.
CoreHost::CHANNELS booted(PluginRig const& rig) {
    CorePeer p(rig.path(), CoreDemo::iCrate, 512);
    EXPECT_TRUE(ready(p));
    return playedNoise(p.host(), 3);
}

} // namespace

TEST(PluginTidiedTest, FilesAnXmlToolTidiedBootAndPlayAsWritten) {
    PluginRig written, tidied;
    bool const xmllint = std::system("command -v xmllint >/dev/null 2>&1") == 0;
    for (PluginRig const* rig : {&written, &tidied}) ASSERT_TRUE(rig->settings({kDiagnosed}));
    for (Edit const& e : kEdits) {
        std::string text = readBytes(written.folder() + e.file);
        std::size_t const at = text.find(e.from);
        ASSERT_NE(at, std::string::npos) << e.file;
        writeBytes(written.folder() + e.file, text.replace(at, e.from.size(), e.to));
        std::string const kept =
            readBytes(VORLAN_PLUGIN_DATA "tidied/" + e.file.substr(e.file.rfind('/') + 1));
        ASSERT_NE(kept.find("/>"), std::string::npos) << e.file;
        writeBytes(tidied.folder() + e.file, kept);
        if (!xmllint) continue;
        std::string const out = written.folder() + "formatted.xml";
        std::string const run =
            "xmllint --format '" + written.folder() + e.file + "' >'" + out + "'";
        ASSERT_EQ(std::system(run.c_str()), 0) << run;
        EXPECT_EQ(readBytes(out), kept)
            << e.file << ": the demo changed, make the tidied file again";
        std::remove(out.c_str());
    }
    CoreHost::CHANNELS const heard = booted(written);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(booted(tidied), heard); // bit for bit
    // The first boot writes the settings back alike.
    EXPECT_EQ(readBytes(tidied.folder() + "vorlan.xml"),
              readBytes(written.folder() + "vorlan.xml"));
}
