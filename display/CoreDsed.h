#pragma once
// CoreDsed: one edit field of the display: a fixed run of cells in which the
// user types a text, a whole number or a decimal number. It keeps the text
// being typed beside the last confirmed one, so an edit is either confirmed
// (validated by kind) or dropped, turns the display's key codes into cursor
// moves, deletions, insertions and overwrites, and draws itself with a
// visible cursor while armed. The text "0" means nothing to show; number
// kinds therefore store zero as "0 ".
// Owner: the edit field group (CoreDsge), which creates and deletes it.
// Threads: control thread, inside a display tick.

#include "runtime/CoreAnsx.h"

class CoreDsbf;

class CoreDsed {
public:
    // Key codes of the mailbox's key records that stand for editing keys.
    static constexpr char iCkeyreturn = 13;
    static constexpr char iCkeybackspace = 8;
    static constexpr char iCkeydelete = '.';
    static constexpr char iCkeyend = '#';
    static constexpr char iCkeyhome = '$';
    static constexpr char iCkeyleft = '%';
    static constexpr char iCkeyright = '\'';
    static constexpr char iCkeyinsert = '-';
    // Kinds.
    static constexpr short iCkindtext = 0;
    static constexpr short iCkindwhole = 1;
    static constexpr short iCkinddecimal = 2;

    explicit CoreDsed(CoreDsbf* buffer); // buffer not owned; empty, not armed

    // Fonts, place, width (also the click area, one row high), clear on arm
    // and kind; makes the field visible. Value and cursor stay.
    void defne(short textfont, short cursorfont, short column, short row, short width,
               bool clearonarm, short kind);
    void setx_(short column);                                       // moves the drawing place only
    void setrg(short column, short row, short width, short height); // click area only
    void movea(bool hidden);                                        // hides or shows
    // Whether the cell arms the field (click area, right and bottom edges
    // outside; never while hidden); on a hit places the cursor there.
    bool ishre(short column, short row);
    bool getar(); // armed
    // Arming clears the edit state (and the value with clear on arm);
    // disarming confirms the edit when a key touched it, else drops it.
    void setar(bool arm);
    // True once for a confirmed edit (value differs from the committed one,
    // not armed); commits it.
    bool ischg();
    // True once after an edit was confirmed by a key, whatever its value
    // (ischg stays quiet for a value equal to the committed one).
    bool iscnf();
    bool valdt(); // normalises the value by kind
    CoreAnsx getvs();
    double getvd();
    int getvi();
    // Set value and committed value, validated; ignored while armed.
    void setvs(CoreAnsx const& text);
    void setvd(double value);
    void setvi(int value);
    // Applies typed key codes. In a whole-number field any other character
    // than a digit or an editing key ("-" too) ends the edit and drops it.
    void updte(CoreAnsx const& keys);
    void draw_();
    // Ends an edit in progress without confirming it (the page goes away).
    void dropEdit();

private:
    void typed(char* line, char c); // one character into the work line, by mode
    void commit();                  // committed value := value after setv*

    CoreAnsx value;     // the text shown or typed
    CoreAnsx committed; // the last confirmed text
    short cursor;       // cell of the cursor within the field
    short column;       // drawing place
    short row;
    short areacolumn; // click area
    short arearow;
    short areawidth;
    short areaheight;
    short width;      // cells
    short textfont;   // font of the text
    short cursorfont; // font of the cursor cell
    short kind;       // iCkindtext, iCkindwhole or iCkinddecimal
    bool armed;       // being edited
    bool clearonarm;  // arming empties the value
    bool edited;      // a key changed or tried to change the text since arming
    bool insert;      // insert mode; false overwrites
    bool hidden;      // neither drawn nor hit
    bool confirmed;   // an edit touched by a key was confirmed, not yet asked
    CoreDsbf* buffer; // not owned
};
