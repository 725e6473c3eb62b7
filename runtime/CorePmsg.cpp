#include "runtime/CorePmsg.h"

#include "runtime/CoreSmgd.h"

CorePmsg::CorePmsg(int rows, int width)
    : rows(rows > 0 ? rows : 0), width(width > 0 ? width : 0), used(0), row(nullptr) {
    if (this->rows > 0) row = new CoreAnsx[this->rows];
    clear();
}

CorePmsg::~CorePmsg() { delete[] row; }

void CorePmsg::addrw(CoreAnsx text) {
    // With no rows there is nowhere to put a message.
    if (rows == 0) return;
    // The cut happens before the lock is taken: it allocates.
    int length = text.Length();
    CoreAnsx kept =
        length > width ? text.SubString(length - width + 1, width) : CoreAnsx(text.c_str());

    CoreSmgd hold(lock);
    if (used >= rows) {
        for (int i = 1; i < rows; ++i) row[i - 1] = row[i];
        --used;
    }
    row[used] = kept;
    ++used;
}

void CorePmsg::clear() {
    CoreSmgd hold(lock);
    used = 0;
    for (int i = 0; i < rows; ++i) row[i] = CoreAnsx("");
}

int CorePmsg::getrw() {
    CoreSmgd hold(lock);
    return rows;
}

void CorePmsg::getrw(CoreAnsx* target) {
    if (target == nullptr) return;
    CoreSmgd hold(lock);
    for (int i = 0; i < rows; ++i) target[i] = row[i];
}

CoreAnsx CorePmsg::getrw(short index) {
    if (index < 0 || index >= rows) return CoreAnsx("");
    CoreSmgd hold(lock);
    return row[index];
}
