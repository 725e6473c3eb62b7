#include "modulation/CoreIfce.h"

#include <cmath>

#include "modulation/CoreSrce.h"
#include "runtime/CoreBlnk.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"

double CoreIfce::dVfixedled = 3.0;

CoreIfce::CoreIfce(CoreAnsx const& name, double minimum, double maximum, CoreAnsx const& label,
                   CoreAnsx const& unit, CoreSrce* source, double initial, bool led,
                   CoreBlnk* blinker)
    : CoreIfce(name, minimum, maximum, label, unit, source, initial, led, blinker, nullptr) {}

CoreIfce::CoreIfce(CoreAnsx const& name, double minimum, double maximum, CoreAnsx const& label,
                   CoreAnsx const& unit, CoreSrce* source, double initial, bool led,
                   CoreBlnk* blinker, CLOCK clock)
    : name(name), label(label), unit(unit), minimum(minimum), maximum(maximum),
      wheelfactor(1.0 / iCdefaultcoarse), pavalue(-2.0), slotinuse(0), coarse(-1), expired(led),
      led(led), raw{initial, 0.0}, reference{0.0, 0.0}, shown{0, 0},
      indicator{led ? short(3) : short(0), 0}, valid{false, false}, source(source),
      blinker(led ? blinker : nullptr), timer(0.0), clock(clock ? clock : &CoreXutl::ttime) {}

CoreIfce::~CoreIfce() {
    source = nullptr;
    blinker = nullptr;
}

double CoreIfce::fractionOf(int slot) const { return shareOf(raw[slot]); }

double CoreIfce::shareOf(double value) const {
    double const span = maximum - minimum;
    if (span == 0.0) return 0.0; // a one-point range has no position
    return (value - minimum) / span;
}

double CoreIfce::rawOf(double fraction) const {
    return CoreButl::flushSubnormal(minimum + (maximum - minimum) * fraction);
}

void CoreIfce::setFraction(double fraction, int slot) {
    if (!valid[slot]) return;
    double const old = raw[slot];
    double const value = rawOf(fraction);
    raw[slot] = value;
    if (value > reference[slot])
        indicator[slot] = 1;
    else if (value < reference[slot] || std::isnan(value) || std::isnan(reference[slot]))
        indicator[slot] = 2;
    else
        indicator[slot] = 3;
    if (!(value == old)) {
        timer = clock() + dVfixedled / CoreButl::dCsecondsperday;
        expired = false;
    }
    if (slot == 0 && source) source->setvl(value);
}

void CoreIfce::setiv(double value, bool isvalid, bool main) {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    int const s = addressed(main);
    raw[s] = value;
    reference[s] = value;
    indicator[s] = 3;
    shown[s] = 0;
    valid[s] = isvalid;
    if (s == 0 && source) source->setvl(value);
}

void CoreIfce::setvl(double fraction, bool main) {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    setFraction(fraction, addressed(main));
}

double CoreIfce::getvl(bool main) {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    return fractionOf(addressed(main));
}

double CoreIfce::getiv(bool main) {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    return raw[addressed(main)];
}

bool CoreIfce::getpv(double fraction, double& value, double& share) {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    value = rawOf(fraction);
    share = slotinuse == 0 ? shareOf(value) : fractionOf(slotinuse);
    return valid[0];
}

bool CoreIfce::isval(bool main) {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    return valid[addressed(main)];
}

void CoreIfce::mode_(bool on) {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    if (!on) {
        slotinuse = 0;
        return;
    }
    slotinuse = 1;
    valid[1] = false;
    indicator[1] = 3;
    shown[1] = 0;
    raw[1] = minimum;
    reference[1] = minimum;
    expired = false;
}

bool CoreIfce::isalt() {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    return slotinuse == 1;
}

short CoreIfce::getml() {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    int const s = slotinuse;
    if (!led || !valid[s]) return 0;
    short state = indicator[s];
    if (s == 0 && !expired && clock() > timer) expired = true;
    if (expired && blinker && !blinker->getvl()) state = 0;
    shown[s] = state;
    return state;
}

short CoreIfce::getll() {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    return shown[slotinuse];
}

void CoreIfce::mswhl(int clicks) {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    double const f = fractionOf(slotinuse);
    double const d = static_cast<double>(clicks) * clicks * wheelfactor;
    double next;
    if (clicks < 1)
        next = f - d > 0.0 ? f - d : 0.0;
    else
        next = f + d < 1.0 ? f + d : 1.0;
    setFraction(next, slotinuse);
}

void CoreIfce::settf(int n) {
    if (n < 1) {
        CoreLog_::loger(CoreAnsx("Wheel resolution must be positive: ") + CoreAnsx(n), 1);
        return;
    }
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    wheelfactor = 1.0 / n;
}

double CoreIfce::getnh(double old, int& px, int& py, int x, int y) {
    double v = old + (x - px) * dCincrx + (py - y) * dCincry;
    if (v < 0.0)
        v = 0.0;
    else if (v > 1.0)
        v = 1.0;
    px = x;
    py = y;
    return v;
}

short CoreIfce::getcp() {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    return coarse;
}

void CoreIfce::setcp(short steps) {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    coarse = steps;
}

double CoreIfce::getpa() {
    CoreSmgd guard(palock, CoreSmgd::BRIEF{});
    return pavalue;
}

void CoreIfce::setpa(double value) {
    CoreSmgd guard(palock, CoreSmgd::BRIEF{});
    pavalue = value;
}

CoreAnsx CoreIfce::getlb() {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    return label;
}

CoreAnsx CoreIfce::getun() {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    return unit;
}
