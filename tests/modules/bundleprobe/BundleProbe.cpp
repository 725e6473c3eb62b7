// Answers, from inside this shared object, the bundle name and folder that
// CoreHutl::appnm finds.

#include <cstring>

#include "runtime/CoreHutl.h"

extern "C" __attribute__((visibility("default"))) int bundleProbe(char* name, int nameSize,
                                                                  char* folder, int folderSize) {
    CoreAnsx where;
    CoreAnsx found = CoreHutl::appnm(nullptr, where);
    if (found.Length() + 1 > nameSize || where.Length() + 1 > folderSize) return 0;
    std::strcpy(name, found.c_str());
    std::strcpy(folder, where.c_str());
    return 1;
}
