#include "storage/CoreRcsv.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreXutl.h"
#include "storage/CoreFsys.h"

namespace {

// One value of the list: the conversion of the text between two ";" with its
// line feeds removed. Read in the C locale whatever the host has set, so "."
// is the decimal point. Text that is no number, and values no sample can hold
// (infinities, NaN), give 0.0; zero and subnormal values are stored as +0.0.
double toValue(std::string& field) {
    static locale_t const cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    double v =
        cLocale ? strtod_l(field.c_str(), nullptr, cLocale) : std::strtod(field.c_str(), nullptr);
    if (!std::isfinite(v)) return 0.0;
    return CoreButl::flushSubnormal(v);
}

} // namespace

CoreRcsv::CoreRcsv(CorePool* pool, CoreFsys* store)
    : text(""), item(-1), open(false), store(store), pool(pool) {}

CoreRcsv::~CoreRcsv() { close(); }

bool CoreRcsv::open_(CoreAnsx name) {
    close();
    text = "";
    if (store == nullptr) return false;
    item = store->crtit(name, false);
    int index = 0;
    CoreFsys::FSYSTEMLOC const* record = store->gtiit(item, index);
    bool const held = record != nullptr && record->inmemory;
    // Refused by its size (the opener has said so), the list must not be
    // opened again without the bound.
    if (!held && !store->loadc(item, true, CoreButl::iCwholebytes) && CoreButl::fferr() == EFBIG)
        return false;
    errno = 0;
    open = store->wopen(item, "rb");
    if (open) return true;
    // The name as the program names it, and why: a list that is not there
    // reads as missing, one the opener refused by its kind says so.
    CoreLog_::logfl(CoreAnsx("\"") + name + CoreAnsx("\": ") + CoreButl::opnwy(), 0);
    return false;
}

long CoreRcsv::getdr() {
    if (!open) return 0;
    // Replaces rather than appends: a second call must not double the list.
    text = store->ct2as(item);
    return getdt(nullptr, true);
}

long CoreRcsv::getdt(double* destination, bool countOnly) {
    if (!open || text.Length() <= 0) return 0;
    bool const store_ = !countOnly && destination != nullptr;
    char const* p = text.c_str();
    std::string field;
    long n = 0;
    for (; *p != '\0'; ++p) {
        if (*p == ';') {
            if (store_) destination[n] = toValue(field);
            ++n;
            field.clear();
        } else if (*p != '\n') {
            field.push_back(*p);
        }
    }
    return n;
}

void CoreRcsv::close() {
    if (open && store != nullptr) store->wclse(item);
    open = false;
}

CoreAnsx CoreRcsv::crtcn(double* values, long n) {
    std::string out;
    if (values != nullptr)
        for (long k = 0; k < n; ++k) {
            out += CoreAnsx::_FloatToStrF(values[k], 0, 18, 16).c_str();
            out += ";\n";
        }
    return CoreAnsx(out.c_str());
}

bool CoreRcsv::wfile(CoreAnsx name, double* values, long n) {
    if (store == nullptr) return false;
    CoreAnsx path = store->getdt() + name;
    CoreAnsx folder = CoreButl::getpt(path);
    if (!CoreXutl::ispvl(CoreButl::ffpen(folder))) {
        CoreLog_::logfl(path, 1);
        return false;
    }
    CoreAnsx content = crtcn(values, n);
    size_t const size = static_cast<size_t>(content.Length() > 0 ? content.Length() : 0);
    // Replaced in one step: a failed write leaves the previous list whole.
    return CoreButl::wrall(path, content.c_str(), size);
}
