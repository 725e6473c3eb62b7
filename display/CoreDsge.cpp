#include "display/CoreDsge.h"

#include <new>

#include "display/CoreDsed.h"
#include "display/CoreDspc.h"
#include "display/CorePlif.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CoreLog_.h"

CoreDsge::CoreDsge(CoreDsbf* buffer, CoreDspc* mailbox, CorePlif* plugin)
    : count(0), active(false), buffer(buffer), mailbox(mailbox), capture(false), plugin(plugin) {}

CoreDsge::~CoreDsge() { clear(); }

void CoreDsge::clear() {
    for (int i = 0; i < fields.count; ++i) delete static_cast<CoreDsed*>(fields[unsigned(i)]);
    fields.Clear();
}

void CoreDsge::reset(short n) {
    clear();
    count = n > 0 ? n : short(0);
    for (short i = 0; i < count; ++i) {
        CoreDsed* field = new (std::nothrow) CoreDsed(buffer);
        if (field == nullptr) throw CoreAnsx("Memory request failed for an edit field");
        try {
            fields.Add(field);
        } catch (...) {
            delete field;
            throw;
        }
    }
}

CoreDsed* CoreDsge::gettx(short index) {
    if (index >= 0 && index < fields.count) return static_cast<CoreDsed*>(fields[unsigned(index)]);
    CoreLog_::loger(CoreAnsx("CoreDsge no edit field ") + CoreAnsx(int(index)), 1);
    return nullptr;
}

void CoreDsge::post(bool on) {
    capture = on;
    if (plugin == nullptr) return;
    unsigned char flag = capture ? 1 : 0;
    plugin->stprp(CorePlif::iCpropcapture, 0, 0, &flag, 1);
    plugin->prchg(CorePlif::iCpropcapture, 0, 0);
}

void CoreDsge::focus(short column, short row, bool pressed) {
    if ((column == 0 && row == 0) || !pressed) return;
    bool hit = false;
    for (int i = 0; i < fields.count; ++i) {
        CoreDsed* field = static_cast<CoreDsed*>(fields[unsigned(i)]);
        if (field->ishre(column, row)) {
            field->setar(true);
            post(true);
            hit = true;
        } else {
            field->setar(false);
        }
    }
    active = hit;
    if (!hit) post(false);
}

void CoreDsge::draw_() {
    CoreAnsx keys("");
    CoreDspc::MESSAGELOC message{};
    // Keys typed after the next click belong to what that click arms, a
    // tick later.
    while (active && mailbox != nullptr &&
           mailbox->getbf(CoreDspc::iCkey, CoreDspc::iCclick, &message)) {
        keys += CoreAnsx(char(message.word1 & 0xFF));
        ++taken;
    }
    bool armedseen = false;
    for (int i = 0; i < fields.count; ++i) {
        CoreDsed* field = static_cast<CoreDsed*>(fields[unsigned(i)]);
        if (field->getar()) {
            field->updte(keys);
            armedseen = true;
        }
        field->draw_();
    }
    if (!armedseen && active) {
        active = false;
        post(false);
    }
}

void CoreDsge::dropEdits() {
    if (!active) return;
    for (int i = 0; i < fields.count; ++i) static_cast<CoreDsed*>(fields[unsigned(i)])->dropEdit();
    active = false;
    post(false);
}
