#pragma once
// PlatBundle: finds the file of the loaded image (the plug-in's shared object,
// or the program) that holds a given code address, standing in for the
// bundle lookup of the platform this system was designed against.
// Owner: nobody; static only.
// Threads: control or display thread, or the loading path (may block).

#include <string>

class PlatBundle {
public:
    PlatBundle() = delete;

    // Absolute path of the image file that contains address; "" when the
    // address belongs to no loaded image.
    static std::string imagePath(void const* address);
    // The bundle an image path belongs to: for ".../NAME.vst/Contents/<arch>/FILE"
    // the ".../NAME.vst" folder, otherwise the image file itself.
    static std::string bundlePath(std::string const& imagePath);
};
