#pragma once
// What the rate-conversion recipe table promises, written out independently
// of the table for its tests: each row's input rate and the output rate its
// factors really reach. Test thread only.

// The input rate of each row, by the table's groups (Hz).
double fromRate(int row);

// The rate a row's factors reach when it is meant to reach to (Hz): rows built
// on 11 take 352,800 Hz as 352,000 Hz.
double documentedRate(int row, double to);
