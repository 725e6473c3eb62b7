// Program memory against a plain model of its slots: seeded random runs of
// put, edit, copy, move, clear, reload, chunk out and back, and bank save
// and reload, with and without cache records. After every step the touched
// banks must hold exactly what the model says: no program lost or changed.

#include <gtest/gtest.h>

#include <random>

#include "storage/CoreXml_.h"
#include "tests/program/MmryFolder.h"

namespace {

struct Slot {
    bool used = false;
    bool failed = false; // a bank entry whose file did not load: empty, its place kept
    int prog = 0;        // index of the program file it came from (kGhost: none on disk)
    std::string name, cat[3], descr, doc; // doc: compact document text
};

int const kPrograms = 8, kGhost = kPrograms; // the last program has no file
int const kBanks[] = {0, 1, 98, 99};

std::string canon(std::string const& xml) {
    CoreXml_ d;
    d.getfc(xml.c_str());
    return d.settc(false, false).c_str();
}

std::string fileOf(int p) { return p == kGhost ? "ghost.xml" : "p" + std::to_string(p) + ".xml"; }

} // namespace

using MmryModel = MmryFolder;

TEST_F(MmryModel, RandomRunsKeepEveryProgram) {
    std::string xml[kPrograms + 1];
    for (int p = 0; p <= kPrograms; ++p) {
        // Two programs share a name; some have no categories, some a description.
        xml[p] = programXml(p % 4 == 3 ? "Dup" : "N" + std::to_string(p), p % 3 ? "Cat" : "",
                            p % 2 ? "S" + std::to_string(p) : "", "",
                            p % 2 ? "" : "<DESCRIPTION> d" + std::to_string(p) + " </DESCRIPTION>");
        if (p != kGhost) putProgram(fileOf(p), xml[p]);
    }
    auto fresh = [&](int p) {
        Slot s;
        s.used = true;
        s.prog = p;
        s.name = p % 4 == 3 ? "Dup" : "N" + std::to_string(p);
        s.cat[0] = p % 3 ? "Cat" : "";
        s.cat[1] = p % 2 ? "S" + std::to_string(p) : "";
        s.doc = canon(xml[p]);
        return s;
    };

    for (bool caching : {false, true})
        for (unsigned seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE("caching " + std::to_string(caching) + " seed " + std::to_string(seed));
            std::mt19937 rnd(seed);
            auto pick = [&](int n) { return int(rnd() % unsigned(n)); };
            auto anyLoc = [&] { return kBanks[pick(4)] * 100 + pick(pick(4) ? 8 : 100); };
            auto m = make(caching);
            std::vector<Slot> model(10000);
            for (int step = 0; step < 300; ++step) {
                int const a = anyLoc(), b = anyLoc(), p = pick(kPrograms + 1);
                int const bank = kBanks[pick(4)];
                std::string what;
                switch (pick(8)) {
                case 0: // a program stored with its file; loaded programs keep their description
                    what = "put";
                    m->setvl(a, false, fileOf(p).c_str(), xml[p].c_str());
                    m->setnm(a, fresh(p).name.c_str());
                    for (int k = 0; k < 3; ++k) m->setct(a, fresh(p).cat[k].c_str(), k);
                    model[a] = fresh(p);
                    break;
                case 1: { // the engine stores an edited text back
                    what = "edit";
                    if (!model[a].used) break;
                    std::string const edited = xml[model[a].prog] + "<EDIT> 1 </EDIT>";
                    m->setvl(a, edited.c_str(), false);
                    model[a].doc = canon(edited);
                    break;
                }
                case 2: {
                    what = "move/copy";
                    bool const move = pick(2) == 0;
                    m->mvepr(a, b, move);
                    if (a == b) break;
                    model[b] = model[a];
                    if (move) model[a] = Slot{};
                    break;
                }
                case 3:
                    what = "clear";
                    if (pick(4) == 0) {
                        m->clear(bank);
                        for (int k = 0; k < 100; ++k) model[bank * 100 + k] = Slot{};
                    } else {
                        m->clrpr(a);
                        model[a] = Slot{};
                    }
                    break;
                case 4: // reload from the file; a program without one stays as it is
                    what = "reload";
                    m->fix_l(a);
                    if (model[a].used && model[a].prog != kGhost) {
                        Slot s = fresh(model[a].prog);
                        s.descr = model[a].prog % 2 ? model[a].descr
                                                    : "d" + std::to_string(model[a].prog);
                        model[a] = s;
                    }
                    break;
                case 5: { // chunk out and back in place
                    what = "chunk";
                    if (!model[a].used) break;
                    std::string const chunk = str(m->dumpo(a));
                    ASSERT_EQ(m->dumpi(chunk.c_str()), a);
                    ASSERT_EQ(str(m->dumpo(a)), chunk);
                    std::size_t const from = chunk.find("<PROGRAM>");
                    ASSERT_NE(from, std::string::npos);
                    model[a].doc = chunk.substr(from, chunk.rfind("</SETUP>") - from);
                    model[a].descr.clear();
                    break;
                }
                case 6: { // save a bank, then read it back packed; entries without a
                          // file keep their places as failed ones
                    what = "save/load";
                    ASSERT_TRUE(m->saves("bank.xml", bank));
                    ASSERT_TRUE(m->loads("bank.xml", bank, true));
                    std::vector<Slot> kept;
                    for (int k = 0; k < 100; ++k) {
                        Slot& s = model[bank * 100 + k];
                        if (s.used && s.prog != kGhost) {
                            kept.push_back(fresh(s.prog));
                            kept.back().descr = s.prog % 2 ? "" : "d" + std::to_string(s.prog);
                        } else if (s.used || s.failed) {
                            kept.push_back(Slot{});
                            kept.back().failed = true;
                        }
                        s = Slot{};
                    }
                    for (std::size_t k = 0; k < kept.size(); ++k) model[bank * 100 + k] = kept[k];
                    break;
                }
                default: // reads that must change nothing
                    what = "read";
                    (void)m->getvl(a, false);
                    (void)m->getck(a, short(pick(3) - 1), nullptr, 0);
                    m->updtt();
                    break;
                }
                for (int bk : kBanks)
                    for (int i = bk * 100; i < bk * 100 + 100; ++i) {
                        Slot const& s = model[i];
                        std::string const got =
                            str(m->getnm(i)) + "|" + str(m->getct(i, 0)) + "|" +
                            str(m->getct(i, 1)) + "|" + str(m->getct(i, 2)) + "|" +
                            str(m->getds(i)) + "|" + str(m->getpf(i)) + "|" +
                            str(m->getfv(i, true)) + "|" +
                            // deferred programs stay so now and then
                            (step % 3 && what != "reload" && s.used ? s.doc
                                                                    : str(m->getvl(i, false)));
                        std::string const want =
                            s.failed ? "FAILED GHOST|0|0|0|0||0|0"
                            : !s.used
                                ? "0|0|0|0|0||0|0"
                                : s.name + "|" + s.cat[0] + "|" + s.cat[1] + "|" + s.cat[2] + "|" +
                                      s.descr + "|" + fileOf(s.prog) + "|" +
                                      fileOf(s.prog).replace(fileOf(s.prog).size() - 3, 3, "v2v") +
                                      "|" + s.doc;
                        ASSERT_EQ(got, want) << "step " << step << " " << what << " at " << i;
                    }
            }
        }
}
