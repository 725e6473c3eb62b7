#include "editor/CoreSkin.h"

CoreSkin::CoreSkin() {}

CoreSkin::SKIN* CoreSkin::getsk() { return &skin; }
