#pragma once
// The fixed table of 86 sample-rate conversion recipes between common rates
// (6,000 to 384,000 Hz), each a chain of at most three polyphase stages, and
// the lookup of the recipe closest to a wanted pair of rates (one cached).
// Owner: the WAV reader makes one on its pool when a wanted rate is set and
// deletes it when conversion is turned off.
// Threads: the thread of that reader only (loader or engine worker, may block).
// Rows built on the factor 11 treat 352,800 Hz as 352,000 Hz, so their
// converters produce a rate 0.23 % off the nominal one that `geter` reports.

#include "runtime/CoreAnsx.h"

class CorePool;

class DataRtcv {
public:
    // One recipe.
    struct CONVERSIONSTEPSLOC {
        double from;  // input rate, Hz
        double to;    // nominal output rate, Hz
        short count;  // factors used: 1, 2, 4 or 6 (a pair of factors is one stage)
        bool flag;    // set: up/down pairs, a lone last factor interpolates; clear: one decimation
        int* factors; // pool block of six factors, unused ones -1
        double ratio; // output rate over input rate as the factors make it
    };

    explicit DataRtcv(CorePool* pool); // builds all rows; pool exhaustion throws CoreAnsx
    ~DataRtcv();
    DataRtcv(const DataRtcv&) = delete;
    DataRtcv& operator=(const DataRtcv&) = delete;
    DataRtcv(DataRtcv&&) = delete;
    DataRtcv& operator=(DataRtcv&&) = delete;

    // Fills one record: rates, count, flag, a new factor block and the ratio.
    void makec(CONVERSIONSTEPSLOC* rec, double from, double to, short count, bool flag, int f1,
               int f2, int f3, int f4, int f5, int f6);
    // Row closest to (from, to), or -1 when none is closer than the rates are
    // to each other; the last answer is cached.
    int getpt(double from, double to);
    // Row accessors; an invalid row logs an error and answers 0 / false / -1.
    short getst(int row);        // factor count
    bool getfi(int row);         // flag
    int getfc(int row, short k); // factor k (0..5)
    double geter(int row);       // nominal output rate, Hz
    double getcf(int row);       // ratio

    static const int iCcount; // number of rows (86)

private:
    bool valid(int row, const char* caller) const;

    int count;                   // rows in the table
    int cachedIndex;             // last lookup result; -1 at start
    double cachedFrom;           // last looked-up input rate, Hz; -1 at start
    double cachedTo;             // last looked-up output rate, Hz; -1 at start
    CONVERSIONSTEPSLOC* recipes; // pool block ("RTCV") of count records
    CorePool* pool;              // not owned
};
