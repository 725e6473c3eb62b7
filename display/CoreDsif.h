#pragma once
// CoreDsif: the text display of one plug-in instance: the character screen
// (main zone 58 x 14, extra zone below it), the page machine over page ids -1
// to 23 with its six button-row menus, and a thread of its own that steps long
// engine operations (batches) while a batch page shows their progress. It
// reads and writes engine state only through the property bus (CoreBean) and
// reaches the editor only through the plug-in object (CorePlif).
// Owner: the instance assembly: built after the engine, the mailbox and the
// skin, deleted before them (the destructor stops the thread first).
// Threads: the control thread runs updte (one tick, wholly under the display
// lock), setdp and loadp; the display thread runs Execute and takes the lock
// only to request a page after a batch; host threads run setmr and flldd,
// which take the lock themselves; the editor's thread calls the snapshot
// operations. The display lock is taken before the mailbox's, the transition
// table's and the message list's own locks; the property bus locks for itself.

#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "display/CoreBean.h"
#include "display/CoreCnst.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsbr.h"
#include "display/CoreMenu.h"
#include "display/CoreStte.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CorePmsg.h"
#include "runtime/CoreSmph.h"
#include "runtime/CoreTevn.h"
#include "runtime/CoreTthr.h"

class CoreBlnk;
class CoreDspc;
class CoreDsgt;
class CoreDstx;
class CoreDsge;
class CoreDsgm;
class CoreDsmn;
class CoreNode;
class CorePlif;
class CoreSkin;

class CoreDsif final : public CoreTthr {
public:
    static constexpr short iCdimx = 58;       // main-zone columns
    static constexpr short iCdimy = 14;       // main-zone rows
    static constexpr short iCdimaddx = 49;    // extra-zone columns when the skin gives none
    static constexpr short iCdimaddy = 3;     // extra-zone rows
    static constexpr short iCmessagerows = 8; // batch message rows on the batch pages
    static constexpr short iCerrorwidth = 36; // the error row's columns, 0 to 35
    // A batch runs at most this many steps: an engine whose boot is pending or
    // failed answers "not ended" without running one, and the engine's own
    // chains are far shorter.
    static constexpr int iCbatchsteps = 64;
    // Boot passes one tick runs at most while the engine asks for more; the
    // next tick goes on, so an engine that never finishes cannot hold the
    // control thread.
    static constexpr int iCbootpasses = 256;
    static constexpr int iCbanks = 100;   // banks of program memory
    static constexpr int iCbankdim = 100; // programs in a bank

    // The pages' own state that lives across page changes; what each field
    // means belongs to the page that uses it.
    struct PAGESTATE {
        CoreAnsx scratch[3] = {"", "", ""};     // scratch texts, the third starts empty
        CoreAnsx scratchmore[3] = {"", "", ""}; // three more
        int single[3][1] = {{0}, {0}, {0}};     // three one-element int arrays
        int slotmore[2] = {0, 0};               // two slot ints besides the setsp copies
        int testcounters[3] = {10, 360, 10};    // the test page's counters
        short fields[3] = {0, 0, 0};            // three 16-bit page fields
        int rowvalues[iCdimy - 2] = {};         // one int per row 0..11, all 0
        int rowtables[3][iCdimy - 3];           // three tables of one int per row 0..10, all -1
        bool flags[2] = {false, false};         // two page flags
        bool flagclear = false;                 // a page flag starting clear
        bool flagsset[2] = {true, true};        // two page flags starting set
        PAGESTATE();
    };

    // Builds everything in the stated order and starts the thread last. A
    // null engine is answered by a bus that serves nothing (logged); a null
    // mailbox, skin or plug-in object is tolerated. Throws CoreAnsx when
    // memory runs out (nothing is left running then).
    CoreDsif(CoreBean* engine, CoreDspc* mailbox, CoreBlnk* blink, CoreSkin* skin,
             CorePlif* plugin);
    // Stops the thread (waiting for a running batch to end), then deletes
    // what the display owns.
    ~CoreDsif();
    CoreDsif(CoreDsif const&) = delete;
    CoreDsif& operator=(CoreDsif const&) = delete;
    CoreDsif(CoreDsif&&) = delete;
    CoreDsif& operator=(CoreDsif&&) = delete;

    // Thread body: sleeps on the wake event, runs one batch per wake-up, then
    // requests the page the batch names.
    void Execute() override;
    void Terminate() override; // sets the terminate request, wakes the thread

    // One tick of the page machine; attached: an editor is attached.
    void updte(bool attached);
    // Posts a program load (bank x 100 + program) and requests the batch
    // page. During the boot or a batch (current or requested page 20..23) the
    // index is kept instead, a newer one replacing it, and posted by the first
    // tick that starts outside those pages. A negative index posts nothing.
    void loadp(int index);
    // Loads the program a pop-up menu label names by its leading number, while
    // the program page's menu is armed; a label that does not start with a
    // digit loads nothing.
    void setmr(CoreAnsx const& label);
    // Clears the screen and requests the page of the home page code; nothing
    // while the boot page or a batch page is current or requested. Program
    // memory changed under the display: the pop-up's tree is rebuilt at the
    // next entry of a program page, and a home page already on screen is
    // entered again.
    void setdp();
    // Selects bank and program of a slot; a / b also store it in the first /
    // second slot copy.
    void setsp(int slot, bool a, bool b);
    void upprm();  // refreshes the 16 parameter modulators (property 195)
    short getfc(); // font colour read at construction (property 32)
    // The page on screen. Only ticks change it, so the control thread reads
    // it between its ticks without the lock.
    short getpg() const { return current; }
    // Stores the pop-up menu content the plug-in built (not owned).
    void setpd(CoreCnst::POPMENUCONTENTDATA* content);
    int fnu2t(double microseconds); // samples at the host rate, nearest
    double fnt2u(int samples);      // microseconds at the host rate
    // Whole microseconds of a time shown in a unit of that many microseconds
    // (1000 for milliseconds, 1e6 for seconds), nearest, held to the int
    // range; NaN gives 0. Every page hands shown times to the engine so.
    static int tomicros(double shown, double unitmicros);
    // The shortest number text ("." for the point) that reads back as the
    // same double, so a constant the user did not touch goes back to the
    // engine unchanged.
    static CoreAnsx exactText(double v);
    // Sets one batch variable: property 223 with the name, 224 with the value.
    void btcst(CoreAnsx const& name, CoreAnsx const& value);

    // Drawing helpers of the pages. The buttons draw and hit-test in one
    // call: a click (click column, click row) on the text draws it in font
    // 0 and answers true, else it stands in font 1.
    bool drbtn(short column, short row, CoreAnsx const& text, short clickx, short clicky);
    // A button showing the on text while state is true, else the off text.
    bool drtb2(short column, short row, CoreAnsx const& off, CoreAnsx const& on, bool state,
               short clickx, short clicky);
    // A toggle: a marker cell (a blinking "." while state is true), the
    // text and a trailing blank, all hit.
    bool drtbt(short column, short row, CoreAnsx const& off, CoreAnsx const& on, bool state,
               short clickx, short clicky);
    // A caption: the head's first character in font 1, then a blank and the
    // text in font 0 from column + head length (the text alone for no head).
    void label(CoreAnsx const& head, CoreAnsx const& text, int column, int row);

    // Parameter rows. Draws the row of the n-th shown parameter modulator
    // (29 cells: pre-label, label, bar of bar maker 0 or 1 and value);
    // dragged (a) draws the texts in font 1, bare (b) drops the label's colon.
    void drprm(int column, int row, short n, short bar, bool a, bool b);
    CoreAnsx getpn(short index); // short name of a modulator, at most 8 characters
    // Index of the n-th modulator whose shown flag is shown; -1 for none.
    short getpp(short n, bool shown);
    // Interface control (0..7) that the n-th shown modulator's pre-label
    // names; -1 for none.
    short prtmx(short n);
    // Exchanges the modulator with the next one up or down (wrapping) of the
    // same shown flag and answers its new index; the index when none.
    short prmsw(short index, bool up);
    // The list a count property builds, item by item; a negative count is 0.
    void rsvas(std::vector<CoreAnsx>& list, int& count, short countid, short itemid);
    // The names of a folder's files that match the wildcard mask.
    void readr(CoreAnsx const& folder, CoreAnsx const& mask, std::vector<CoreAnsx>& list,
               int& count);
    // The value moved by the mouse since the press position (which becomes
    // the current position); the value itself without a plug-in object.
    double getnh(double value, int& lastx, int& lasty);
    void savem(); // the engine saves the master settings (property 79); a failure is shown
    // The display's one error line: shows text (the newest wins) on the page
    // the user is on or returns to, until the user's next click or key.
    void sayer(CoreAnsx const& text);
    // The user's click or key: the error line goes, and the engine's failed
    // save line with it, so the next batch's end does not show it again.
    void dropError();
    // Appends to the menu the category tree below the first level steps of
    // the engine's browse path, items under parent (the menu root for null).
    void scanm(CoreDsmn* menu, int level, CoreNode* parent);

    // Draws the current menu on the button row; changed: the page changed in
    // this tick (the current page's button is then drawn in font 0).
    void drmnu(bool changed);
    // Makes current the last menu that holds the page; none leaves it.
    void fnmnu(short page);

    // The common input handling's single steps; each takes the messages it
    // reads out of the mailbox.
    bool wasbp(); // a bypass press was waiting (all of them taken)
    int getst();  // the oldest program index waiting (all taken), else -1
    // Sums the waiting wheel steps into property 82 (none for 0), sent only
    // while a program page shows the parameter row the user chose; the
    // steps are taken either way.
    void getmw();
    // Takes the oldest click into column, row and the two kept words (held
    // becomes true); without one a held button is refreshed from the
    // plug-in's mouse state (released without a plug-in object). Later
    // clicks wait for the next ticks, one a tick, in the order posted.
    // Answers whether a click was taken.
    bool getmp(short& column, short& row, int& word3, int& word4, bool& held);

    // Geometry: main columns and rows, extra columns and rows, in cells or in
    // a font's cells; glyph count of a font's strip.
    short getdx();
    short getdy();
    short getax();
    short getay();
    short getdx(short font);
    short getdy(short font);
    short getax(short font);
    short getay(short font);
    int getre(short font);
    // One cell's snapshot value; the caller holds the display lock or runs
    // inside a tick.
    double read_(short font, short column, short row);
    // Makes the record's arrays for this display's geometry (freeing what it
    // held); throws CoreAnsx when memory runs out, the record then empty.
    void newdd(CoreCnst::DISPLAYDATA* data);
    // Fills the record's cells from the screen under the display lock, so a
    // snapshot never shows half a tick.
    void flldd(CoreCnst::DISPLAYDATA* data);
    // Frees the record's arrays and empties it; the record stays the caller's.
    void deldd(CoreCnst::DISPLAYDATA* data);

private:
    using HANDLER = void (CoreDsif::*)();
    // Draw-on-entry handlers by page id + 1 (pages -1..23) and per-tick
    // handlers by page id + 1 (pages -1..19); null runs nothing.
    static HANDLER const entryhandlers[CoreStte::iCpages + 1];
    static HANDLER const tickhandlers[CoreStte::iCpagesimplemaster + 2];

    static bool isbatch(short page);     // 22 or 23
    static bool isbootbatch(short page); // 20..23
    void runentry(short page);
    void runtick(short page);
    void entrynone(); // page -1 on entry
    // Input handling, button row and extra zone common to pages -1..19, run
    // before the page's own tick.
    void tickcommon();
    void drawextra();                     // the extra zone: what the eight mix controls carry
    void ticknone();                      // page -1 per tick
    void entryprogram();                  // page 0 on entry: edit field, pop-up menu
    void tickprogram();                   // page 0 per tick, either view
    void tickprogramlist();               // page 0 per tick, list view
    void tickprogramdetail();             // page 0 per tick, detail view
    void tickprogramtop();                // page 0: name, slot field, blanks
    void tickprogramrows(bool detail);    // page 0: parameter drag and rows
    void tickprogramfigures(bool simple); // pages 0 and 18: the title row's figures
    void tickprogramtexts();              // pages 0 and 18: description and rate rows
    void tickprogramgains();              // pages 0 and 18: the IN and OUT gains, row 8
    void ticksimpleprogram();             // page 18 per tick; its entry is page 0's
    void entrylist();                     // page 1 on entry
    void ticklist();                      // page 1 per tick
    void ticklistpage(bool simple);       // pages 1 and 17 (simple: top level, two columns)
    // Pages 1 and 17: the category column; toplevel: no descent, list of property 173.
    void ticklistcategories(CoreAnsx& filter, bool toplevel);
    void entrysimplelist(); // page 17 on entry: browse level 0
    void ticksimplelist();  // page 17 per tick
    // Program page's loads, reload and save.
    void postprogram(int slot);
    void postreload();
    void postsave();
    // A slot search (property 168 or 169) from start by step. Any negative
    // answer, and an answer 0 that is not slot 0 itself, is no slot: -1.
    int slotat(int id, int start, int step);
    CoreAnsx gaintext(double linear); // dB, "%.5f" cut to 6, trimmed
    CoreAnsx ratetext();              // "file rate Hz -> running rate Hz", cut to 30
    void entrybatch();                // pages 22 and 23 on entry
    void tickbatch();                 // pages 22 and 23 per tick
    void tickboot(bool attached);     // page 20 per tick
    // Draws the error line where the page on screen keeps it: a failed save
    // or a refusal, else on the program pages a load that fell back.
    void drerr();
    CoreAnsx loadline(); // "SLOT 2 FAILED: SAT2.WAV NOT OPENED", "" while none
    // Posts a program load; the caller holds the display lock.
    void postload(int index);
    // Clears the batch variables and sets those of a program load that
    // returns to action, with its first step.
    void loadvars(int index, CoreAnsx const& action,
                  CoreAnsx const& step = CoreAnsx("READPROGRAM"));
    // Posts a program load, or keeps it during the boot or a batch; the
    // caller holds the display lock (loadp and setmr share it).
    void requestload(int index);
    // The page "ACTION" leads to after a batch, under the display lock.
    short afterbatch(CoreAnsx const& action);
    void lowerpriority(int previous); // back to the level before the batch

    // ---- Kernel (5), memory (6) and global (8) pages: display/pages/
    void entrykern(); // kernel page on entry: the list of kernels and the group lengths
    void tickkern();  // kernel page per tick
    void entrymemo(); // memory page on entry: slot browser and the program's texts
    void tickmemo();  // memory page per tick
    void entryglob(); // global page on entry: the program's 27 global values
    void tickglob();  // global page per tick
    // Posts a batch: clears the batch variables, sets these (name, value) in
    // order, "ACTION" and "NEXTSTEP" last, and sets the tick's event "BTCH".
    void postbt(std::initializer_list<std::pair<char const*, CoreAnsx>> variables);
    int selectedslot() const { return bank * iCbankdim + program; } // bank x 100 + program
    CoreAnsx newname{""};   // memory page: the name a version is saved under
    CoreAnsx errorline{""}; // the error line's text, "" none
    long errorkeys = 0;     // the edit group's key count when it was set
    // ---- Modulator edit pages: the shared frame and the LFO (7), function
    // generator (9), envelope follower (10), envelope (11) and dynamics (12)
    // pages, in display/pages/. The frame keeps, per field, what the engine
    // held when the field was loaded: a field the user has not changed is
    // written back with exactly that, so a visit loses nothing a field
    // cannot show (a key off its list, a curve without a row, a sample count
    // that milliseconds round).
    struct EDITLOAD {
        CoreAnsx key;         // a stored key, or a constant's exact number text
        double number = 0.0;  // a stored number, row or sample count
        bool touched = false; // a control or a drag changed the field since the load
    };
    void editentry(short count);    // the gadget's fields for the page, loads forgotten
    CoreDstx* editfield(short idx); // null outside the page's fields
    // A numeric field loaded with value (stored: what the engine holds).
    void editnumber(short idx, short column, short row, short width, CoreAnsx const& unit,
                    bool whole, double minimum, double maximum, double value, double stored);
    // A choice field on row selected of texts (key, stored: what the engine holds).
    void editchoice(short idx, short column, short row, short width, int count,
                    CoreAnsx const* texts, int selected, CoreAnsx const& key, double stored);
    // A choice of the source labels, 7 wide, on the row of the stored key.
    void editsource(short idx, short column, short row, CoreAnsx const& key);
    int sourcerow(CoreAnsx const& key); // row of a source key, 0 when it is not one
    // The title "  EditMode: <word>", then the tick's click and draw of the
    // fields; false when the page's count of fields is missing.
    bool edittick(CoreAnsx const& word, short count);
    bool editchanged(short idx);              // ischg, remembering the field as touched
    CoreAnsx editkey(short idx);              // touched: the selected row's source key, else stored
    double editout(short idx, double now);    // touched: now, else the stored number
    void editexit();                          // "  EXIT  " at (50, 0), event "PROG"
    void editstep(short& number, short last); // "<<", ">>" and number + 1 on row 1
    double showms(long samples);              // a sample count as shown, in ms at the host rate
    long editsamples(short idx);              // touched: the field's ms in samples, else stored
    void entrylfo();
    void ticklfo();
    void entryfunction();
    void tickfunction();
    void entryfollower();
    void tickfollower();
    void entryenvelope();
    void tickenvelope();
    void entrydynamics();
    void tickdynamics();
    std::vector<EDITLOAD> editloads; // per field of the current edit page
    short follower = 0;              // envelope follower being edited, 0..4
    short envelope = 0;              // envelope being edited, 0..1
    // ---- end of the modulator edit pages

    // ---- Master (2), MIDI (3), disk (4), parameter modulator list (13) and
    // settings (14), about (15) and test (16) pages, in display/pages/.
    void entrymast();       // master page on entry: version, the 20 settings, the skin list
    void tickmast();        // master page per tick: header, write-back of a changed setting, SAVE
    void entrysimplemast(); // simple master page on entry: version, mode, meter, colour
    void ticksimplemast();  // simple master page per tick: the changes, Guru's bounce, SAVE
    void entrymidi(); // MIDI page on entry: the eight slots' controller fields and bound labels
    void tickmidi();  // MIDI page per tick: slots, learn buttons, "IN", SAVE
    void entrydisk(); // disk page on entry: latency, memory, version and bridge rows
    void tickdisk();  // disk page per tick: the program's impulse memory in the header
    void entryprms(); // parameter modulator list on entry
    void tickprms();  // the list, selection, drags, moves, visibility and EDIT
    void entryparm(); // parameter modulator settings on entry: 4 value and 8 edit fields
    void tickparm();  // parameter modulator settings per tick
    void entryabou(); // about page on entry
    void tickabou();  // about page per tick: title, credit lines, EXIT
    void entrytest(); // test page on entry: period and cycle fields
    void ticktest();  // test page per tick: countdown and the next load
    // Master page: one field's write-back, r its row and x its number.
    void mastwrite(short idx, int r, double x);
    // Parameter modulator settings: argument A or B (field 2 or 3) as written.
    CoreAnsx parmargument(short idx);
    std::vector<CoreAnsx> skinlist; // master page: names in the current skin's folder
    bool mastfirst = false;         // master page: the first tick after entry is due
    // The selected parameter modulator (-1 none), range-checked before every
    // bus call; the program pages keep their drag row apart, in dragrow.
    short prmselect = -1;
    short prmcopy = -1;   // the selection as the list last drew it; page 14's title
    bool prmdrag = false; // a drag started on a list row is in progress
    int prmoriginx = 0;   // drag origin, editor pixels
    int prmoriginy = 0;
    double parmbounds[4] =
        {};                   // settings page: minimum, maximum, bar minimum, bar maximum as loaded
    bool parmtouched[4] = {}; // settings page: the user committed that bound
    bool parmvalid = false;   // settings page: entered with a selection in 0..15
    // ---- end of pages 2, 3, 4, 13, 14, 15 and 16

    CoreAnsx home;                    // home page code: setdp applies it, loads post it as "ACTION"
    PAGESTATE pages;                  // the pages' scratch state
    std::vector<CoreAnsx> sourcekeys; // the 84 source keys, bus order
    std::vector<CoreAnsx> sourcelabels;   // the 84 source labels
    std::vector<CoreAnsx> waveformkeys;   // group 0 keys, catalogue order
    std::vector<CoreAnsx> waveformlabels; // group 0 labels
    std::vector<CoreAnsx> functionkeys;   // group 1 keys
    std::vector<CoreAnsx> functionlabels; // group 1 labels
    int catalogueextra;                   // kept beside the catalogue counts, 0
    int sourcecount;                      // 84
    int waveformcount;                    // 33
    int functioncount;                    // 45
    int slotcopy[2];                      // slot copies set by setsp
    int bank;                             // selected bank, 0..99
    int program;                          // selected program, 0..99
    int mouseword3;                       // third word of the last mouse message
    int mouseword4;                       // fourth word of the last mouse message
    int mousex;                           // plug-in's mouse state, x pixels
    int mousey;                           // plug-in's mouse state, y pixels
    short clickcolumn;                    // the tick's click cell, (0, 0) for none
    short clickrow;
    short dimx;                          // main columns
    short dimy;                          // main rows
    short dimaddx;                       // extra columns
    short dimaddy;                       // extra rows
    short hdimmax;                       // harmonic maximum (property 43), read once
    short current;                       // page on screen
    short requested;                     // page the next tick enters
    short menuwidth;                     // characters per button: dimx / 6
    short messagecount;                  // batch message rows, 8
    short fontcolour;                    // property 32, read once
    CoreAnsx programtexts[iCbankdim];    // "0 " .. "99 "
    CoreAnsx banktexts[iCbanks];         // "0 " .. "99 "
    CoreAnsx messagerows[iCmessagerows]; // rows copied from the message list
    CoreAnsx progress;                   // batch progress line (engine message row 0)
    CoreAnsx event;                      // page event of the running tick
    bool changedtick;                    // the page changed in the running tick
    bool mouseheld;                      // mouse button held
    bool redraw;                         // run the page's draw-on-entry again next tick
    bool programmenu;                    // the program page's pop-up menu is armed
    int pendingload;                     // program index kept during boot or batch, -1 none
    CoreBean* engine;                    // not owned
    std::unique_ptr<CoreDsbf> buffer;    // the screen
    std::unique_ptr<CoreMenu> menus[CoreMenu::iCdisplaymenus]; // the six button rows
    CoreMenu* currentmenu;                                     // one of menus
    CoreBlnk* blink;                                           // not owned
    CoreDspc* mailbox;                                         // not owned
    std::unique_ptr<CoreDsbr> bars[2];                         // 6-cell and 4-cell bars
    std::unique_ptr<CoreStte> transitions;                     // page transition table
    std::unique_ptr<CoreDsgt> gadget;                          // value gadget
    std::unique_ptr<CoreDsge> editgroup;                       // edit field group
    std::unique_ptr<CoreDsgm> popups;                          // pop-up menu group
    CoreSkin* skin;                                            // not owned
    std::unique_ptr<CorePmsg> messages;                        // batch step lines, 8 x 58
    std::unique_ptr<CoreTevn> wake;                            // wakes the thread for a batch
    std::unique_ptr<CoreSmph> lock;                            // the display lock
    int batchlevel;                           // priority level for a batch, normalised
    CoreCnst::POPMENUCONTENTDATA* popcontent; // not owned, set by setpd
    CorePlif* plugin;                         // not owned; null posts nothing

    // Program browsing state of pages 0 and 1; it survives page changes.
    static constexpr int iClistrows = iCdimy - 2; // program page's list rows
    static constexpr int iCgridrows = iCdimy - 3; // list page's grid rows
    static constexpr int iCgridcolumns = 3;       // list page's grid columns
    bool detailview = true;                       // program page shows its detail view
    bool menurebuild = true;  // the program pop-up's tree is rebuilt: set at construction, by
                              // the memory page when it changes program memory or the loaded
                              // program's texts, and by setdp (a host chunk was restored)
    int programtop = 0;       // first slot of the program page's list
    int listrows[iClistrows]; // slot per list row, -1 none
    short dragrow = -1;       // parameter row dragged, -1 none
    // Parameter row the user chose for the wheel (numbered as dragrow), -1
    // none; the engine forgets its control when a program is selected.
    short wheelrow = -1;
    int browsetop = 0;                          // first slot of the list page's grid
    bool allprograms = false;                   // the grid lists every program
    int browselevel = 0;                        // category level being chosen, 0..2
    std::vector<CoreAnsx> categories;           // the level's category names
    int categorycount = 0;                      // entries of categories
    int categoryoffset = 0;                     // first category shown
    int selectedcategory = 0;                   // chosen category's index
    int remembered[3] = {0, 0, 0};              // selection of level L - 1 when L was entered
    CoreAnsx levelfilters[3] = {"0", "0", "0"}; // filter last written per level
    int gridcells[iCgridcolumns][iCgridrows];   // slot per grid cell, -1 none

    friend struct CoreDsifPeek; // the display tests' read-only view
};
