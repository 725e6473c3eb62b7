// The host chunk between two engines over one installation, as two plug-in
// instances share it: what one hands out the other restores (booting first)
// to the same location and the same live program, also for a program larger
// than the chunk buffer; the cases that hand out "NOCHUNK"; and chunks that
// must change nothing (NOCHUNK with trailing bytes, garbage of every kind).
#include "processing/CorePrcs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "program/CoreMmry.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/support/LogCapture.h"

namespace {

class CorePrcsChnkTest : public ::testing::Test, protected EngineKit {
protected:
    void SetUp() override {
        kit.wav("IR.WAV", {DataKit::impulse(64, 0, 0.8), DataKit::impulse(64, 0, -0.5)});
        for (auto [file, name] : {std::pair{"INIT.XML", "Init"},
                                  {"ONE.XML", "One"},
                                  {"TWO.XML", "Two"},
                                  {"LOST.XML", "Lost"}}) {
            KitProgram p(name, "", {{"DESCRIPTION", std::string(name) == "Two" ? big() : "d"}});
            p.slots.push_back(KitVector{{std::string(name) == "Lost" ? "NONE.WAV" : "IR.WAV"}});
            kit.program(file, p);
        }
        kit.setup("BANK.XML", {"INIT.XML", "ONE.XML", "TWO.XML", "LOST.XML"}, -1);
        kit.master("BANK.XML", {{"DSPBUFFER", "256"}, {"OTIMED", "3"}});
    }
    // A description that makes program "Two" larger than the chunk buffer.
    static std::string big() {
        std::string s;
        for (int i = 0; s.size() < 200000; ++i) s += "word" + std::to_string(i) + " ";
        return s;
    }
    static std::string chunk(CorePrcs& e, int& size) {
        void* data = nullptr;
        size = e.getck(&data);
        return data != nullptr ? std::string(static_cast<char const*>(data)) : "";
    }
    static std::string live(CorePrcs& e) { return e.getbs(68, nullptr).c_str(); }

    LogCapture log;
};

TEST_F(CorePrcsChnkTest, AChunkRestoresTheSameProgramInAnotherEngine) {
    auto a = make();
    ASSERT_FALSE(a->fboot());
    for (int slot : {1, 2}) { // 2 is larger than the buffer
        a->setbi(88, slot, nullptr);
        a->setbs(56, CoreAnsx(("Edited " + std::to_string(slot)).c_str()), nullptr);
        CorePrcs::BEANSTRUCT mix{0, 0};
        a->setbd(156, 0.25 + 0.5 * slot / 2, &mix);
        int size = 0;
        std::string const text = chunk(*a, size);
        EXPECT_EQ(size, int(text.size()) + 1); // the text and its zero byte
        EXPECT_EQ(slot == 2, size > CoreMmry::iCchunkbufferdim);
        if (slot == 1) { // a chunk padded to the buffer, as earlier versions handed out
            std::vector<char> padded(std::size_t(CoreMmry::iCchunkbufferdim), '\0');
            std::memcpy(padded.data(), text.data(), text.size());
            auto c = make();
            c->setck(padded.data(), long(padded.size()));
            EXPECT_EQ(canonProgram(live(*c)), canonProgram(live(*a)));
        }
        // Restored before the other engine booted; the chunk given without
        // its zero byte, exactly size bytes.
        auto b = make();
        std::vector<char> bytes(text.begin(), text.end());
        EXPECT_TRUE(b->setck(bytes.data(), long(bytes.size())));
        EXPECT_EQ(b->getbi(67, nullptr), slot);
        EXPECT_EQ(canonProgram(live(*b)), canonProgram(live(*a))) << slot;
        EXPECT_EQ(b->getbd(156, &mix), a->getbd(156, &mix));
        EXPECT_TRUE(CorePrcsPeek{*b}.selected());
        int again = 0;
        std::string const back = chunk(*b, again); // and hands out the same chunk
        EXPECT_EQ(back.substr(0, 40), text.substr(0, 40));
        EXPECT_EQ(canonProgram(back), canonProgram(text));
    }
}

TEST_F(CorePrcsChnkTest, NochunkAndRefusedChunksChangeNothing) {
    auto e = make();
    int size = 0;
    EXPECT_EQ(chunk(*e, size), "NOCHUNK"); // before the boot
    EXPECT_EQ(size, 8);
    ASSERT_FALSE(e->fboot());
    EXPECT_EQ(chunk(*e, size), "NOCHUNK"); // nothing selected yet
    e->setbi(88, 3, nullptr);              // fails: location 0 plays
    EXPECT_EQ(chunk(*e, size), "NOCHUNK");
    e->setbi(88, 1, nullptr);
    std::string const good = chunk(*e, size);
    ASSERT_NE(good.find("<SETUP>"), std::string::npos);

    std::mt19937 rng(5);
    std::string noise(3000, '\0');
    for (char& c : noise) c = char(rng() % 255 + 1);
    std::vector<std::string> refused = {
        "",
        "<SETUP>",
        "not xml at all",
        noise,
        good.substr(0, good.size() / 2),
        "<SETUP><PROGRAM><SEQUENCE>12345</SEQUENCE></PROGRAM></SETUP>",
        "<SETUP><SELECTEDPROGRAM>-4</SELECTEDPROGRAM></SETUP>",
    };
    // Cut anywhere short of its last byte, the chunk no longer closes.
    for (std::size_t percent = 10; percent <= 90; percent += 20)
        refused.push_back(good.substr(0, good.size() * percent / 100));
    refused.push_back(good.substr(0, good.size() - 1));
    std::string const nochunk[] = {"NOCHUNK", std::string(" \n NOCHUNK\t\0<SETUP>whatever", 27)};
    refused.insert(refused.begin(), std::begin(nochunk), std::end(nochunk));
    std::string const before = canonProgram(live(*e));
    std::string const memory = CorePrcsPeek{*e}.memory()->getvl(1, false).c_str();
    for (std::string const& r : refused) {
        bool const isNochunk = r == nochunk[0] || r == nochunk[1];
        EXPECT_EQ(e->ckchk(const_cast<char*>(r.data()), long(r.size())), isNochunk);
        EXPECT_EQ(e->setck(const_cast<char*>(r.data()), long(r.size())), isNochunk);
        EXPECT_EQ(e->getbi(67, nullptr), 1) << r.substr(0, 40);
        EXPECT_EQ(canonProgram(live(*e)), before) << r.substr(0, 40);
        EXPECT_EQ(std::string(CorePrcsPeek{*e}.memory()->getvl(1, false).c_str()), memory);
    }
    EXPECT_FALSE(e->setck(nullptr, 100));
    EXPECT_EQ(canonProgram(chunk(*e, size)), canonProgram(good));
    // Whole, but its program cannot load: placed, location 0 plays, and
    // the answer says so.
    std::string lost = good;
    lost.replace(lost.find("IR.WAV"), 6, "NONE.WAV");
    EXPECT_TRUE(e->ckchk(lost.data(), long(lost.size())));
    EXPECT_FALSE(e->setck(lost.data(), long(lost.size())));
    EXPECT_TRUE(CorePrcsPeek{*e}.fellBack());
}

} // namespace
