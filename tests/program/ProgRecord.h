#pragma once
// Every getter of a program, its slots and its modulators read into one
// comparable record ("group getter" -> value text, numbers to 17 digits), so
// two programs are compared in one step and their differences named. Test
// thread only.

#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "tests/program/ProgProbe.h"

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>

struct ProgRecord : std::map<std::string, std::string> {
    // One entry per name of names (separated by blanks), in order with values.
    template <typename... V> void put(std::string const& group, char const* names, V const&... v) {
        std::istringstream in(names);
        auto one = [&](auto const& value) {
            std::string name;
            in >> name;
            (*this)[group + " " + name] = text(value);
        };
        (one(v), ...);
    }
    // Entries whose values differ, or that only one record holds: key -> "a | b".
    std::map<std::string, std::string> diff(ProgRecord const& other) const {
        std::map<std::string, std::string> out;
        for (auto const& [key, value] : *this) {
            auto const it = other.find(key);
            std::string const theirs = it == other.end() ? "(none)" : it->second;
            if (theirs != value) out[key] = value + " | " + theirs;
        }
        for (auto const& [key, value] : other)
            if (!count(key)) out[key] = "(none) | " + value;
        return out;
    }

private:
    template <typename T> static std::string text(T const& v) {
        if constexpr (std::is_same_v<T, CoreAnsx>) {
            return v.c_str();
        } else if constexpr (std::is_same_v<T, bool>) {
            return v ? "true" : "false";
        } else if constexpr (std::is_floating_point_v<T>) {
            char buffer[40];
            std::snprintf(buffer, sizeof buffer, "%.17g", static_cast<double>(v));
            return buffer;
        } else {
            return std::to_string(v);
        }
    }
};

// The record of p. Inputs of FUN and PRM as written (getsa: constants with
// ten decimals), other controls as bound.
inline ProgRecord recordOf(ProgProbe& p) {
    ProgRecord r;
    r.put("PROG", "getnm getds getct0 getct1 getct2 getfs getys getar vectorfile trimin trimout",
          p.getnm(), p.getds(), p.getct(0), p.getct(1), p.getct(2), p.getfs(), p.getys(), p.getar(),
          p.vectorFile(), p.trimIn()->getsc(), p.trimOut()->getsc());
    r.put("PROG",
          "getff getdr getpi getpo getua getpr getsh getst getf2 getfm getfi getfh getrf getry "
          "getaf getti getto getab getsm getsz getof getfr getcr gethc gethcall getnc",
          p.getff(), p.getdr(), p.getpi(), p.getpo(), p.getua(), p.getpr(), p.getsh(), p.getst(),
          p.getf2(), p.getfm(), p.getfi(), p.getfh(), p.getrf(), p.getry(), p.getaf(), p.getti(),
          p.getto(), p.getab(), p.getsm(), p.getsz(), p.getof(), p.getfr(), p.getcr(),
          p.gethc(false), p.gethc(true), p.getnc());
    for (short i = 0; i < CoreProg::iCifces; ++i) {
        CoreIfce* c = p.getif(i);
        r.put("IFCE" + std::to_string(i + 1), "isval getiv getvlmain getvl isalt", c->isval(true),
              c->getiv(true), c->getvl(true), c->getvl(false), c->isalt());
    }
    for (short s = 0; s <= p.cap(); ++s) {
        ProgProbe::HLOC& h = p.slot(s);
        r.put("H" + std::to_string(s + 1),
              "getbr getv3 getid getep getex getco getib00 getib01 getib10 getib11 getts ismkr "
              "inuse offset fadein normalfadeout normallimit extendedlimit train",
              p.getbr(s), p.getv3(s), p.getid(s), p.getep(s), p.getex(s), p.getco(s),
              p.getib(s, 0, false), p.getib(s, 0, true), p.getib(s, 1, false), p.getib(s, 1, true),
              p.getts(s), p.ismkr(s), h.inuse, h.offset, h.fadeinlength, h.normalfadeout,
              h.normallimit, h.extendedlimit, h.trainthreshold);
    }
    for (short i = 0; i < CoreProg::iClfos; ++i) {
        CoreLfo_* l = p.getlf(i);
        r.put("LFO" + std::to_string(i + 1), "getsl getsu getrc getsh getph getps getqt",
              l->getrt()->getsl(), l->getrt()->getsu(), l->getrc(), l->getsh(), l->getph(),
              l->getps(), l->getqt());
    }
    for (short i = 0; i < CoreProg::iCfuns; ++i)
        r.put("FUN" + std::to_string(i + 1), "a b fn", p.getfn(i)->getfa()->getsa(),
              p.getfn(i)->getfb()->getsa(), p.getfn(i)->getfn());
    for (short i = 0; i < CoreProg::iCevfs; ++i) {
        CoreEnvf* e = p.getef(i);
        r.put("EVF" + std::to_string(i + 1),
              "getex getba bbsrc dsrc_ osrc_ hpsrc enabt getbb gethp gethf getho getda getdr getoa "
              "getor getma getxa getmr getxr getat getrl",
              e->getex(), e->getba(), e->bbsrc(), e->dsrc_(), e->osrc_(), e->hpsrc(), e->enabt(),
              e->getbb(), e->gethp(), e->gethf(), e->getho(), e->getda(), e->getdr(), e->getoa(),
              e->getor(), e->getma(), e->getxa(), e->getmr(), e->getxr(), e->getat()->getsc(),
              e->getrl()->getsc());
    }
    for (short i = 0; i < CoreProg::iCenvs; ++i) {
        CoreEnv_* e = p.geten(i);
        std::string const g = "ENV" + std::to_string(i + 1);
        for (int k = 0; k < 4; ++k)
            r.put(g + "." + std::to_string(k), "source level time curve", e->getpr(k)->getsc(),
                  e->getlv()[k], e->gettm()[k], e->getcv()[k]);
        r.put(g, "getlf gettf", e->getlf(), e->gettf());
    }
    for (short i = 0; i < CoreProg::iCdnms; ++i) {
        CoreDynm* d = p.getdy(i);
        r.put("DNM" + std::to_string(i + 1), "getst getrc getbs0 getbs1 getbs2 getbd3 getbd4",
              d->getst(), d->getrc(), d->getbs(0), d->getbs(1), d->getbs(2), d->getbd(3),
              d->getbd(4));
    }
    for (short i = 0; i < CoreProg::iCprms; ++i) {
        CorePrm_* m = p.getpm(i);
        r.put("PRM" + std::to_string(i + 1),
              "isdis getpl getlb getpu getou getun getbd0 getbd1 getbd2 getbd3 a b fn", m->isdis(),
              m->getpl(), m->getlb(), m->getpu(), m->getou(), m->getun(), m->getbd(0), m->getbd(1),
              m->getbd(2), m->getbd(3), m->getfa()->getsa(), m->getfb()->getsa(), m->getfn());
    }
    return r;
}
