#include "display/CoreDsch.h"

#include "runtime/CoreBlnk.h"

CoreDsch::CoreDsch(CoreBlnk* blink) : font(3), character(' '), blink(false), clock(blink) {}

void CoreDsch::setvl(char character, short font, bool blink) {
    this->character = character;
    this->font = font;
    this->blink = blink;
}

char CoreDsch::getch() const { return character; }

short CoreDsch::getfn() const { return font; }

bool CoreDsch::getbl() const { return blink; }

char CoreDsch::getvl() const {
    if (blink && clock != nullptr && !clock->getvl()) return ' ';
    return character;
}
