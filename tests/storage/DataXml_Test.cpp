// Spot checks of the tag table, a few entries from each format: the texts are
// part of every saved file.

#include <gtest/gtest.h>

#include <string>

#include "storage/DataXml_.h"

TEST(DataXml_, TagTextsOfEachFormat) {
    struct Entry {
        CoreAnsx const* member;
        char const* text;
    };
    Entry const entries[] = {
        {&DataXml_::sCtagprogrm, "PROGRAM"},
        {&DataXml_::sCtagsubca2, "SUBCATEGORY2"},
        {&DataXml_::sCtaggainir, "GAINIR"},
        {&DataXml_::sCtaglfortq, "RATEQUANTIZE"},
        {&DataXml_::sCtagfuncta, "A"},
        {&DataXml_::sCtagrooth_, "H"},
        {&DataXml_::sCtagfadeoc, "FADEOUTCURVE"},
        {&DataXml_::sCtaggainlm, "GAINLIMITER"},
        {&DataXml_::sCtagpnsrce, "PANSOURCE"},
        {&DataXml_::sCtagmdsrce, "MODSOURCE"},
        {&DataXml_::sCtagefenet, "ENABLEEATERT"},
        {&DataXml_::sCtagrlsrce, "RELEASESOURCE"},
        {&DataXml_::sCtagdnrnge, "RANGELIMIT"},
        {&DataXml_::sCtadsvisbl, "VISIBLE"},
        {&DataXml_::sCtagroot2p, "LUMOIIPRM"},
        {&DataXml_::sCtagopttyp, "OT"},
        {&DataXml_::sCtagfilter, "FILTERSOURCE"},
        {&DataXml_::sCtagorgfnm, "ORIGINALFILENAME"},
        {&DataXml_::sCtagcachef, "CACHEDFILE"},
        {&DataXml_::sCtagdebugl, "DL"},
        {&DataXml_::sCtagippthr, "IPPTHREADS"},
        {&DataXml_::sCtaglegstc, "LEGACYSTEREOCHANNEL"},
        {&DataXml_::sCtagdaddch, "DISPLAYADDCHARS"},
        {&DataXml_::sCtagmixrt_, "MIX"},
        {&DataXml_::sCtagledrt_, "LED"},
        {&DataXml_::sCtagledbmp, "LED"},
        {&DataXml_::sCtagsyncvr, "SYNCVERSION"},
        {&DataXml_::sCtagdictry, "DICTIONARY"},
    };
    for (Entry const& e : entries) EXPECT_EQ(std::string(e.member->c_str()), e.text);
    // The skin's own members carry the same texts as the program's.
    EXPECT_EQ(std::string(DataXml_::sCtagslgaii.c_str()), DataXml_::sCtaggainin.c_str());
    EXPECT_EQ(std::string(DataXml_::sCtagslgaio.c_str()), DataXml_::sCtaggainou.c_str());
    EXPECT_EQ(std::string(DataXml_::sCtagmixrt_.c_str()), DataXml_::sCtagrootmx.c_str());
}
