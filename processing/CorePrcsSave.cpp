// CorePrcs program saving and versioning: the current program written back
// to its file (a plain XML file in place, or a new program archive keeping
// every other item of the old one), a version of it saved in the next free
// location under a new name, and the version name the display proposes.
// Control or display thread, may block on file writes; never the audio thread.
#include "processing/CorePrcs.h"

#include <cerrno>
#include <cstring>
#include <iterator>

#include "program/CoreMmry.h"
#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

namespace {

// The item's text parses into a document with a PROGRAM element.
bool isProgram(CoreFsys& store, int id) {
    CoreXml_ document;
    try {
        document.getfc(store.ct2as(id));
    } catch (CoreAnsx const&) {
        return false;
    }
    CoreNode* root = document.getrt();
    CoreNode* program = root != nullptr ? root->getcd(DataXml_::sCtagprogrm) : nullptr;
    return program != nullptr && !program->leaf_();
}

// Removes every program document of the archive that the program reader
// (readerkey, both ways contained) or the archive header edits (archivekey
// contained) could take, so the new text is the only program it holds.
void dropPrograms(CoreFsys& store, CoreAnsx const& readerkey, CoreAnsx const& archivekey) {
    for (int position = store.llvcn() - 1; position >= 0; --position) {
        int id = -1;
        CoreAnsx const name = store.llvel(position, id).UpperCase();
        if (id < 0) continue;
        bool const candidate = readerkey.Pos(name) > 0 || name.Pos(readerkey) > 0 ||
                               (archivekey.Length() > 0 && name.Pos(archivekey) > 0);
        if (candidate && isProgram(store, id)) store.delct(id);
    }
}

} // namespace

void CorePrcs::svfld(CoreAnsx const& file, CoreAnsx const& reason, CoreAnsx const& shown) {
    CoreLog_::loger(CoreAnsx("not saved: ") + CoreButl::escct(file) + CoreAnsx(": ") + reason, 0);
    CoreSmgd guard(beansem);
    saveerror = shown;
}

void CorePrcs::clearSaveError() {
    CoreSmgd guard(beansem);
    saveerror = CoreAnsx("");
}

bool CorePrcs::nameUsable(CoreAnsx const& name, char const* from, bool single,
                          CoreAnsx const& extension) {
    CoreAnsx const refused = CoreAnsx(from) + CoreAnsx(": file name refused: \"");
    if (!CoreButl::infld(name, single)) {
        CoreLog_::loger(refused + CoreButl::escct(name) + CoreAnsx("\""), 0);
        return false;
    }
    if (extension.Length() <= 0) return true;
    // The bank reader checks the file name as written: a name that fits only
    // without its extension would be saved once and refused at every boot.
    CoreAnsx const file = CoreButl::setfx(name, extension);
    if (CoreButl::infld(file, single)) return true;
    CoreLog_::loger(refused + CoreButl::escct(file) + CoreAnsx("\" (") + CoreAnsx(file.Length()) +
                        CoreAnsx(" bytes, at most ") + CoreAnsx(CoreButl::iCnamebytes) +
                        CoreAnsx(")"),
                    0);
    return false;
}

namespace {

constexpr int iCsaverow = 36; // columns of the page's line for a failed save

// The causes a save's line names when its reason does not fit whole, each
// true of every reason holding its key. The lock's kind comes first: its
// reason names a FIFO or a folder too. Each fits after the longest prefix,
// "VERSION NOT SAVED: ". Keys are whole phrases of the system's reasons: a
// reason may name a file, and "DRUMLOOP" or "loops/" is no link loop.
CoreButl::SHORTCAUSE const sCsavecauses[] = {
    {"its lock file is", "LOCK NOT A FILE"},  {"no space", "DISK FULL"},
    {"quota exceeded", "DISK FULL"},          {"too large", "FILE TOO LARGE"},
    {"not a plain file", "NOT A PLAIN FILE"}, {"is a directory", "IS A FOLDER"},
    {"too many levels", "LINK LOOP"},         {"round in a loop", "LINK LOOP"},
    {"permission denied", "NO ACCESS"},       {"not permitted", "NO ACCESS"},
    {"read-only", "READ-ONLY DISK"},
};

// The page's line for a save that failed for reason: the reason whole when
// it fits, else its short cause; never a reason cut between words.
CoreAnsx saveLine(CoreAnsx const& prefix, CoreAnsx const& reason) {
    CoreAnsx const whole = prefix + CoreAnsx(": ") + CoreAnsx(reason).UpperCase();
    if (whole.Length() <= iCsaverow) return whole;
    return prefix + CoreAnsx(": ") +
           CoreButl::causw(reason, sCsavecauses, int(std::size(sCsavecauses)), "SEE THE LOG");
}

} // namespace

void CorePrcs::svrsn(CoreAnsx const& file, CoreAnsx const& prefix, CoreAnsx const& reason) {
    svfld(file, reason, saveLine(prefix, reason));
}

CoreAnsx CorePrcs::svref() {
    if (fallback) return CoreAnsx("slot ") + CoreAnsx(failedslot) + CoreAnsx(" did not load");
    if (programdoc->getrt() == nullptr || !holdsLoaded())
        return CoreAnsx("program is not the slot's");
    return CoreAnsx("");
}

bool CorePrcs::svprf(CoreAnsx const& folder, bool asis) {
    if (saveProgram(folder, asis, CoreAnsx(""))) return true;
    svrsn(memory->getpf(fallback ? failedslot : currentslot.load()), CoreAnsx("NOT SAVED"),
          saverefusal);
    return false;
}

bool CorePrcs::saveProgram(CoreAnsx const& folder, bool asis, CoreAnsx const& from,
                           bool createNew) {
    if (failed) return false;
    saverefusal = CoreAnsx("not written");
    try {
        // Under fallback the live program is location 0's: saving it would
        // write it over the file of the location that failed.
        if (fallback || programdoc->getrt() == nullptr || !holdsLoaded()) {
            saverefusal = svref();
            CoreLog_::loger(CoreAnsx("program not saved: location ") +
                                CoreAnsx(currentslot.load()) +
                                CoreAnsx(" does not hold the loaded program"),
                            1);
            return false;
        }
        int const slot = currentslot;
        CoreAnsx const file = memory->getfp(slot, false);
        if (file == CoreAnsx("0") || file.Length() <= 0) return false;
        CoreAnsx const where = folder == CoreAnsx("0") ? foundfolder : folder;
        if (!asis) fixcd();
        errno = 0; // a write that fails for no system reason shows none
        bool saved = false;
        if (!memory->getwp(slot)) {
            // The program file only: vector files the program holds in memory
            // stay as the user keeps them on disk.
            CoreAnsx const path = CoreButl::rslve(where + file);
            if (createNew) {
                CoreAnsx const body = CoreButl::sCxmlheader + CoreButl::sCxmlcopyright +
                                      programdoc->settc(true, false) + CoreAnsx("\n");
                saved = CoreButl::wrnew(path, body.c_str(), std::strlen(body.c_str()));
            } else {
                saved = CoreButl::svatx(path, programdoc->settc(true, false), false);
            }
        } else {
            CoreAnsx const path =
                CoreButl::rslve(CoreButl::setfx(where + file, CoreButl::sCextv2p));
            // The item the program reader looks up: its exact name wins over
            // any item that merely contains it.
            CoreAnsx const item = CoreButl::setfx(file, CoreButl::sCextxml).UpperCase();
            CoreFsys archive(pool, where, false, diskoption);
            // A version starts from its source's archive: the impulse files
            // the program reads from it must be in the version too.
            bool const fresh = createNew || !CoreFsys::exstf(CoreAnsx(""), path);
            CoreAnsx const base = fresh && from.Length() > 0 ? from : path;
            if (CoreFsys::exstf(CoreAnsx(""), base)) {
                // Items the reader cannot take would be lost by a rewrite.
                if (!archive.loada(base, CoreAnsx("0"), false, nullptr) ||
                    !CoreProg::wholeArchive(archive)) {
                    CoreLog_::loger(base + CoreAnsx(": archive not readable whole, not saved"), 0);
                    return false;
                }
                dropPrograms(archive, item, CoreButl::getfn(path, true).UpperCase());
                // The source's own program text goes too: the version holds one.
                if (base != path)
                    dropPrograms(archive, item, CoreButl::getfn(base, true).UpperCase());
            }
            CoreAnsx const text = programdoc->settc(false, false);
            int const id = archive.crtit(item, true);
            archive.setit(id, text.c_str(), static_cast<long>(std::strlen(text.c_str())),
                          CoreAnsx("0"), true, false);
            saved = archive.savea(path, createNew);
        }
        if (!saved && errno != 0) saverefusal = CoreButl::systemReason(errno);
        if (!saved) CoreLog_::loger(CoreAnsx("program not saved: ") + where + file, 1);
        return saved;
    } catch (CoreAnsx const& e) {
        CoreLog_::loger(CoreAnsx("program not saved: ") + e, 1);
        saverefusal = e;
        return false;
    }
}

namespace {

CoreAnsx const sCversionnotsaved{"VERSION NOT SAVED"};

// The display's line for a version not saved for reason.
CoreAnsx versionLine(CoreAnsx const& reason) { return saveLine(sCversionnotsaved, reason); }

} // namespace

CorePrcs::VERSIONSAVE CorePrcs::saveVersion(CoreAnsx const& name, int entries,
                                            CoreAnsx const& unread) {
    VERSIONSAVE version;
    saverefusal = svref();
    if (saverefusal.Length() > 0) {
        CoreLog_::loger(CoreAnsx("no version saved: location ") + CoreAnsx(currentslot.load()) +
                            CoreAnsx(" does not hold the loaded program"),
                        1);
        // Under fallback the page says why, as the program page's SAVE does.
        if (fallback)
            svrsn(name, CoreAnsx("NOT SAVED"), saverefusal);
        else
            svfld(name, saverefusal, sCversionnotsaved);
        return version;
    }
    // A blank name would name a file of nothing but its extension.
    saverefusal = CoreAnsx("not written");
    if (CoreAnsx(name).Trim().Length() <= 0) {
        CoreLog_::loger(CoreAnsx("no version saved: no name"), 1);
        svfld(name, CoreAnsx("no name"), versionLine(CoreAnsx("no name")));
        return version;
    }
    // One file beside the program's folder, never a path: the name comes
    // from the display, or from a host through the bus.
    if (!nameUsable(name, "version name (VERSIONINGNAME)", true,
                    memory->getwp(currentslot) ? CoreButl::sCextv2p : CoreButl::sCextxml)) {
        CoreSmgd guard(beansem);
        saveerror = CoreAnsx("VERSION NOT SAVED: NAME NOT USABLE");
        return version;
    }
    int const from = currentslot;
    // A version that joins the bank takes the place the next boot gives it,
    // after every program the bank holds; any other, the first free one
    // after its source.
    CoreAnsx why(unread);
    int const joinat = versionJoins(from, entries, why);
    int const to = memory->getcf(joinat >= 0 ? joinat : from);
    if (to <= 0) {
        CoreLog_::loger(CoreAnsx("no version saved: no free location after ") + CoreAnsx(from), 1);
        svfld(name, CoreAnsx("no free location"), versionLine(CoreAnsx("memory full")));
        return version;
    }
    bool const archived = memory->getwp(from);
    CoreAnsx const source =
        archived ? CoreButl::rslve(CoreButl::setfx(foundfolder + memory->getfp(from, false),
                                                   CoreButl::sCextv2p))
                 : CoreAnsx("");
    memory->mvepr(from, to, false);
    memory->fix_l(from); // the old location as it stands on disk
    currentslot = to;
    setpf(name);
    CoreAnsx file = foundfolder + memory->getfp(to, false);
    if (memory->getwp(to)) file = CoreButl::setfx(file, CoreButl::sCextv2p);
    // A version never takes the place of anything already at its name: it
    // may be another program's, the very one the version was taken from, or
    // another instance's version of the same moment. The check here spares
    // the work; the file itself is only ever created new.
    bool saved = false;
    bool taken = CoreFsys::exstf(CoreAnsx(""), file);
    if (!taken) {
        fixcd();
        memory->setvl(to, programdoc->settc(false, false), true);
        loadedtext = memory->getvl(to, false);
        saved = saveProgram(CoreAnsx("0"), false, source, true);
        taken = !saved && CoreButl::wrerr() == EEXIST;
    }
    if (saved) {
        version.saved = true;
        version.joins = joinat >= 0;
        version.why = why;
        return version;
    }
    int const error = CoreButl::wrerr();
    if (taken)
        svfld(file, CoreAnsx("name taken"), versionLine(CoreAnsx("name taken")));
    else if (error != 0)
        svfld(file, CoreButl::systemReason(error), versionLine(CoreButl::systemReason(error)));
    else
        svfld(file, CoreAnsx("not written"), sCversionnotsaved);
    // No file behind it: the version goes, and the program stays the old
    // location's, with its edits still live.
    memory->clrpr(to);
    currentslot = from;
    if (memory->getwp(from)) program->setvf(memory->getfv(from, true));
    loadedtext = memory->getvl(from, false);
    return version;
}

int CorePrcs::bankEntries(CoreAnsx& reason) {
    CoreAnsx const bank = CoreAnsx(setupromname).Trim();
    if (bank.Length() <= 0 || bank == CoreAnsx(0) || bank.UpperCase() == CoreButl::sCnull) {
        reason = CoreAnsx("no bank file (SETUPROMNAME)");
        return -1;
    }
    CoreAnsx why("");
    int const entries = memory->cntbn(bank, why);
    if (entries < 0) reason = bank + CoreAnsx(": ") + why;
    // The next boot reads entries past the bank's last slot into bank 1.
    if (entries >= CoreMmry::iCbankdim)
        reason = bank + CoreAnsx(" holds ") + CoreAnsx(CoreMmry::iCbankdim) +
                 CoreAnsx(" programs or more, a full bank");
    return entries;
}

int CorePrcs::versionJoins(int from, int entries, CoreAnsx& reason) {
    // Only bank 0 has a setup file in the plug-in: bank 2 is the folder
    // scan, which it does not run.
    if (from < 0 || from >= CoreMmry::iCbankdim) {
        reason = CoreAnsx("location ") + CoreAnsx(from) + CoreAnsx(" lies outside bank 0");
        return -1;
    }
    return entries >= 0 && entries < CoreMmry::iCbankdim ? entries : -1;
}

void CorePrcs::endbk() {
    if (memory != nullptr) memory->endbk();
}

void CorePrcs::joinBank(int loc, VERSIONSAVE const& version) {
    CoreAnsx const file = memory->getpf(loc);
    CoreAnsx const line("VERSION SAVED, NOT IN BANK");
    CoreAnsx const bank = CoreAnsx(setupromname).Trim();
    CoreAnsx reason(version.why);
    int place = -1;
    bool const joined = version.joins && memory->joinb(bank, loc, reason, place);
    if (version.joins && !joined) reason = bank + CoreAnsx(": ") + reason;
    if (!joined) {
        CoreLog_::loger(CoreAnsx("version ") + CoreButl::escct(file) +
                            CoreAnsx(" saved, not added to the bank: ") + reason,
                        0);
        CoreSmgd guard(beansem);
        saveerror = line;
        return;
    }
    // Another instance added an entry meanwhile, the place was taken in
    // this session, or the bank named the file already: the version stays
    // where it is until the instance closes.
    if (place >= 0 && place != loc)
        CoreLog_::loger(CoreAnsx("version ") + file + CoreAnsx(" is at slot ") + CoreAnsx(loc) +
                            CoreAnsx(" in this session and at slot ") + CoreAnsx(place) +
                            CoreAnsx(" after a restart"),
                        1);
}

CoreAnsx CorePrcs::getnp() {
    CoreAnsx const file = memory->getfp(currentslot, true);
    if (file == CoreAnsx("0") || file.Length() <= 0) return CoreAnsx("");
    // A version is one file in the program folder: the proposal is made of
    // the last component of the location's file, whatever folders it names.
    char const* last = file.c_str();
    for (char const* c = last; *c != '\0'; ++c)
        if (*c == '/' || *c == '\\') last = c + 1;
    CoreAnsx proposal = CoreButl::getvs(CoreAnsx(last), 2);
    // A name something is at already (a file, a folder, a FIFO) would only
    // be refused as taken: the count goes on, at most once round its digits.
    CoreAnsx const folder = CoreButl::getpt(foundfolder + memory->getfp(currentslot, false));
    for (int k = 0; k < 100 && CoreFsys::exstf(folder, proposal); ++k)
        proposal = CoreButl::getvs(proposal, 2);
    return CoreButl::setfx(proposal, CoreAnsx(""));
}

void CorePrcs::setpf(CoreAnsx const& name) {
    int const slot = currentslot;
    memory->setfp(slot, name);
    if (memory->getwp(slot)) program->setvf(memory->getfv(slot, true));
}
