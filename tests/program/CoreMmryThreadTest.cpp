// ctest-labels: threads
// Program memory shared between threads: bank loads, tree rebuilds and chunk
// reads on one thread while others query names, step through categories,
// browse the tree and take chunks. Nothing may race, deadlock or tear.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/program/MmryFolder.h"

using MmryThreads = MmryFolder;

TEST_F(MmryThreads, ReadersRunBesideBankLoadsAndTreeRebuilds) {
    std::string setup = "<SETUP>";
    for (int k = 0; k < 40; ++k) {
        std::string const name = "p" + std::to_string(k);
        putProgram(name + ".xml", programXml(name, k % 2 ? "Rock" : "Pop", "Live"));
        setup += "<PROGRAM><SEQUENCE> " + std::to_string(k) + " </SEQUENCE><FILENAME> " + name +
                 " </FILENAME></PROGRAM>";
    }
    putSetup("s.xml", setup + "</SETUP>");
    auto m = make();
    ASSERT_TRUE(m->loads("s.xml", 0, false));
    std::string const chunk = str(m->dumpo(3));

    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread writer([&] {
        for (int round = 0; round < 15; ++round) {
            m->loads("s.xml", 1 + round % 3, true);
            m->updtt();
            m->dumpi(chunk.c_str());
            m->clear(1 + (round + 1) % 3);
        }
        done = true;
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&, r] {
            CoreAnsx const rock[1] = {"rock"};
            do { // at least one pass, however fast the writer is
                for (int i = 100; i < 140; ++i) {
                    std::string const name = str(m->getnm(i));
                    // Either empty or one whole name of the setup.
                    if (name != "0" && name != "p" + std::to_string(i - 100)) ++torn;
                }
                int const found = m->getck(100 + r, 1, rock, 1);
                if (found >= 0 && str(m->getct(found, 0)) != "Rock" &&
                    str(m->getct(found, 0)) != "0")
                    ++torn;
                m->getbc();
                (void)m->getbc(0);
                m->settr(0, r);
                m->settr(1, -1);
                (void)m->gettn();
                (void)m->gette();
                (void)m->srcnm("p3");
                try {
                    if (str(m->dumpo(3)) != chunk) ++torn;
                } catch (CoreAnsx const&) {
                    ++torn; // location 3 is never emptied
                }
            } while (!done);
        });
    writer.join();
    for (auto& t : readers) t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(str(m->getnm(3)), "p3");
}
