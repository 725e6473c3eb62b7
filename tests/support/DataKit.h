#pragma once
// Test data kit: a temporary data folder laid out as an installation sees it,
// and the files the program reader, program memory and engine read from it:
// the master settings file, bank setups, program documents, impulses (WAV and
// number lists) made from known signals, external vector documents, and
// archives (".V2V" vector packs, ".V2P" program archives) written through the
// item store. Documents are built as plain text by the tools' document writer
// (CoreDdoc), never by the readers under test, so reading them back is an
// independent check. Test thread only.
//
//   DataKit kit;                              // <tmp>/ with data/ and its folders
//   kit.wav("IR1.WAV", {DataKit::impulse(64, 4, 0.9)});
//   KitProgram p{"Plate"};
//   p.slots.push_back(KitVector{{"IR1.WAV"}});
//   kit.program("PLATE.XML", p);
//   kit.setup("BANK.XML", {"PLATE.XML"}, 0);
//   kit.master();                             // <tmp>/VORLAN2.XML

#include "storage/CoreXml_.h"
#include "tests/support/TempDir.h"
#include "tools/CoreDdoc.h"

#include <string>
#include <utility>
#include <vector>

class CoreNode;

// "<tag>value</tag>".
std::string kitEl(std::string const& tag, std::string const& value);

// A parsed XML fragment: node is its first top-level element.
struct KitNode {
    explicit KitNode(std::string const& text);
    CoreXml_ xml;
    CoreNode* root = nullptr; // the document root (the program reader's argument)
    CoreNode* node = nullptr;
};

// The document records are the tools' document writer's, so the kit and the
// demo-data generator write one format.
using KitValues = CoreDdoc::VALUES;   // ordered element name and value text pairs
using KitVector = CoreDdoc::VECTOR;   // one VECTOR: files or nested vectors
using KitProgram = CoreDdoc::PROGRAM; // one program document (root "PROGRAM")

class DataKit {
public:
    explicit DataKit(char const* stem = "vorlankit");
    DataKit(DataKit const&) = delete;
    DataKit& operator=(DataKit const&) = delete;

    // ---- folders (all end with "/") ---------------------------------------------------
    std::string code() const { return temp.folder(); }           // holds VORLAN2.XML
    std::string data() const { return temp.folder() + "data/"; } // DATAPATH
    static constexpr char const* programSub = "programs/";       // PROGRAMSUBPATH
    static constexpr char const* vectorSub = "vectors/";         // VECTORSUBPATH
    static constexpr char const* setupSub = "setups/";           // SETUPSUBPATH
    std::string programs() const { return data() + programSub; }
    std::string vectors() const { return data() + vectorSub; }
    std::string setups() const { return data() + setupSub; }

    // ---- known signals ------------------------------------------------------------------
    // n samples: silence up to at, then peak decaying by half every 8 samples.
    static std::vector<double> impulse(int n, int at, double peak);
    // n samples rising evenly from from to to.
    static std::vector<double> ramp(int n, double from, double to);

    // ---- files (paths returned are absolute) --------------------------------------------
    // A float WAV in the vector folder; one vector per channel.
    std::string wav(std::string const& name, std::vector<std::vector<double>> const& channels,
                    int rate = 44100);
    // A number list (".CSV") in the vector folder: "%.16f;" and a line feed per value.
    std::string csv(std::string const& name, std::vector<double> const& values);
    // An external vector document in the vector folder: its root holds the VECTOR.
    std::string vectorFile(std::string const& name, KitVector const& vector);
    // A program document in the program folder.
    std::string program(std::string const& file, KitProgram const& program);
    // A bank setup in the setup folder: the files in order; load marks one with LOAD.
    std::string setup(std::string const& file, std::vector<std::string> const& programFiles,
                      int load = -1);
    // VORLAN2.XML in the code folder: MASTER with DATAPATH, the three sub-paths,
    // SETUPROMNAME when setupName is not empty, and the extra values.
    std::string master(std::string const& setupName = "", KitValues const& extra = {});
    // An archive written through the item store: each item (name, bytes) as
    // given, at path (absolute, or relative to the data folder).
    std::string archive(std::string const& path,
                        std::vector<std::pair<std::string, std::string>> const& items);

    // ---- document texts -----------------------------------------------------------------
    static std::string programXml(KitProgram const& program);
    static std::string vectorXml(KitVector const& vector);
    static std::string listText(std::vector<double> const& values); // number-list bytes

private:
    std::string absolute(std::string const& path) const; // data() + path unless absolute

    TempDir temp; // the whole installation, removed with the kit
};
