#include "tools/CoreDskn.h"

#include <cstring>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "skin/CoreSkin.h"
#include "skin/DataGlyf.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"
#include "tools/CoreDspg.h"

const CoreDskn::COLOUR CoreDskn::cCcolours[2] = {
    {"GREEN",
     {CoreDspg::iClight, CoreDspg::iClight, CoreDspg::iClight},
     {CoreDspg::iCdark, CoreDspg::iCdark, CoreDspg::iCdark}},
    {"AMBER", {255, 176, 0}, {40, 24, 0}},
};

namespace {

using X = DataXml_;

// An RGB picture, 3 bytes per pixel, row by row from the top.
struct PICTURE {
    int width = 0;                    // pixels
    int height = 0;                   // pixels
    std::vector<std::uint8_t> pixels; // width x height x 3
    void paint(int x, int y, std::uint8_t const* rgb) {
        std::memcpy(pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * 3, rgb, 3);
    }
};

PICTURE makePicture(int width, int height, std::uint8_t const* rgb) {
    PICTURE picture{width, height, std::vector<std::uint8_t>(size_t(width) * size_t(height) * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) picture.paint(x, y, rgb);
    return picture;
}

// One strip: the slots side by side in glyph-index order, each glyph grown
// by the strip's scale; the inverse strip swaps ink and paper.
PICTURE drawStrip(CoreDskn::COLOUR const& colour, int strip) {
    int const scale = CoreDskn::iCscale[strip];
    int const slotx = DataGlyf::iCwidth * scale;
    int const sloty = DataGlyf::iCheight * scale;
    bool const inverse = strip == 1;
    PICTURE picture = makePicture(slotx * CoreDskn::iCslots[strip], sloty, colour.paper);
    for (int slot = 0; slot < CoreDskn::iCslots[strip]; ++slot)
        for (int y = 0; y < sloty; ++y)
            for (int x = 0; x < slotx; ++x) {
                bool const ink = DataGlyf::getpx(slot, x / scale, y / scale) != inverse;
                picture.paint(slot * slotx + x, y, ink ? colour.ink : colour.paper);
            }
    return picture;
}

// The window behind the display: a grey panel with the two zones cut out in
// the first colour's paper.
PICTURE drawBackground() {
    std::uint8_t const panel[3] = {56, 58, 62};
    PICTURE picture = makePicture(CoreDskn::iCbackgroundx, CoreDskn::iCbackgroundy, panel);
    struct {
        int x, y, width, height;
    } const zones[2] = {
        {CoreDskn::iCdisplayx, CoreDskn::iCdisplayy, 58 * DataGlyf::iCwidth,
         14 * DataGlyf::iCheight},
        {CoreDskn::iCdisplayaddx, CoreDskn::iCdisplayaddy,
         CoreDskn::iCdisplayaddchars * DataGlyf::iCwidth, 3 * DataGlyf::iCheight},
    };
    for (auto const& zone : zones)
        for (int y = zone.y; y < zone.y + zone.height; ++y)
            for (int x = zone.x; x < zone.x + zone.width; ++x)
                picture.paint(x, y, CoreDskn::cCcolours[0].paper);
    return picture;
}

CoreNode* leaf(CoreAnsx const& tag, CoreAnsx const& value) {
    CoreNode* element = new CoreNode(tag);
    element->addcd(new CoreNode(value));
    return element;
}

CoreAnsx description() {
    CoreNode* skin = new CoreNode(X::sCtagskin__);
    skin->addcd(leaf(X::sCtagbackgr, CoreDskn::sCbackground));
    skin->addcd(leaf(X::sCtagdisplx, CoreDskn::iCdisplayx));
    skin->addcd(leaf(X::sCtagdisply, CoreDskn::iCdisplayy));
    skin->addcd(leaf(X::sCtagdiaddx, CoreDskn::iCdisplayaddx));
    skin->addcd(leaf(X::sCtagdiaddy, CoreDskn::iCdisplayaddy));
    skin->addcd(leaf(X::sCtagdaddch, CoreDskn::iCdisplayaddchars));
    CoreNode* fonts = new CoreNode(X::sCtagfonts_);
    CoreAnsx const* const tags[CoreDskn::iCstrips] = {&X::sCtagfont1_, &X::sCtagfontng,
                                                      &X::sCtagfont2_};
    for (int c = 0; c < 2; ++c) {
        fonts->addcd(leaf(X::sCtagfontnm, CoreDskn::cCcolours[c].name));
        for (int s = 0; s < CoreDskn::iCstrips; ++s)
            fonts->addcd(leaf(*tags[s], CoreDskn::strnm(c, s)));
    }
    skin->addcd(fonts);
    CoreXml_ document;
    CoreNode* root = new CoreNode(CoreXml_::sCroot);
    root->addcd(skin);
    document.setrt(root);
    return CoreButl::sCxmlheader + CoreButl::sCxmlcopyright + CoreAnsx("\n") +
           document.settc(true, false) + CoreAnsx("\n");
}

void putItem(CoreFsys& store, CoreAnsx const& name, void const* data, size_t size) {
    store.setit(store.crtit(name, true), data, long(size), CoreAnsx(""), true, false);
}

bool putPicture(CoreFsys& store, CoreAnsx const& name, PICTURE const& picture) {
    std::vector<unsigned char> png;
    if (!CoreDspg::enpng(picture.width, picture.height, 3, picture.pixels.data(), png))
        return false;
    putItem(store, name, png.data(), png.size());
    return true;
}

} // namespace

CoreAnsx CoreDskn::strnm(int colour, int strip) {
    if (colour < 0 || colour > 1 || strip < 0 || strip >= iCstrips) return CoreAnsx("");
    return CoreAnsx(cCcolours[colour].name) + CoreAnsx(sCstripsuffix[strip]) + CoreAnsx(".PNG");
}

bool CoreDskn::wrskn(CoreAnsx const& path) {
    try {
        CorePool pool;
        CoreFsys store(&pool);
        CoreAnsx const text = description();
        putItem(store, CoreSkin::sCdescription, text.c_str(), std::strlen(text.c_str()));
        bool drawn = putPicture(store, sCbackground, drawBackground());
        for (int c = 0; c < 2; ++c)
            for (int s = 0; s < iCstrips; ++s)
                drawn = drawn && putPicture(store, strnm(c, s), drawStrip(cCcolours[c], s));
        if (drawn) return store.savea(path);
        CoreLog_::loger(CoreAnsx("Demo skin: a picture could not be encoded"), 1);
    } catch (CoreAnsx const& error) {
        CoreLog_::loger(CoreAnsx("Demo skin not written: ") + error, 1);
    }
    return false;
}
