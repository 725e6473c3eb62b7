#pragma once
// CoreSpln: B-spline smoothing of a short list of control points and the
// resampling of the smoothed curve onto whole FFT bins. The correction-filter
// design uses it to turn a few band gains into one gain per bin.
// Owner: the design call that makes it (one per design, on the stack or new).
// Threads: engine worker or loader; splne and fixbd allocate, so never the
// audio thread.

#include <cstddef>

class CoreSpln {
public:
    // One point of a control polygon, a curve or a resampled output.
    struct POINT {
        double x; // abscissa: FFT bin index in the design
        double y; // ordinate: magnitude or gain
        double z; // distance to the bin while resampling; iCnulldistance while unset
    };

    // Distance of an output point no curve point has reached yet.
    static const int iCnulldistance; // -1

    // order: number of control points that shape one curve point (4 = cubic);
    // values below 1 count as 1.
    explicit CoreSpln(int order);
    ~CoreSpln();
    CoreSpln(CoreSpln const&) = delete;
    CoreSpln& operator=(CoreSpln const&) = delete;
    CoreSpln(CoreSpln&&) = delete;
    CoreSpln& operator=(CoreSpln&&) = delete;

    // Evaluates the spline through control[0 .. n] at count points into out
    // (count entries): evenly spaced parameters over the open uniform knot
    // range; the last point is control[n] itself. The order is clamped to the
    // n + 1 control points there are, so a short polygon still gives a curve.
    void splne(int n, POINT const* control, int count, POINT* out);
    // Resamples count curve points onto output bins 0 .. bins-1 (nearest
    // curve point per bin, ties rounded down), then fills the bins no point
    // reached linearly between their set neighbours; a run at the end repeats
    // the last set value.
    static void map__(int count, POINT const* curve, int bins, POINT* out);
    // Tapers the y values of n points as a dB magnitude curve towards a
    // reference level (CoreButl::fixbd): reference >= 0 names a point, below
    // 0 takes the mid-band mean.
    static void fixbd(POINT* points, int n, double level, int reference);
    // Cox-de Boor basis value of control point k for order t at parameter v;
    // knots must hold k + t + 1 entries. 0/0 terms count as 0.
    static double blend(int k, int t, int const* knots, double v);
    // One curve point at parameter v for control[0 .. n], order t and knots.
    static POINT point(double v, int n, int t, int const* knots, POINT const* control);
    // Fills knots[0 .. n+t] with the open uniform knot vector for order t.
    static void intrv(int n, int t, int* knots);
    // Takes the curve point into out[round(x)] when that bin exists and is
    // unset or holds a farther point; true when it did.
    static bool calc_(POINT const& curvePoint, POINT* out, int bins);
    // Nearest integer, halves rounded down (2.5 -> 2, -2.5 -> -3).
    static long round(double x);
    // array[x] for whole x from round(p1.x) up to, not including,
    // round(p2.x), within 0 .. size-1: the straight line through p1 and p2.
    static void drwln(POINT const& p1, POINT const& p2, double* array, int size);

private:
    // Basis value as blend, working in scratch (t doubles) instead of recursing.
    static double basis(int k, int t, int const* knots, double v, double* scratch);
    // point, with the caller's scratch of t doubles.
    static POINT sumof(double v, int n, int t, int const* knots, POINT const* control,
                       double* scratch);

    int order; // spline order t: control points per curve point (degree + 1)
};
