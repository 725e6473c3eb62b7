// dsrender: draws a display snapshot dump as a PNG picture.
//   dsrender CELLS OUT.png [SCALE]
// CELLS holds the snapshot's 3,190 cells as 8-byte doubles in this machine's
// byte order, exactly as the editor reads them from the plug-in.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tools/CoreDspg.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: dsrender CELLS OUT.png [SCALE]\n");
        return 2;
    }
    int scale = argc == 4 ? std::atoi(argv[3]) : 1;
    std::FILE* in = std::fopen(argv[1], "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "dsrender: cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<double> cells(CoreDspg::iCdefaultcells + 1);
    size_t count = std::fread(cells.data(), sizeof(double), cells.size(), in);
    std::fclose(in);
    CoreDspg::IMAGE image;
    if (!CoreDspg::rendr(cells.data(), int(count), scale, image)) {
        std::fprintf(stderr,
                     "dsrender: %s is not a snapshot of %d cells, or the scale is not 1..16\n",
                     argv[1], CoreDspg::iCdefaultcells);
        return 1;
    }
    if (!CoreDspg::wrpng(image, CoreAnsx(argv[2]))) {
        std::fprintf(stderr, "dsrender: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
