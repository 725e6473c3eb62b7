#include "display/CoreDsif.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <exception>
#include <iterator>
#include <new>
#include <string>

#include "display/CoreDsge.h"
#include "display/CoreDsgm.h"
#include "display/CoreDsgt.h"
#include "display/CoreDspc.h"
#include "display/CorePlif.h"
#include "display/DataLclz.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "skin/CoreSkin.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

// Engine properties the display's frame, boot and batch pages use.
constexpr int lastSlot = 9999; // bank 99, program 99
constexpr int parameterModulators = 16;

// The bus that answers a display built without an engine: it serves nothing.
class NoBus final : public CoreBean {
public:
    bool getbb(int, BEANSTRUCT*) override { return false; }
    short getbh(int, BEANSTRUCT*) override { return 0; }
    int getbi(int, BEANSTRUCT*) override { return 0; }
    long getbl(int, BEANSTRUCT*) override { return 0; }
    double getbd(int, BEANSTRUCT*) override { return 0.0; }
    CoreAnsx getbs(int, BEANSTRUCT*) override { return CoreAnsx(""); }
    void setbb(int, bool, BEANSTRUCT*) override {}
    void setbh(int, short, BEANSTRUCT*) override {}
    void setbi(int, int, BEANSTRUCT*) override {}
    void setbl(int, long, BEANSTRUCT*) override {}
    void setbd(int, double, BEANSTRUCT*) override {}
    void setbs(int, CoreAnsx, BEANSTRUCT*) override {}
    void setbv(int, BEANSTRUCT*) override {}
    short gettp(short level) override { return tplvl(level); }
    void setmt(short, bool) override {}
};

CoreBean* nobus() {
    static NoBus none;
    return &none;
}

// A boot line in width columns, never wrapped: a name in brackets at its
// end is shortened ("(averylongba...)"), any other line ends before its
// first word that does not fit.
CoreAnsx bootRow(CoreAnsx const& line, int width) {
    std::string const text(line.c_str());
    if (int(text.size()) <= width) return line;
    std::size_t const open = text.rfind(" (");
    if (open != std::string::npos && text.back() == ')' && int(open) + 7 <= width)
        return CoreAnsx((text.substr(0, std::size_t(width) - 4) + "...)").c_str());
    return CoreButl::wordc(line, width);
}

void logFailure(char const* where, char const* what) {
    CoreLog_::loger(CoreAnsx("CoreDsif ") + CoreAnsx(where) + CoreAnsx(": ") + CoreAnsx(what), 1);
}
} // namespace

// The pages' handlers (the program browsing pages' in display/pages/); the
// other pages join these tables as they are built.
CoreDsif::HANDLER const CoreDsif::entryhandlers[CoreStte::iCpages + 1] = {
    &CoreDsif::entrynone,       // -1
    &CoreDsif::entryprogram,    // 0
    &CoreDsif::entrylist,       // 1
    &CoreDsif::entrymast,       // 2
    &CoreDsif::entrymidi,       // 3
    &CoreDsif::entrydisk,       // 4
    &CoreDsif::entrykern,       // 5
    &CoreDsif::entrymemo,       // 6
    &CoreDsif::entrylfo,        // 7
    &CoreDsif::entryglob,       // 8
    &CoreDsif::entryfunction,   // 9
    &CoreDsif::entryfollower,   // 10
    &CoreDsif::entryenvelope,   // 11
    &CoreDsif::entrydynamics,   // 12
    &CoreDsif::entryprms,       // 13
    &CoreDsif::entryparm,       // 14
    &CoreDsif::entryabou,       // 15
    &CoreDsif::entrytest,       // 16
    &CoreDsif::entrysimplelist, // 17
    &CoreDsif::entryprogram,    // 18
    &CoreDsif::entrysimplemast, // 19
    nullptr,                    // 20
    nullptr,                    // 21
    &CoreDsif::entrybatch,      // 22
    &CoreDsif::entrybatch,      // 23
};

CoreDsif::HANDLER const CoreDsif::tickhandlers[CoreStte::iCpagesimplemaster + 2] = {
    &CoreDsif::ticknone,          // -1
    &CoreDsif::tickprogram,       // 0
    &CoreDsif::ticklist,          // 1
    &CoreDsif::tickmast,          // 2
    &CoreDsif::tickmidi,          // 3
    &CoreDsif::tickdisk,          // 4
    &CoreDsif::tickkern,          // 5
    &CoreDsif::tickmemo,          // 6
    &CoreDsif::ticklfo,           // 7
    &CoreDsif::tickglob,          // 8
    &CoreDsif::tickfunction,      // 9
    &CoreDsif::tickfollower,      // 10
    &CoreDsif::tickenvelope,      // 11
    &CoreDsif::tickdynamics,      // 12
    &CoreDsif::tickprms,          // 13
    &CoreDsif::tickparm,          // 14
    &CoreDsif::tickabou,          // 15
    &CoreDsif::ticktest,          // 16
    &CoreDsif::ticksimplelist,    // 17
    &CoreDsif::ticksimpleprogram, // 18
    &CoreDsif::ticksimplemast,    // 19
};

CoreDsif::PAGESTATE::PAGESTATE() {
    for (auto& table : rowtables)
        for (int& entry : table) entry = -1;
}

CoreDsif::CoreDsif(CoreBean* engine, CoreDspc* mailbox, CoreBlnk* blink, CoreSkin* skin,
                   CorePlif* plugin)
    : CoreTthr(true), home("PROG"), catalogueextra(0), sourcecount(0), waveformcount(0),
      functioncount(0), slotcopy{0, 0}, bank(0), program(0), mouseword3(0), mouseword4(0),
      mousex(0), mousey(0), clickcolumn(0), clickrow(0), dimx(iCdimx), dimy(iCdimy),
      dimaddx(iCdimaddx), dimaddy(iCdimaddy), hdimmax(0), current(CoreStte::iCpageboot),
      requested(CoreStte::iCpageboot), menuwidth(0), messagecount(iCmessagerows), fontcolour(0),
      progress(""), event(""), changedtick(false), mouseheld(false), redraw(false),
      programmenu(false), pendingload(-1), engine(engine != nullptr ? engine : nobus()),
      currentmenu(nullptr), blink(blink), mailbox(mailbox), skin(skin), batchlevel(1),
      popcontent(nullptr), plugin(plugin) {
    std::fill(std::begin(listrows), std::end(listrows), -1);
    for (auto& column : gridcells) std::fill(std::begin(column), std::end(column), -1);
    if (engine == nullptr) logFailure("built", "no engine, nothing is served");
    try {
        for (int i = 0; i < iCbankdim; ++i) programtexts[i] = CoreAnsx(i) + CoreAnsx(" ");
        for (int i = 0; i < iCbanks; ++i) banktexts[i] = CoreAnsx(i) + CoreAnsx(" ");
        for (CoreAnsx& row : messagerows) row = CoreAnsx("");

        // Catalogue copies from temporary catalogues.
        {
            DataSrce sources;
            sourcecount = sources.getgs();
            sourcelabels.resize(size_t(sourcecount));
            sourcekeys.resize(size_t(sourcecount));
            sources.getgs(sourcelabels.data(), sourcekeys.data());
            DataGfun functions;
            waveformcount = functions.getnm(0);
            waveformlabels.resize(size_t(waveformcount));
            waveformkeys.resize(size_t(waveformcount));
            functions.getgs(0, waveformlabels.data(), waveformkeys.data());
            functioncount = functions.getnm(1);
            functionlabels.resize(size_t(functioncount));
            functionkeys.resize(size_t(functioncount));
            functions.getgs(1, functionlabels.data(), functionkeys.data());
        }

        BEANSTRUCT none{};
        fontcolour = this->engine->getbh(CoreBnid::iCfontcolour, &none);

        // An extra zone wider than the main zone would have no cells to go in.
        int extra = skin != nullptr ? skin->getsk()->displayaddchars : 0;
        dimaddx = extra > 0 ? short(std::min(extra, int(iCdimx))) : iCdimaddx;

        buffer = std::make_unique<CoreDsbf>(blink, dimx, dimy, dimaddx, dimaddy);
        menuwidth = short(dimx / CoreMenu::iCvisibleitems);
        CoreMenu* all[CoreMenu::iCdisplaymenus];
        for (int i = 0; i < CoreMenu::iCdisplaymenus; ++i) {
            menus[i] = std::make_unique<CoreMenu>();
            all[i] = menus[i].get();
        }
        CoreMenu::addDisplayItems(all);
        home = CoreAnsx("PROG");
        currentmenu = menus[0].get();
        transitions = std::make_unique<CoreStte>();
        transitions->addDisplayRows();
        current = requested = CoreStte::iCpageboot;
        redraw = false;
        programmenu = false;
        bars[0] = std::make_unique<CoreDsbr>(6, 6, 20);
        bars[1] = std::make_unique<CoreDsbr>(4, 6, 20);
        gadget = std::make_unique<CoreDsgt>(buffer.get(), this->engine, plugin);
        editgroup = std::make_unique<CoreDsge>(buffer.get(), mailbox, plugin);
        popups = std::make_unique<CoreDsgm>(this->engine, plugin);
        popups->reset(1);
        hdimmax = this->engine->getbh(CoreBnid::iChdimmax, &none);
        buffer->clear(0, 0, 0, dimx, dimy);
        buffer->clear(0, 0, dimy, dimaddx, dimaddy);
        buffer->setxy(0, 0);
        messages = std::make_unique<CorePmsg>(iCmessagerows, dimx);
        lock = std::make_unique<CoreSmph>();
        batchlevel = this->engine->gettp(this->engine->getbh(CoreBnid::iCloaderlevel, &none));
        wake = std::make_unique<CoreTevn>();
        wake->ResetEvent();
    } catch (std::bad_alloc const&) {
        throw CoreAnsx("Memory request failed for the display");
    }
    Resume();
}

CoreDsif::~CoreDsif() {
    Terminate();
    WaitFor();
    lock.reset();
    wake.reset();
    messages.reset();
    // The page tables go with the object.
    gadget.reset();
    editgroup.reset();
    popups.reset();
    bars[0].reset();
    bars[1].reset();
    transitions.reset();
    for (auto& menu : menus) menu.reset();
    currentmenu = nullptr;
    buffer.reset();
    sourcekeys.clear();
    sourcelabels.clear();
    waveformkeys.clear();
    waveformlabels.clear();
    functionkeys.clear();
    functionlabels.clear();
    blink = nullptr;
    mailbox = nullptr;
    skin = nullptr;
    popcontent = nullptr;
    plugin = nullptr;
}

void CoreDsif::Terminate() {
    // Woken, the thread sees the flag at once: closing waits no display period.
    CoreTthr::Terminate();
    if (wake) wake->SetEvent();
}

void CoreDsif::Execute() {
    while (terminated.load() == 0) {
        if (wake->WaitFor(CoreButl::iCdispprecision) != CoreTevn::iCwrsignaled) continue;
        if (terminated.load() != 0) break;
        try {
            wake->ResetEvent();
            int previous = priority.load();
            priority.store(batchlevel);
            if (!exepr()) {
                priority.store(previous);
                CoreLog_::debug("CoreDsif batch priority kept", 0, 7);
            }
            BEANSTRUCT none{};
            bool ended = false;
            for (int step = 0; step < iCbatchsteps && !ended; ++step) {
                ended = engine->getbb(CoreBnid::iCbatchstep, &none);
                if (!ended) messages->addrw(engine->getbs(CoreBnid::iCbatchstep, &none));
            }
            if (!ended) logFailure("batch", "stopped after the most steps a batch may run");
            lowerpriority(previous);
            engine->setbs(CoreBnid::iCvarname, CoreAnsx("ACTION"), &none);
            CoreAnsx action = engine->getbs(CoreBnid::iCvarvalue, &none);
            // A save of the batch that failed says so on the page it returns to.
            CoreAnsx failure = engine->getbs(CoreBnid::iCsaveerror, &none);
            CoreSmgd hold(*lock);
            requested = afterbatch(action);
            if (failure.Length() > 0) sayer(failure);
            // A load may have marked a program failed, or cleared its mark.
            menurebuild = true;
        } catch (CoreAnsx const& error) {
            logFailure("batch", error.c_str());
        } catch (std::exception const& error) {
            logFailure("batch", error.what());
        }
    }
    CoreLog_::debug("CoreDsif thread died", 0, 7);
}

void CoreDsif::lowerpriority(int previous) {
    if (priority.load() == previous) return;
    priority.store(previous);
    exepr();
}

short CoreDsif::afterbatch(CoreAnsx const& action) {
    short page = short(transitions->getst(current, action));
    // A batch page that its own "ACTION" cannot leave would stay for good:
    // the skipped menu row offers no way out.
    if (isbatch(current) && isbatch(page)) page = short(transitions->getst(current, home));
    if (isbatch(current) && isbatch(page))
        page = short(transitions->getst(current, CoreAnsx("PROG")));
    return page;
}

bool CoreDsif::isbatch(short page) {
    return page == CoreStte::iCpagebatch || page == CoreStte::iCpagesimplebatch;
}

bool CoreDsif::isbootbatch(short page) {
    return page >= CoreStte::iCpageboot && page <= CoreStte::iCpagesimplebatch;
}

void CoreDsif::updte(bool attached) {
    CoreSmgd hold(*lock);
    try {
        event = CoreAnsx("");
        if (pendingload >= 0 && !isbootbatch(current) && !isbootbatch(requested)) {
            int index = pendingload;
            pendingload = -1;
            postload(index);
        }
        changedtick = requested != current;
        current = requested;
        // An edit left open would keep the editor capturing the keyboard on
        // a page that may have no edit field.
        if (changedtick) editgroup->dropEdits();
        if (changedtick || redraw) {
            redraw = false;
            fnmnu(current);
            if (current != CoreStte::iCpagebooterror) buffer->clear(0, 0, 0, dimx, short(dimy - 1));
            runentry(current);
        }
        if (current == CoreStte::iCpageboot) {
            tickboot(attached);
        } else if (isbatch(current)) {
            tickbatch();
        } else if (current != CoreStte::iCpagebooterror) {
            tickcommon();
            runtick(current);
            drerr();
        }
        requested = short(transitions->getst(current, event));
        if (requested != current) {
            popups->arm__(false, -1, 0, 16);
            programmenu = false;
        }
    } catch (CoreAnsx const& error) {
        logFailure("tick", error.c_str());
    } catch (std::exception const& error) {
        logFailure("tick", error.what());
    }
}

void CoreDsif::runentry(short page) {
    int slot = page + 1;
    if (slot < 0 || slot >= int(std::size(entryhandlers))) return;
    if (HANDLER handler = entryhandlers[slot]) (this->*handler)();
}

void CoreDsif::runtick(short page) {
    int slot = page + 1;
    if (slot < 0 || slot >= int(std::size(tickhandlers))) return;
    if (HANDLER handler = tickhandlers[slot]) (this->*handler)();
}

void CoreDsif::entrynone() { gadget->reset(0, false, false, -1); }

void CoreDsif::ticknone() { buffer->clear(3, 0, 0, short(dimx - 1), short(dimy - 1)); }

void CoreDsif::tickboot(bool attached) {
    BEANSTRUCT none{};
    if (!attached) {
        if (engine->getbb(CoreBnid::iCbusy, &none)) return;
        event = CoreAnsx(engine->getbb(CoreBnid::iCmode, &none) ? "BOOT" : "BOO2");
        return;
    }
    for (int pass = 0; pass < iCbootpasses; ++pass) {
        engine->setbb(CoreBnid::iCbootstep, false, &none);
        int number = engine->getbi(CoreBnid::iCbootline, &none);
        CoreAnsx line = engine->getbs(CoreBnid::iCbootline, &none);
        bool bare = engine->getbb(CoreBnid::iCbootbare, &none);
        bool finished = engine->getbb(CoreBnid::iCbootdone, &none);
        bool succeeded = engine->getbb(CoreBnid::iCbootok, &none);
        bool last = false;
        if (!succeeded) {
            event = CoreAnsx("ERRR");
            last = true;
            if (finished) return;
        } else if (finished) {
            event = CoreAnsx(engine->getbb(CoreBnid::iCmode, &none) ? "BOOT" : "BOO2");
            return;
        }
        CoreAnsx const head = CoreAnsx(" ") + CoreAnsx(number) + CoreAnsx(" ");
        if (!bare) {
            buffer->print(head, 1, false, true);
            buffer->print(CoreAnsx(" "), 0, false, true);
        }
        buffer->prnln(bootRow(line, dimx - (bare ? 0 : head.Length() + 1)), 0, false);
        if (last || !engine->getbb(CoreBnid::iCfastbootnow, &none)) return;
    }
}

void CoreDsif::entrybatch() {
    buffer->write(CoreAnsx(""), 0, 1, 0, false, false);
    gadget->reset(0, false, false, -1);
    messages->clear();
    BEANSTRUCT none{};
    engine->setbv(CoreBnid::iCclearrows, &none);
    wake->SetEvent();
}

void CoreDsif::tickbatch() {
    buffer->clear(0, 0, 0, dimx, dimy);
    buffer->write(CoreButl::rpad_(CoreAnsx("  BatchMode"), dimx, ' '), 0, 0, 1, false, false);
    messages->getrw(messagerows);
    for (short i = 0; i < messagecount; ++i)
        buffer->write(messagerows[i], 0, short(i + 2), 0, false, false);
    BEANSTRUCT first{};
    progress = engine->getbs(CoreBnid::iCenginerow, &first);
    buffer->write(CoreButl::rpad_(progress, dimx, ' '), 0, short(dimy - 1), 1, false, false);
}

void CoreDsif::sayer(CoreAnsx const& text) {
    errorline = text;
    errorkeys = editgroup->keyct();
}

void CoreDsif::dropError() {
    errorline = CoreAnsx("");
    errorkeys = editgroup->keyct();
    // Written only when there is one: a click writes nothing else.
    BEANSTRUCT none{};
    if (engine->getbs(CoreBnid::iCsaveerror, &none).Length() > 0)
        engine->setbs(CoreBnid::iCsaveerror, CoreAnsx(""), &none);
}

CoreAnsx CoreDsif::loadline() {
    BEANSTRUCT none{};
    if (!engine->getbb(CoreBnid::iCfallback, &none)) return CoreAnsx("");
    std::string const reason(engine->getbs(CoreBnid::iCfailreason, &none).c_str());
    std::string said(reason);
    for (char& c : said) c = char(std::tolower(static_cast<unsigned char>(c)));
    // The few words the row has room for; each stays true of every refusal
    // whose text holds its key. MISSING only where the engine looked for
    // the file and found none.
    static std::pair<char const*, char const*> const shortreasons[] = {
        {"over 60 s", "OVER 60 S"},
        {"too large", "TOO LARGE"}, // before "cannot be opened", which it may follow
        {"not found", "MISSING"},
        {"opened: missing", "MISSING"}, // a kernel the loader looked for
        {"cannot be opened", "NOT OPENED"},
        {"cut short", "CUT SHORT"},
        {"runs past the end", "CUT SHORT"},
        {"too short", "CUT SHORT"},
        {"not a riff/wave", "NOT A WAV"},
        {"not an archive", "NOT ARCHIVE"}, // a name of 9 characters fits with it
        {"table of contents", "NOT ARCHIVE"},
    };
    std::string why("NOT LOADED");
    for (auto const& [key, shown] : shortreasons)
        if (said.find(key) != std::string::npos) {
            why = shown;
            break;
        }
    // The file is the first part between ": " that ends in an extension:
    // "SAT2.WAV: cut short", or "program file not found: /data/X.XML".
    std::string file;
    for (std::size_t at = 0; file.empty() && at <= reason.size();) {
        std::size_t end = reason.find(": ", at);
        if (end == std::string::npos) end = reason.size();
        std::string const part = reason.substr(at, end - at);
        std::size_t const dot = part.rfind('.');
        bool named = dot != std::string::npos && dot + 1 < part.size() && part.size() - dot <= 5;
        for (std::size_t k = dot + 1; named && k < part.size(); ++k)
            named = std::isalnum(static_cast<unsigned char>(part[k])) != 0;
        if (named) file = CoreButl::getfn(CoreAnsx(part.c_str()), false).c_str();
        at = end + 2;
    }
    CoreAnsx const head = CoreAnsx("SLOT ") +
                          CoreAnsx(engine->getbi(CoreBnid::iCfailedslot, &none)) +
                          CoreAnsx(" FAILED: ");
    CoreAnsx line =
        head + CoreAnsx(file.c_str()).UpperCase() + CoreAnsx(" ") + CoreAnsx(why.c_str());
    // Too long with its file: the reason alone; the whole one is logged and
    // on the bus.
    if (file.empty() || line.Length() > iCerrorwidth) line = head + CoreAnsx(why.c_str());
    return line;
}

void CoreDsif::drerr() {
    if (editgroup->keyct() != errorkeys) dropError();
    // Rows each page leaves free, columns 0 to 35.
    constexpr short width = iCerrorwidth;
    bool const programpage =
        current == CoreStte::iCpageprogram || current == CoreStte::iCpagesimpleprogram;
    short row = -1;
    if (programpage)
        row = 7;
    else if (current == CoreStte::iCpagekernel || current == CoreStte::iCpagememory)
        row = short(dimy - 3);
    else if (current == CoreStte::iCpagemaster || current == CoreStte::iCpagesimplemaster)
        row = 2;
    if (row < 0) return;
    CoreAnsx text = errorline.Length() > 0 ? errorline : programpage ? loadline() : CoreAnsx("");
    buffer->write(CoreButl::rpad_(CoreAnsx(""), width, ' '), 0, row, 0, false, false);
    if (text.Length() > 0) buffer->write(CoreButl::wordc(text, width), 0, row, 1, false, false);
}

bool CoreDsif::wasbp() {
    CoreDspc::MESSAGELOC message{};
    if (mailbox == nullptr || !mailbox->getms(CoreDspc::iCbypass, &message)) return false;
    mailbox->clrms(CoreDspc::iCbypass);
    return true;
}

int CoreDsif::getst() {
    CoreDspc::MESSAGELOC message{};
    if (mailbox == nullptr || !mailbox->getms(CoreDspc::iCprogram, &message)) return -1;
    mailbox->clrms(CoreDspc::iCprogram);
    return message.word1;
}

void CoreDsif::getmw() {
    CoreDspc::MESSAGELOC message{};
    long long sum = 0;
    // Held to the int range at every step, so no number of messages overflows it.
    while (mailbox != nullptr && mailbox->getms(CoreDspc::iCwheel, &message))
        sum = std::clamp(sum + message.word1, (long long)INT_MIN, (long long)INT_MAX);
    if (sum == 0 || wheelrow < 0) return;
    if (current != CoreStte::iCpageprogram && current != CoreStte::iCpagesimpleprogram) return;
    BEANSTRUCT none{};
    long const target = engine->getbl(CoreBnid::iCwheeltarget, &none);
    if (target < 0) { // a program selected since the choice: its rows are not the ones chosen
        wheelrow = -1;
        return;
    }
    // The modulator list may have moved another control onto the row.
    short const control = prtmx(wheelrow);
    if (control < 0) return;
    if (control != target) engine->setbl(CoreBnid::iCwheeltarget, control, &none);
    engine->setbi(CoreBnid::iCwheel, int(sum), &none);
}

bool CoreDsif::getmp(short& column, short& row, int& word3, int& word4, bool& held) {
    CoreDspc::MESSAGELOC message{};
    // Keys queued while no field was armed were typed for no field: they go,
    // clearing the error line as a click does; keys queued after the click
    // that may arm one reach it.
    while (mailbox != nullptr && editgroup != nullptr && !editgroup->isactive() &&
           mailbox->getbf(CoreDspc::iCkey, CoreDspc::iCclick, &message))
        dropError();
    bool taken = mailbox != nullptr && mailbox->getms(CoreDspc::iCclick, &message);
    if (taken) {
        held = true;
        column = short(message.word1);
        row = short(message.word2);
        word3 = message.word3;
        word4 = message.word4;
    } else if (held) {
        std::int32_t state[3] = {0, 0, 0};
        held = plugin != nullptr && plugin->gtprp(CorePlif::iCpropmouse, 0, 0, state) != 0 &&
               (state[2] & 0xFF) != 0;
    }
    // Later clicks stay queued for the ticks that follow: dropping them here
    // lost every click posted while a tick ran, one in many under load.
    return taken;
}

void CoreDsif::tickcommon() {
    BEANSTRUCT none{};
    // A slot outside program memory would index the bank and program texts
    // out of range.
    int slot = std::clamp(engine->getbi(CoreBnid::iCslot, &none), 0, lastSlot);
    bank = slot / iCbankdim;
    program = slot % iCbankdim;

    if (wasbp())
        engine->setbb(CoreBnid::iCbypass, !engine->getbb(CoreBnid::iCbypass, &none), &none);

    int chosen = getst();
    if (chosen >= 0 && chosen <= lastSlot) {
        loadvars(chosen, CoreAnsx("LIST"));
        event = CoreAnsx("BTCH");
    }

    getmw();

    short column = 0, row = 0;
    bool clicked = getmp(column, row, mouseword3, mouseword4, mouseheld);
    clickcolumn = clicked ? column : short(0);
    clickrow = clicked ? row : short(0);
    if (clicked) dropError();
    if (clicked && row == dimy - 1 && column >= 0 && column <= iCdimx) {
        short item = short(std::min(column / 10, CoreMenu::iCvisibleitems - 1));
        CoreAnsx label;
        bool notcurrent = true;
        currentmenu->getvl(item, label, notcurrent);
        // The list pages keep the program pages' row with PROG marked, and
        // PROG is their way back: there the mark does not swallow the click.
        bool listexit =
            (current == CoreStte::iCpagelist || current == CoreStte::iCpagesimplelist) &&
            label == CoreAnsx("PROG");
        // The page's own entry changes nothing: a program chosen in the same
        // tick still loads.
        if (notcurrent || listexit) event = label;
        if (event == CoreMenu::sCrightscroll) currentmenu->scroll(true);
        if (event == CoreMenu::sCleftscroll) currentmenu->scroll(false);
    }

    if (plugin != nullptr) {
        std::int32_t state[3] = {0, 0, 0};
        if (plugin->gtprp(CorePlif::iCpropmouse, 0, 0, state) != 0) {
            mousex = state[0];
            mousey = state[1];
        }
    }

    if (!mouseheld) gadget->unarm();
    drmnu(changedtick);
    drawextra();
}

void CoreDsif::drawextra() {
    buffer->clear(0, 0, dimy, dimaddx, dimaddy);
    for (short k = 0; k < CoreDsgt::iCcontrols; ++k) {
        short column =
            k == 0 ? short(0) : short(std::ceil(double(dimaddx) * k * 0.125) + (k > 3 ? 1 : 0));
        BEANSTRUCT control{k, 0};
        short carried = engine->getbh(CoreBnid::iCcarried, &control);
        // A modulator number outside the sixteen names none.
        if (gadget->gettm() || carried < 0 || carried >= parameterModulators) {
            buffer->write(CoreButl::getcn(CoreAnsx("-"), 5), column, dimy, 0, false, false);
            continue;
        }
        BEANSTRUCT modulator{carried, 0};
        CoreAnsx label = CoreButl::getds(engine->getbs(CoreBnid::iCmodlabel, &modulator), 5);
        buffer->write(CoreButl::getcn(label, 5).UpperCase(), column, dimy, 0, false, false);
        CoreAnsx number;
        number.sprintf("%.2f", engine->getbd(CoreBnid::iCmodvalue, &modulator));
        number = number.SubString(1, 5);
        if (number.Length() == 5 && number.c_str()[4] == '.') number = number.SubString(1, 4);
        buffer->write(CoreButl::getcn(number, 5), column, short(dimy + 1), 0, false, false);
        // A long unit would run into the next entry or past the zone.
        CoreAnsx unit = engine->getbs(CoreBnid::iCmodunit, &modulator).SubString(1, 5);
        buffer->write(CoreButl::getcn(unit, 5), column, short(dimy + 2), 0, false, false);
    }
}

void CoreDsif::btcst(CoreAnsx const& name, CoreAnsx const& value) {
    BEANSTRUCT none{};
    engine->setbs(CoreBnid::iCvarname, name, &none);
    engine->setbs(CoreBnid::iCvarvalue, value, &none);
}

void CoreDsif::loadvars(int index, CoreAnsx const& action, CoreAnsx const& step) {
    BEANSTRUCT none{};
    engine->setbv(CoreBnid::iCclearvars, &none);
    btcst(CoreAnsx("LOADED"), DataLclz::sCgenloadedprint);
    btcst(CoreAnsx("LOADING"), DataLclz::sCgenloadingprint);
    btcst(CoreAnsx("NEWPROGRAM"), CoreAnsx(index));
    btcst(CoreAnsx("ACTION"), action);
    btcst(CoreAnsx("NEXTSTEP"), step);
}

void CoreDsif::postload(int index) {
    loadvars(index, home);
    requested = short(transitions->getst(current, CoreAnsx("BTCH")));
}

void CoreDsif::requestload(int index) {
    // A load during the boot would cut it short; one during a batch would
    // start a second batch over the first.
    if (isbootbatch(current) || isbootbatch(requested)) {
        pendingload = index;
        return;
    }
    pendingload = -1; // a newer load replaces one still kept
    postload(index);
}

void CoreDsif::loadp(int index) {
    if (index < 0) {
        CoreLog_::debug(CoreAnsx("CoreDsif no program to load: ") + CoreAnsx(index), 0, 3);
        return;
    }
    CoreSmgd hold(*lock);
    try {
        requestload(index);
    } catch (CoreAnsx const& error) {
        logFailure("load", error.c_str());
    }
}

void CoreDsif::setmr(CoreAnsx const& label) {
    // Only a label that starts with a slot number names a program: a
    // category or the title would otherwise load slot 0.
    int dash = label.AnsiPos(CoreAnsx("-"));
    CoreAnsx head = (dash > 0 ? label.SubString(1, dash) : label).Trim();
    if (head.Length() <= 0 || !std::isdigit(static_cast<unsigned char>(head.c_str()[0]))) return;
    int index = head.ToInt();
    CoreSmgd hold(*lock);
    if (!programmenu) return;
    try {
        requestload(index);
    } catch (CoreAnsx const& error) {
        logFailure("menu load", error.c_str());
    }
}

void CoreDsif::setdp() {
    CoreSmgd hold(*lock);
    // The boot page and the batch pages leave by themselves; leaving them
    // early would cut the boot short or lose sight of a running batch.
    auto busy = [](short page) { return page == CoreStte::iCpageboot || isbatch(page); };
    menurebuild = true;
    if (busy(current) || busy(requested)) return;
    buffer->clear(0, 0, 0, buffer->getdx(0), buffer->getdy(3));
    buffer->clear(0, 0, dimy, dimaddx, dimaddy);
    requested = short(transitions->getst(current, home));
    if (requested == current) redraw = true;
}

void CoreDsif::setsp(int slot, bool a, bool b) {
    bank = slot / 100;
    program = slot % 100;
    if (a) slotcopy[0] = slot;
    if (b) slotcopy[1] = slot;
}

void CoreDsif::upprm() {
    for (int k = 0; k < parameterModulators; ++k) {
        BEANSTRUCT modulator{k, 0};
        engine->setbv(CoreBnid::iCmodupdate, &modulator);
    }
}

short CoreDsif::getfc() { return fontcolour; }

void CoreDsif::setpd(CoreCnst::POPMENUCONTENTDATA* content) {
    CoreSmgd hold(*lock);
    popcontent = content;
}

int CoreDsif::fnu2t(double microseconds) {
    BEANSTRUCT none{};
    int rate = engine->getbi(CoreBnid::iChostrate, &none);
    double samples = rate < 1 ? microseconds : microseconds * double(rate) / 1e6;
    if (std::isnan(samples)) return 0;
    return int(std::clamp(std::round(samples), double(INT_MIN), double(INT_MAX)));
}

int CoreDsif::tomicros(double shown, double unitmicros) {
    double micros = shown * unitmicros;
    if (std::isnan(micros)) return 0;
    return int(std::clamp(std::round(micros), double(INT_MIN), double(INT_MAX)));
}

CoreAnsx CoreDsif::exactText(double v) {
    CoreAnsx text;
    for (char const* format : {"%.15g", "%.16g", "%.17g"})
        if (text.sprintf(format, v).ToDouble() == v) break;
    return text;
}

double CoreDsif::fnt2u(int samples) {
    BEANSTRUCT none{};
    int rate = engine->getbi(CoreBnid::iChostrate, &none);
    return rate < 1 ? double(samples) : CoreButl::upftp(rate, samples);
}

void CoreDsif::fnmnu(short page) {
    for (auto& menu : menus)
        if (menu->iskey(page)) currentmenu = menu.get();
}

void CoreDsif::drmnu(bool changed) {
    short row = short(iCdimy - 1);
    buffer->clear(3, 0, row, short(iCdimx - 1), 1);
    for (short slot = 0; slot < CoreMenu::iCvisibleitems; ++slot) {
        short column = short(10 * slot);
        CoreAnsx text;
        bool notcurrent = true;
        currentmenu->getvl(slot, text, notcurrent);
        short font = notcurrent || !changed ? 1 : 0;
        buffer->write(CoreButl::cpad_(text, 8, ' '), column, row, font, false, false);
        if (!notcurrent) buffer->write(CoreAnsx("."), column, row, font, true, false);
        if (slot < CoreMenu::iCvisibleitems - 1)
            buffer->write(CoreAnsx("  "), short(column + 8), row, 0, true, false);
    }
}

short CoreDsif::getdx() { return dimx; }

short CoreDsif::getdy() { return dimy; }

short CoreDsif::getax() { return dimaddx; }

short CoreDsif::getay() { return dimaddy; }

short CoreDsif::getdx(short font) { return buffer->getdx(font); }

short CoreDsif::getdy(short font) { return buffer->getdy(font); }

short CoreDsif::getax(short font) { return buffer->getax(font); }

short CoreDsif::getay(short font) { return buffer->getay(font); }

int CoreDsif::getre(short font) {
    CoreDsfn* strip = buffer->getfn(font);
    return strip != nullptr ? strip->getre() : 0;
}

double CoreDsif::read_(short font, short column, short row) {
    return buffer->readr(font, column, row);
}

void CoreDsif::newdd(CoreCnst::DISPLAYDATA* data) {
    if (data == nullptr) return;
    deldd(data);
    try {
        int zones = CoreDsbf::iCfonts;
        data->rows = new int[size_t(zones)]{};
        data->columns = new int[size_t(zones)]{};
        data->rowstarts = new int* [size_t(zones)] {};
        data->zones = zones;
        int total = 0;
        for (short font = 0; font < zones; ++font) {
            data->rows[font] = getdy(font) + getay(font);
            data->columns[font] = getdx(font);
            total += data->rows[font] * data->columns[font];
        }
        data->cells = new double[size_t(total)]{};
        int start = 0;
        for (int font = 0; font < zones; ++font) {
            data->rowstarts[font] = new int[size_t(std::max(data->rows[font], 1))]{};
            for (int row = 0; row < data->rows[font]; ++row) {
                data->rowstarts[font][row] = start;
                start += data->columns[font];
            }
        }
        data->total = total;
    } catch (std::bad_alloc const&) {
        deldd(data);
        throw CoreAnsx("Memory request failed for the display snapshot");
    }
}

void CoreDsif::flldd(CoreCnst::DISPLAYDATA* data) {
    if (data == nullptr || data->cells == nullptr || data->rows == nullptr ||
        data->columns == nullptr || data->rowstarts == nullptr)
        return;
    CoreSmgd hold(*lock);
    int zones = std::min(data->zones, int(CoreDsbf::iCfonts));
    for (short font = 0; font < zones; ++font) {
        int const* starts = data->rowstarts[font];
        if (starts == nullptr) continue;
        for (int row = 0; row < data->rows[font]; ++row)
            for (int column = 0; column < data->columns[font]; ++column) {
                int index = starts[row] + column;
                if (index >= 0 && index < data->total)
                    data->cells[index] = buffer->readr(font, short(column), short(row));
            }
    }
}

void CoreDsif::deldd(CoreCnst::DISPLAYDATA* data) {
    if (data == nullptr) return;
    if (data->rowstarts != nullptr)
        for (int font = 0; font < data->zones; ++font) delete[] data->rowstarts[font];
    delete[] data->rowstarts;
    delete[] data->rows;
    delete[] data->columns;
    delete[] data->cells;
    *data = CoreCnst::DISPLAYDATA{};
}
