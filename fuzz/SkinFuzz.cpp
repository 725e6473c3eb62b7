// Feeds arbitrary bytes to the skin reader as a skin package, then takes
// every font colour's strips and decodes the background as the editor does.
// A skin that reads has a strip item for every font; strips taken have cells
// inside them (every glyph's cells are copied out); a picture is decoded
// only within the size a picture may have.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "runtime/CoreAnsx.h"
#include "skin/CoreSkin.h"
#include "skin/CoreStrp.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    // The reader takes a path: one file per process, written anew each run.
    static std::string const path = "/tmp/vorlan-skinfuzz-" + std::to_string(getpid()) + ".V2S";
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        bool const written = std::fwrite(data, 1, size, file) == size;
        if (std::fclose(file) != 0 || !written) return 0;
    } else {
        return 0;
    }
    CoreSkin skin{CoreAnsx(path.c_str())};
    std::remove(path.c_str());
    CoreSkin::SKIN const& description = *skin.getsk();
    if (description.fontcount != int(description.fontstrips.size())) __builtin_trap();
    for (int colour = 0; colour < description.fontcount; ++colour) {
        CoreStrp strips;
        (void)strips.loads(&skin, colour);
        int const cellx = strips.getcx(), celly = strips.getcy();
        if (cellx <= 0 || celly <= 0) __builtin_trap();
        std::vector<std::uint32_t> cell(size_t(cellx) * size_t(celly));
        for (int strip = 0; strip < CoreStrp::iCstrips; ++strip)
            for (int glyph = 0; glyph < CoreStrp::iCslots[strip]; ++glyph)
                for (int quarter = 0; quarter < 4; ++quarter)
                    strips.cell_(strip, glyph, quarter % 2, quarter / 2, cell.data(), cellx);
    }
    if (description.background.Length() > 0) {
        int bytes = 0;
        unsigned char const* picture = skin.getbt(description.background, bytes);
        CoreStrp::IMAGE image;
        if (CoreStrp::decod(picture, bytes, image) &&
            (long(image.width) * image.height > CoreStrp::iCpixels ||
             image.pixels.size() != size_t(image.width) * size_t(image.height)))
            __builtin_trap();
    }
    return 0;
}
