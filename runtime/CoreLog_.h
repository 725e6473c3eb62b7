#pragma once
// CoreLog_: the process's one text log, shared by every plug-in instance
// (static members only). Each line is appended to folder + file name as
// "<pid>-<tid> <text>\n" with one write, so lines from several threads and
// instances interleave whole. Silent until a non-empty folder is set; a file
// that cannot be opened makes lines vanish; logging never throws.
// Also holds the product's name, version and vendor texts and the boot texts.
// Threads: any thread, may block on file I/O (not the audio path).

#include "runtime/CoreAnsx.h"

#include <atomic>

class CoreLog_ {
public:
    CoreLog_() = delete;

    static void setpt(CoreAnsx const& folder); // log folder, with its trailing separator
    static CoreAnsx getpt();                   // log folder
    static void setfn(CoreAnsx const& name);   // log file name
    static CoreAnsx getfn();                   // log file name
    // Sets the debug level and timestamp switch, and restarts all ten timers.
    static void setdb(short level, bool timestamps);
    static short getdb(); // debug level (0 = off)
    static bool aredb();  // debug level above 0

    // One raw line; every other writer ends here. A line that would pass
    // the file-size limit (RLIMIT_FSIZE) is dropped, and no line's write
    // lets SIGXFSZ end the process.
    static void logas(CoreAnsx const& text);
    // Debug line of the given level: [elapsed of timer "%.1f >" or ">"],
    // timer dashes, text, "<". Timers 0..9 are restarted when stamped.
    static void debug(CoreAnsx const& text, int timer, short level);
    static void debgs(CoreAnsx const& name, CoreAnsx const& value, int timer,
                      short level);                                                // name = value
    static void debgb(CoreAnsx const& name, bool value, int timer, short level);   // "True"/"False"
    static void debgd(CoreAnsx const& name, double value, int timer, short level); // "%G"
    static void debgi(CoreAnsx const& name, int value, int timer, short level);    // "%i"
    // Error lines, written when level is at most the debug level.
    static void loger(CoreAnsx const& text, short level); // "***ERROR***> text"
    static void logfl(CoreAnsx const& text, short level); // "***ERROR***>Error in file text"
    static void logtg(CoreAnsx const& text, short level); // "***ERROR***>Error in tag text"
    static void login(CoreAnsx const& text, int number);  // "text number", whatever the level
    // A level-0 line that tells, not refuses: "***NOTICE***> text". Never
    // kept as a load's reason (a notice logged before a refusal in the same
    // load must not stand in for it), and kept, once each, in this thread's
    // notice sink when one is set.
    static void notce(CoreAnsx const& text);
    // Sets this thread's notice sink (null none), which gathers the text of
    // every distinct notice, one per line, and answers the one it replaces.
    static CoreAnsx* ntsnk(CoreAnsx* sink);
    // Why a load failed: while a thread has a sink set, the text of the first
    // level-0 error line it logs (loger, logfl, logtg) is kept there, whether
    // or not the line reaches a file. Sets this thread's sink (null none) and
    // answers the one it replaces, for the caller to put back.
    static CoreAnsx* rsnsk(CoreAnsx* sink);
    static void trace(CoreAnsx const& text, bool leaving); // "<<<text" / ">>>text" when tracing
    static void dtime(CoreAnsx const& text); // seconds since timer 9 "%.3f >", then text
    // Meant to append to sCsimplelogpath, a path of another platform; writing
    // it here would leave stray files in the host's working folder, so it
    // does nothing.
    static void smlog(CoreAnsx const& text);

    // Test seam: the clock the timers read, in days (null restores the
    // wall clock, CoreXutl::ttime).
    static void useClock(double (*daysNow)());

    static CoreAnsx sVpath;                          // log folder; use setpt/getpt
    static CoreAnsx sVfilename;                      // log file name; use setfn/getfn
    static std::atomic<short> iVdebuglevel;          // lines of level <= this are written
    static std::atomic<bool> bVdebugtimestamp;       // debug lines carry elapsed times
    static std::atomic<double> tVdebugtimestamp[10]; // timer starts, days since the epoch
    static std::atomic<short> iVtracelevel; // trace lines written when above 0 (nothing sets it)

    static CoreAnsx const sCerrorprm;      // "***ERROR***>", prefix of every error line
    static CoreAnsx const sCnoticepr;      // "***NOTICE***>", prefix of every notice
    static CoreAnsx const sCerrorfle;      // "Error in file"
    static CoreAnsx const sCerrortag;      // "Error in tag"
    static CoreAnsx const sCsimplelogpath; // file of smlog
    static CoreAnsx const sCerrorsm2;      // "SSE2 not supported"
    static CoreAnsx const sCwarngcvd;      // "CONVOLUTION:"
    static CoreAnsx const sCvendor_n;      // product-line name
    static CoreAnsx const sCversion_;      // version
    static CoreAnsx const sCsubvrsn_;      // engine edition
    static CoreAnsx const sCproductn;      // product name reported to the host
    static CoreAnsx const
        sCmagicnum; // four-character plug-in id when the master settings give none
    static CoreAnsx const sCwarngbin; // boot lines, each followed by what it reports
    static CoreAnsx const sCwarngbdl;
    static CoreAnsx const sCwarngbmo;
    static CoreAnsx const sCwarngbmk;
    static CoreAnsx const sCwarngbro;
    static CoreAnsx const sCwarngbrk;
    // The two Ko lines' start for a file that is there: its fault's words follow.
    static CoreAnsx const sCwarngbmt;
    static CoreAnsx const sCwarngbrt;
    static CoreAnsx const sCwarngbpo;
    static CoreAnsx const sCwarngbso;
    static CoreAnsx const sCwarngbsk;
    static CoreAnsx const sCwarngbco;
    static CoreAnsx const sCwarngbgo;
    static CoreAnsx const sCwarngbio;
    static CoreAnsx const sCwarngsto;
    static CoreAnsx const sCwarngbeo;
    static CoreAnsx const sCstatsloa; // status words
    static CoreAnsx const sCstatspar;
    static CoreAnsx const sCstatsexe;
};
