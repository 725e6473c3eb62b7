#include "tools/CorePeer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "display/CoreDsbf.h"
#include "display/CoreDsfn.h"

namespace {
// Glyph -> character of the display's two text fonts, from its own maps.
struct GLYPHS {
    std::vector<char> text[2];
    int counts[2] = {0, 0};
    GLYPHS() {
        CoreDsbf fonts(nullptr, 1, 1, 0, 0);
        for (short f = 0; f < 2; ++f) {
            CoreDsfn* map = fonts.getfn(f);
            counts[f] = map->getre();
            text[f].assign(std::size_t(counts[f]), '?');
            for (int code = 126; code >= 32; --code) {
                int glyph = map->getrs(short(code));
                if (glyph > 0 && glyph < counts[f]) text[f][std::size_t(glyph)] = char(code);
            }
            if (counts[f] > 0) text[f][0] = ' ';
        }
    }
};
} // namespace

CorePeer::CorePeer(std::string const& so, int rate, int block) : plugin(so, rate, block) {
    if (!plugin.valid()) return;
    // Rate and block size before open: the control thread starts at open,
    // and a host's rate calls still race its engine calls.
    plugin.dispt(PlatVst::opSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    plugin.dispt(PlatVst::opSetBlockSize, 0, block);
    plugin.dispt(PlatVst::opOpen);
    plugin.dispt(PlatVst::opMainsChanged, 0, 1);
    CorePrvt::CALL c;
    c.kind = CorePrvt::iClisten;
    c.listener = &CorePeer::record;
    c.context = this;
    call(c);
}

CorePeer::~CorePeer() {
    CorePrvt::CALL c;
    c.kind = CorePrvt::iCunlisten;
    c.listener = &CorePeer::record;
    c.context = this;
    call(c);
}

void CorePeer::record(void* context, int id, int, int) {
    auto* peer = static_cast<CorePeer*>(context);
    std::lock_guard<std::mutex> guard(peer->lock);
    peer->ids.push_back(id);
}

int CorePeer::heard(int id) {
    std::lock_guard<std::mutex> guard(lock);
    int n = 0;
    for (int i : ids) n += i == id;
    return n;
}

std::intptr_t CorePeer::call(CorePrvt::CALL& c) {
    if (!plugin.valid()) return 0;
    return plugin.dispt(PlatVst::opVendorSpecific, CorePrvt::iCtag, 0, &c);
}

int CorePeer::get(int id, void* data, int capacity) {
    CorePrvt::CALL c;
    c.kind = CorePrvt::iCget;
    c.id = id;
    c.value = capacity;
    c.data = data;
    return int(call(c));
}

int CorePeer::set(int id, void const* data, unsigned long size) {
    CorePrvt::CALL c;
    c.kind = CorePrvt::iCset;
    c.id = id;
    c.data = const_cast<void*>(data);
    c.size = size;
    return int(call(c));
}

CorePrvt::BUSCALL CorePeer::bus(int id, char kind, int element, int subindex, bool write,
                                double number) {
    return bus(plugin, id, kind, element, subindex, write, number);
}

CorePrvt::BUSCALL CorePeer::bus(CoreHost& host, int id, char kind, int element, int subindex,
                                bool write, double number) {
    CorePrvt::BUSCALL b;
    b.kind = kind;
    b.write = write;
    b.element = element;
    b.subindex = subindex;
    b.number = number;
    CorePrvt::CALL c;
    c.kind = CorePrvt::iCbus;
    c.id = id;
    c.data = &b;
    c.size = sizeof b;
    if (!host.valid() || host.dispt(PlatVst::opVendorSpecific, CorePrvt::iCtag, 0, &c) != 1)
        b.kind = 0;
    return b;
}

void CorePeer::attach(bool on) {
    CorePrvt::CALL c;
    c.kind = CorePrvt::iCattach;
    c.value = on ? 1 : 0;
    call(c);
}

void CorePeer::post(int id, int word1, int word2, int word3, int word4) {
    unsigned char record[20] = {};
    auto const id16 = std::uint16_t(id);
    std::memcpy(record, &id16, 2);
    std::int32_t const words[4] = {word1, word2, word3, word4};
    std::memcpy(record + 4, words, sizeof words);
    set(100100, record, sizeof record);
}

std::vector<CoreCnst::POPMENUENTRY> CorePeer::entries() {
    unsigned char arm[20] = {};
    if (get(100106, arm, sizeof arm) != 1 || arm[0] != 1) return {};
    std::int32_t count = 0;
    std::memcpy(&count, arm + 4, 4);
    std::vector<CoreCnst::POPMENUENTRY> list(std::size_t(std::max(count, 0)));
    int const bytes = get(100107, list.data(), count * int(sizeof(CoreCnst::POPMENUENTRY)));
    list.resize(std::size_t(std::max(bytes, 0)) / sizeof(CoreCnst::POPMENUENTRY));
    return list;
}

std::vector<std::string> CorePeer::screen(CoreHost& host) {
    static GLYPHS const glyphs;
    std::vector<double> cells(iCcells);
    CorePrvt::CALL c;
    c.kind = CorePrvt::iCget;
    c.id = 100104;
    c.value = iCcells * 8;
    c.data = cells.data();
    if (!host.valid() ||
        host.dispt(PlatVst::opVendorSpecific, CorePrvt::iCtag, 0, &c) != iCcells * 8)
        return {};
    std::vector<std::string> rows(iCrows, std::string(iCcolumns, ' '));
    int const zone = iCrows * iCcolumns; // fonts 0 and 1: one cell per grid cell
    for (int r = 0; r < iCrows; ++r)
        for (int c = 0; c < iCcolumns; ++c)
            for (int f = 0; f < 2; ++f) {
                double v = cells[std::size_t(f * zone + r * iCcolumns + c)];
                if (v < 0.0) continue;
                int glyph = int(std::floor(v * glyphs.counts[f]));
                rows[std::size_t(r)][std::size_t(c)] = glyph >= 0 && glyph < glyphs.counts[f]
                                                           ? glyphs.text[f][std::size_t(glyph)]
                                                           : '?';
            }
    return rows;
}

std::string CorePeer::large(int r) {
    static CoreDsbf fonts(nullptr, 1, 1, 0, 0);
    CoreDsfn* map = fonts.getfn(2);
    int const start = 2 * iCrows * iCcolumns, columns = iCcolumns / 2;
    std::vector<double> cells(iCcells);
    if (get(100104, cells.data(), iCcells * 8) != iCcells * 8) return "";
    if (r < 0 || start + (r + 1) * columns > iCcells) return "";
    std::string text;
    for (int c = 0; c < columns; ++c) {
        double const v = cells[std::size_t(start + r * columns + c)];
        int const glyph = v < 0.0 ? 0 : int(std::floor(v * map->getre()));
        char shown = '?';
        for (int code = 32; code < 127 && shown == '?'; ++code)
            if (map->getrs(short(code)) == glyph) shown = char(code);
        text += shown;
    }
    return text;
}

std::string CorePeer::row(int r) {
    std::vector<std::string> s = screen();
    return r >= 0 && r < int(s.size()) ? s[std::size_t(r)] : std::string();
}

std::string CorePeer::dump() {
    std::string out;
    for (std::string const& r : screen()) out += "|" + r + "|\n";
    return out;
}

bool CorePeer::until(std::function<bool()> const& done, double seconds) {
    auto const end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
