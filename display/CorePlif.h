#pragma once
// CorePlif: the plug-in object as the display sees it: the private-property
// getter and setter and the change announcement that carry the display's
// traffic to the editor (mouse state, keyboard capture, pop-up menus). The
// display holds it where it holds the plug-in object; a null one means
// nothing is posted and there is no mouse state.
//
// Host-side contract: the host holds no lock of its own while it calls into
// the display (`CoreDsif::flldd`, `CoreDsif::setmr`, the mailbox), and its
// gtprp, stprp and prchg never call back into the display: the display calls
// them from inside its tick, under the display lock.
// Owner: the plug-in shell, which outlives the display.
// Threads: called by the display on the control thread, under the display lock.

class CorePlif {
public:
    // The private properties the display and the editor exchange.
    static constexpr int iCpropinput = 100100;   // 20-byte input record into the mailbox
    static constexpr int iCpropmouse = 100101;   // 12-byte mouse state: x, y, button word
    static constexpr int iCpropcells = 100104;   // snapshot cells, total x 8 bytes
    static constexpr int iCpropcapture = 100105; // 1 byte: the editor captures the keyboard
    static constexpr int iCproparm = 100106;     // 20-byte pop-up menu arm record
    static constexpr int iCpropentries = 100107; // pop-up menu entries, count x 52 bytes
    static constexpr int iCpropchoice = 100108;  // the 52-byte entry the user chose

    virtual ~CorePlif() = default;

    // Copies the property into data; answers 1 when the id was served, else 0.
    virtual int gtprp(int id, int index, int value, void* data) = 0;
    // Takes size bytes of data as the property; answers 1 when served, else 0.
    virtual int stprp(int id, int index, int value, void* data, unsigned long size) = 0;
    // Announces a changed property to the editor's listeners.
    virtual void prchg(int id, int index, int value) = 0;
};
