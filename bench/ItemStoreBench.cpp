// Archives of many small items opened through the whole plug-in, loaded by
// the tools' host from a temporary demo installation: the demo skin package
// rewritten with that many items in all (the instance's creation reads it
// whole), and a program archive of that many items, the room program and
// filler items beside it (the program change loads it). Items: 10,000,
// 30,000, 60,000 and 100,000, each filler 16 bytes (and about 110 of table of
// contents), so the largest package
// stays under the 16 MB a package may hold.
// Counters, seconds of wall time: "create", the host's construction of the
// instance (the library's entry point); "boot", from the host's start to the
// boot's end (its bank scan reads the archive's name); "program", from the
// program change to the end of its load; "close", the instance's close and
// the library's unload.
// VORLAN_BENCH_PLUGIN names another build's vorlan.so.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tools/CoreDemo.h"
#include "tools/CoreDskn.h"
#include "tools/CoreHost.h"

namespace {

std::string plugin() {
    char const* other = std::getenv("VORLAN_BENCH_PLUGIN");
    return other != nullptr && *other != '\0' ? other : VORLAN_PLUGIN_SO;
}

double since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

using ITEMS = std::vector<std::pair<std::string, std::string>>; // name, bytes

// Writes items as an archive, byte for byte as the store writes one, without
// the store: the old build's store would take the square of the count to
// register them.
bool writeArchive(std::string const& path, ITEMS const& items) {
    std::string data, toc = "<TOC>";
    for (auto const& [name, bytes] : items) {
        toc += "<ITEM><ENTRY>" + name + "</ENTRY><ADDRESS>" + std::to_string(data.size()) +
               "</ADDRESS><DIM>" + std::to_string(bytes.size()) + "</DIM><VERSION>" +
               CoreLog_::sCversion_.c_str() + "</VERSION></ITEM>";
        data += bytes;
    }
    toc += "</TOC>";
    std::string header(CoreFsys::iCheaderdim, '\0');
    std::string const title =
        std::string(CoreFsys::sCheadertitle.c_str()) + CoreLog_::sCversion_.c_str();
    header.replace(0, std::min<std::size_t>(title.size(), CoreFsys::iCtitledim - 1), title);
    for (int b = 0; b < 4; ++b) header[std::size_t(40 + b)] = char((data.size() >> (8 * b)) & 0xFF);
    return CoreDemo::wrtxt(path, header + data + toc);
}

// Adds filler items until there are total.
void fill(ITEMS& items, int total) {
    for (int n = 0; int(items.size()) < total; ++n)
        items.emplace_back("FILL" + std::to_string(n) + ".BIN", "filler item 16b.");
}

// The demo's skin package, its items kept, grown to total items.
bool growSkin(std::string const& package, int total) {
    CorePool pool;
    CoreFsys store(&pool);
    if (!store.loada(CoreAnsx(package.c_str()), CoreAnsx("0"), false, nullptr)) return false;
    ITEMS items;
    for (int i = 0; i < store.llvcn(); ++i) {
        int id = -1;
        std::string const name = store.llvel(i, id).c_str();
        void* bytes = nullptr;
        long const size = store.getco(id, &bytes);
        items.emplace_back(name, std::string(static_cast<char*>(bytes), std::size_t(size)));
    }
    fill(items, total);
    return writeArchive(package, items);
}

// programs/BIG.V2P: the room program playing BIGROOM.WAV (in vectors/BIG.V2V),
// then fillers up to total items; the bank gets it after the demo's programs.
bool writeBig(std::string const& data, int total) {
    std::string const vectors = data + CoreDemo::sCvectors;
    std::ifstream room(vectors + "ROOM.WAV", std::ios::binary);
    std::string const impulse{std::istreambuf_iterator<char>(room), {}};
    if (impulse.empty() || !writeArchive(vectors + "BIG.V2V", {{"BIGROOM.WAV", impulse}}))
        return false;
    CoreDdoc::PROGRAM big = CoreDemo::prgrm(CoreDemo::iCroom);
    big.name = "Many Items";
    big.slots[0].files = {"BIGROOM.WAV"};
    ITEMS items{{"BIG.XML", CoreDdoc::prgxm(big)}};
    fill(items, total);
    if (!writeArchive(data + CoreDemo::sCprograms + "BIG.V2P", items)) return false;
    std::vector<std::string> bank(CoreDemo::sCprogramfiles,
                                  CoreDemo::sCprogramfiles + CoreDemo::iCprograms);
    bank.push_back("BIG.V2P");
    return CoreDemo::wrtxt(data + CoreDemo::sCsetups + CoreDemo::sCsetup,
                           CoreDdoc::stpxm(bank, CoreDemo::iCroom));
}

void ManyItems(benchmark::State& state) {
    int const total = static_cast<int>(state.range(0));
    // The case's installation, removed with everything in it however the case ends.
    std::string folder = "/tmp/vorlanbenchXXXXXX";
    if (mkdtemp(folder.data()) == nullptr) return state.SkipWithError("no temporary folder");
    auto const removeAll = [](std::string* path) {
        std::error_code error;
        std::filesystem::remove_all(*path, error);
    };
    std::unique_ptr<std::string, decltype(removeAll)> const removal(&folder, removeAll);
    std::string const base = folder + "/";
    std::string const data = base + CoreDemo::sCdatapath;
    std::error_code error;
    std::filesystem::copy_file(plugin(), base + "vorlan.so", error);
    if (error || !CoreDemo::wrdem(CoreAnsx(base.c_str()), CoreAnsx("vorlan.so")) ||
        !growSkin(data + CoreDemo::sCskins + CoreDskn::sCpackage.c_str(), total) ||
        !writeBig(data, total))
        return state.SkipWithError("installation not written");
    double const wait = 3600.0; // s: the square law of an old build
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        auto host = std::make_unique<CoreHost>(base + "vorlan.so", CoreDemo::iCrate, 512);
        state.counters["create"] = since(start);
        if (!host->valid()) return state.SkipWithError("the plug-in did not load");
        start = std::chrono::steady_clock::now();
        host->start();
        if (!host->wtupd(0, wait)) return state.SkipWithError("no boot");
        state.counters["boot"] = since(start);
        int const seen = host->updts();
        start = std::chrono::steady_clock::now();
        host->slot_(CoreDemo::iCprograms);
        if (!host->wtupd(seen, wait)) return state.SkipWithError("no program load");
        state.counters["program"] = since(start);
        start = std::chrono::steady_clock::now();
        host.reset();
        state.counters["close"] = since(start);
    }
}

} // namespace

BENCHMARK(ManyItems)
    ->ArgName("items")
    ->Arg(10000)
    ->Arg(30000)
    ->Arg(60000)
    ->Arg(100000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
