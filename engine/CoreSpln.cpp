#include "engine/CoreSpln.h"

#include <cmath>
#include <new>
#include <vector>

#include "runtime/CoreAnsx.h"
#include "runtime/CoreButl.h"

const int CoreSpln::iCnulldistance = -1;

namespace {

// The vectors here are small work arrays; running out of memory for them is
// reported the house way.
template <typename T> std::vector<T> workArray(std::size_t n) {
    try {
        return std::vector<T>(n);
    } catch (std::bad_alloc const&) {
        throw CoreAnsx("Memory request failed");
    }
}

bool unset(CoreSpln::POINT const& p) {
    return p.z == static_cast<double>(CoreSpln::iCnulldistance);
}

} // namespace

CoreSpln::CoreSpln(int order) : order(order < 1 ? 1 : order) {}

CoreSpln::~CoreSpln() = default;

void CoreSpln::intrv(int n, int t, int* knots) {
    if (knots == nullptr || n < 0 || t < 1) return;
    for (int j = 0; j <= n + t; ++j) {
        if (j < t)
            knots[j] = 0;
        else if (j <= n)
            knots[j] = j - t + 1;
        else
            knots[j] = n - t + 2;
    }
}

double CoreSpln::basis(int k, int t, int const* u, double v, double* scratch) {
    // Bottom-up Cox-de Boor: the recursion would cost 2^t calls per value.
    for (int j = 0; j < t; ++j) {
        int i = k + j;
        scratch[j] = (u[i] <= v && v < u[i + 1]) ? 1.0 : 0.0;
    }
    for (int s = 2; s <= t; ++s) {
        for (int j = 0; j <= t - s; ++j) {
            int i = k + j;
            double d1 = static_cast<double>(u[i + s - 1] - u[i]);
            double d2 = static_cast<double>(u[i + s] - u[i + 1]);
            double left = d1 != 0.0 ? (v - u[i]) / d1 * scratch[j] : 0.0;
            double right = d2 != 0.0 ? (u[i + s] - v) / d2 * scratch[j + 1] : 0.0;
            scratch[j] = left + right;
        }
    }
    return scratch[0];
}

double CoreSpln::blend(int k, int t, int const* knots, double v) {
    if (knots == nullptr || t < 1 || k < 0) return 0.0;
    std::vector<double> scratch = workArray<double>(static_cast<std::size_t>(t));
    return basis(k, t, knots, v, scratch.data());
}

CoreSpln::POINT CoreSpln::sumof(double v, int n, int t, int const* knots, POINT const* control,
                                double* scratch) {
    POINT p{0.0, 0.0, 0.0};
    for (int k = 0; k <= n; ++k) {
        // The basis vanishes outside [u[k], u[k+t]); skipping there changes nothing.
        if (v < knots[k] || v >= knots[k + t]) continue;
        double b = basis(k, t, knots, v, scratch);
        p.x += b * control[k].x;
        p.y += b * control[k].y;
        p.z += b * control[k].z;
    }
    return p;
}

CoreSpln::POINT CoreSpln::point(double v, int n, int t, int const* knots, POINT const* control) {
    if (knots == nullptr || control == nullptr || n < 0 || t < 1) return POINT{0.0, 0.0, 0.0};
    std::vector<double> scratch = workArray<double>(static_cast<std::size_t>(t));
    return sumof(v, n, t, knots, control, scratch.data());
}

void CoreSpln::splne(int n, POINT const* control, int count, POINT* out) {
    if (control == nullptr || out == nullptr || n < 0 || count < 1) return;
    // More order than control points leaves no knot span (n - t + 2 <= 0)
    // and the curve would collapse to zeros.
    int t = order > n + 1 ? n + 1 : order;
    std::vector<int> knots = workArray<int>(static_cast<std::size_t>(n + t + 1));
    intrv(n, t, knots.data());
    std::vector<double> scratch = workArray<double>(static_cast<std::size_t>(t));
    double range = static_cast<double>(n - t + 2);
    for (int i = 0; i + 1 < count; ++i) {
        double v = static_cast<double>(i) * range / static_cast<double>(count - 1);
        out[i] = sumof(v, n, t, knots.data(), control, scratch.data());
    }
    // Every basis is 0 at the last knot, so the end point is taken as it is.
    out[count - 1] = control[n];
}

long CoreSpln::round(double x) {
    double f = std::floor(x);
    return static_cast<long>(x - f > 0.5 ? f + 1.0 : f);
}

bool CoreSpln::calc_(POINT const& curvePoint, POINT* out, int bins) {
    if (out == nullptr || !std::isfinite(curvePoint.x)) return false;
    // Points far outside the bins are refused before the conversion to long.
    if (curvePoint.x < -1.0 || curvePoint.x > static_cast<double>(bins) + 1.0) return false;
    long j = round(curvePoint.x);
    if (j < 0 || j >= bins) return false;
    double distance = std::fabs(curvePoint.x - static_cast<double>(j));
    if (!unset(out[j]) && out[j].z < distance) return false;
    out[j].y = curvePoint.y;
    out[j].z = distance;
    return true;
}

void CoreSpln::map__(int count, POINT const* curve, int bins, POINT* out) {
    if (out == nullptr || bins < 1) return;
    for (int j = 0; j < bins; ++j)
        out[j] = POINT{static_cast<double>(j), 0.0, static_cast<double>(iCnulldistance)};
    if (curve != nullptr)
        for (int i = 0; i < count; ++i) calc_(curve[i], out, bins);

    double last = 0.0;
    int j = 0;
    while (j < bins) {
        if (!unset(out[j])) {
            last = out[j].y;
            ++j;
            continue;
        }
        int first = j;
        while (j < bins && unset(out[j])) ++j;
        int run = j - first;
        double step = j < bins ? (out[j].y - last) / static_cast<double>(run + 1) : 0.0;
        for (int q = 0; q < run; ++q) {
            out[first + q].y = last + static_cast<double>(q + 1) * step;
            out[first + q].z = 0.0;
        }
    }
}

void CoreSpln::fixbd(POINT* points, int n, double level, int reference) {
    if (points == nullptr || n < 1) return;
    std::vector<double> ys = workArray<double>(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) ys[i] = points[i].y;
    CoreButl::fixbd(ys.data(), n, level, reference);
    for (int i = 0; i < n; ++i) points[i].y = ys[i];
}

void CoreSpln::drwln(POINT const& p1, POINT const& p2, double* array, int size) {
    if (array == nullptr || size < 1 || !std::isfinite(p1.x) || !std::isfinite(p2.x)) return;
    // Ends far outside the array are pulled in before rounding; the clipped
    // range is the same.
    double limit = static_cast<double>(size) + 1.0;
    long from = round(p1.x < -1.0 ? -1.0 : (p1.x > limit ? limit : p1.x));
    long to = round(p2.x < -1.0 ? -1.0 : (p2.x > limit ? limit : p2.x));
    if (from < 0) from = 0;
    if (to > size) to = size;
    double dx = p2.x - p1.x;
    if (dx == 0.0) return;
    for (long x = from; x < to; ++x)
        array[x] = p1.y + (p2.y - p1.y) * (static_cast<double>(x) - p1.x) / dx;
}
