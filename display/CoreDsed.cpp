#include "display/CoreDsed.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "display/CoreDsbf.h"
#include "runtime/CoreButl.h"

CoreDsed::CoreDsed(CoreDsbf* buffer)
    : value(""), committed(""), cursor(0), column(0), row(0), areacolumn(0), arearow(0),
      areawidth(0), areaheight(0), width(0), textfont(0), cursorfont(1), kind(iCkindtext),
      armed(false), clearonarm(false), edited(false), insert(false), hidden(false),
      confirmed(false), buffer(buffer) {}

void CoreDsed::defne(short textfont, short cursorfont, short column, short row, short width,
                     bool clearonarm, short kind) {
    this->textfont = textfont;
    this->cursorfont = cursorfont;
    this->column = areacolumn = column;
    this->row = arearow = row;
    this->width = areawidth = width;
    areaheight = 1;
    this->clearonarm = clearonarm;
    this->kind = kind;
    hidden = false;
}

void CoreDsed::setx_(short column) { this->column = column; }

void CoreDsed::setrg(short column, short row, short width, short height) {
    areacolumn = column;
    arearow = row;
    areawidth = width;
    areaheight = height;
}

void CoreDsed::movea(bool hidden) { this->hidden = hidden; }

bool CoreDsed::ishre(short column, short row) {
    if (hidden || column < areacolumn || column >= areacolumn + areawidth || row < arearow ||
        row >= arearow + areaheight)
        return false;
    int place = column - areacolumn;
    cursor = clearonarm || place < 0 || place > width - 1 ? short(0) : short(place);
    return true;
}

bool CoreDsed::getar() { return armed; }

void CoreDsed::setar(bool arm) {
    if (arm) {
        if (clearonarm) value = CoreAnsx("");
        edited = false;
        insert = false;
        armed = true;
        confirmed = false;
        return;
    }
    if (edited)
        valdt();
    else
        value = committed;
    if (armed) confirmed = edited;
    armed = false;
}

void CoreDsed::dropEdit() {
    if (!armed) return;
    value = committed;
    edited = false;
    armed = false;
}

bool CoreDsed::iscnf() {
    bool was = confirmed;
    confirmed = false;
    return was;
}

bool CoreDsed::ischg() {
    if (armed || value == committed) return false;
    committed = value;
    return true;
}

bool CoreDsed::valdt() {
    if (kind == iCkindwhole) {
        int number = value.Trim().ToInt();
        value = number == 0 ? CoreAnsx("0 ") : CoreAnsx(number);
    } else if (kind == iCkinddecimal) {
        double number = value.Trim().ToDouble();
        value = number == 0.0 ? CoreAnsx("0 ") : CoreAnsx(number);
    }
    return true;
}

CoreAnsx CoreDsed::getvs() { return value; }

double CoreDsed::getvd() { return value.ToDouble(); }

int CoreDsed::getvi() { return value.ToInt(); }

void CoreDsed::commit() {
    if (valdt())
        committed = value;
    else
        value = committed;
}

void CoreDsed::setvs(CoreAnsx const& text) {
    if (armed) return;
    value = text;
    commit();
}

void CoreDsed::setvd(double number) {
    if (armed) return;
    value = CoreButl::dotas(number);
    commit();
}

void CoreDsed::setvi(int number) {
    if (armed) return;
    value = CoreAnsx(number);
    commit();
}

void CoreDsed::typed(char* line, char c) {
    if (!insert) {
        line[cursor] = c == '_' ? '-' : c;
        ++cursor;
        return;
    }
    if (line[width - 1] != ' ') return; // a full line takes nothing more
    for (int i = width - 1; i > cursor; --i) line[i] = line[i - 1];
    line[cursor] = c;
    ++cursor;
}

void CoreDsed::updte(CoreAnsx const& keys) {
    if (keys.Length() <= 0) return;
    std::string line(size_t(width > 0 ? width : 0), ' ');
    std::string shown = value.c_str();
    line.replace(0, std::min(shown.size(), line.size()), shown, 0, line.size());
    char const* codes = keys.c_str();
    // A cursor already at the end (or a field without cells) takes no key.
    bool open = cursor < width;
    if (!open) armed = false;
    bool dropped = false; // a whole number met a character it cannot hold
    for (int k = 0; open && codes[k] != '\0'; ++k) {
        char c = codes[k];
        int last = width - 1;
        if (c == iCkeyreturn) {
            armed = false;
        } else if (c == iCkeybackspace || c == iCkeydelete) {
            if (c == iCkeybackspace && cursor > 0) --cursor;
            line.erase(size_t(cursor), 1);
            line.push_back(' ');
            edited = true;
        } else if (c == iCkeyend) {
            size_t end = line.find_last_not_of(' ');
            cursor = end == std::string::npos ? short(0) : short(end);
        } else if (c == iCkeyhome) {
            cursor = 0;
        } else if (c == iCkeyleft) {
            if (cursor > 0) --cursor;
        } else if (c == iCkeyright) {
            ++cursor;
        } else if (kind == iCkindwhole && !std::isdigit(static_cast<unsigned char>(c))) {
            // "-" included: Insert has no use where digits always overwrite,
            // and a sign or a decimal comma taken as nothing would store
            // another number than the one typed.
            dropped = true;
            armed = false;
            open = false;
        } else if (c == iCkeyinsert) {
            insert = !insert;
        } else if (kind == iCkindwhole) {
            edited = true;
            line[size_t(cursor)] = c;
            ++cursor;
        } else if (kind == iCkinddecimal) {
            edited = true;
            if (c == 'n' || c == 'N') c = '-';
            if (c == ' ' || c == ',') c = '.';
            if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-')
                typed(line.data(), c);
        } else {
            edited = true;
            typed(line.data(), c);
        }
        if (cursor > last) {
            armed = false;
            open = false;
        }
    }
    if (dropped) {
        value = committed;
        edited = false;
        confirmed = false;
        return;
    }
    value = CoreAnsx(line.c_str());
    if (armed) return;
    if (edited)
        valdt();
    else
        value = committed;
    confirmed = edited;
}

void CoreDsed::draw_() {
    if (hidden || value == CoreAnsx("0") || buffer == nullptr) return;
    char fill = armed ? '.' : ' ';
    CoreAnsx shown = value.Length() > 0 ? value : CoreAnsx(fill);
    if (armed) shown = CoreButl::rplce(shown, ' ', '.');
    shown = CoreButl::rpad_(shown, width, fill);
    buffer->write(shown, column, row, textfont, false, false);
    if (!armed || cursor < 0 || cursor >= shown.Length()) return;
    buffer->write(CoreAnsx(shown.c_str()[cursor]), short(column + cursor), row, cursorfont, insert,
                  false);
}
