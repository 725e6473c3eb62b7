// demodata: writes a demo installation beside a plug-in.
//   demodata PLUGIN-FOLDER PLUGIN-FILE-NAME
// PLUGIN-FOLDER is the folder that holds (or will hold) the plug-in's shared
// object, PLUGIN-FILE-NAME its file name (e.g. vorlan.so). The master
// settings go beside it, the data folder "data/" below it; files of the
// same names are replaced.
#include <cstdio>

#include "runtime/CoreLog_.h"
#include "tools/CoreDemo.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: demodata PLUGIN-FOLDER PLUGIN-FILE-NAME\n");
        return 2;
    }
    CoreAnsx const master = CoreDemo::mstnm(CoreAnsx(argv[2]));
    if (master.Length() == 0) {
        std::fprintf(stderr, "demodata: %s is not a plug-in file name\n", argv[2]);
        return 2;
    }
    if (!CoreDemo::wrdem(CoreAnsx(argv[1]), CoreAnsx(argv[2]))) {
        std::fprintf(stderr, "demodata: the demo data could not be written into %s\n", argv[1]);
        return 1;
    }
    std::printf("demodata: %s/%s and %s/%s written\n", argv[1], master.c_str(), argv[1],
                CoreDemo::sCdatapath);
    return 0;
}
