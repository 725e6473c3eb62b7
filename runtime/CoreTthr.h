#pragma once
// CoreTthr: the base of every long-lived thread of the system (engine worker,
// display thread, control thread, parameter-event listener). A derived class
// puts its loop in Execute and polls `terminated`; its owner calls Terminate,
// then WaitFor, then deletes the object through its own type (the destructor
// is not virtual).
//
// Starting: a thread must never run a virtual call on an object whose derived
// part is still being built, and the base constructor cannot know when that
// part is done. So the base constructor never starts the thread: a derived
// class calls Resume() as the last step of its constructor. Built suspended
// (true), the thread then waits for an explicit Resume(); built running
// (false), it is also started by the first WaitFor() if nobody resumed it.
// A thread cannot be joined from itself: when its owner must end it from
// inside Execute (a host closing the plug-in from one of the thread's own
// callbacks), the owner calls orphn there instead, and the thread ends the
// object itself once it has left it.
// Owner: the object that created the derived thread object.
// Threads: the owner (control or display thread, may block) calls Resume,
// Terminate, WaitFor and deletes; Execute runs on the new thread, and so
// does orphn.

#include <atomic>

#include <pthread.h>
#include <sched.h>

class CoreTthr {
public:
    explicit CoreTthr(bool suspended);
    CoreTthr(CoreTthr const&) = delete;
    CoreTthr& operator=(CoreTthr const&) = delete;
    CoreTthr(CoreTthr&&) = delete;
    CoreTthr& operator=(CoreTthr&&) = delete;

    // Starts the thread unless it was started before.
    void Resume();
    // Thread entry: start(), then Execute(), then marks the object finished.
    static void* ptsta(void* argument);
    // Thread-exit hook (also run on cancellation): marks the object finished.
    static void ptend(void* argument);

    // Fills the priority table from the running thread's policy.
    virtual void start();
    // Asks Execute to end: sets terminated. Derived versions call this one.
    virtual void Terminate();
    // The thread's work; the base does nothing.
    virtual void Execute();

    // Applies priority level `priority` to the running thread (once the table
    // is ready); false when it could not be applied (no table yet, a level out
    // of range, no running thread, or the system refused), the priority then
    // staying as it was.
    bool exepr();
    // Blocks until the thread has finished and ended (joined): no code of
    // it runs any more, so its library may go. Returns at once when it never
    // started (suspended and not resumed) or could not be created.
    void WaitFor();
    // True while the thread runs: created and not yet finished. False before
    // Resume, after a failed creation and once Execute has returned.
    bool alive();
    // On the object's own thread only (false elsewhere, nothing changed):
    // Terminate, and once Execute has returned and this base has left the
    // object, the thread runs last(context) as its final act, which may
    // delete the object; WaitFor then returns at once. Its owner does not
    // join it: a later orphn joins it once it has exited, or the library's
    // statics going (unload or exit) wait for it, so its last act never
    // runs in unloaded code. last must not throw.
    bool orphn(void (*last)(void*), void* context);

    // Priority table entry for level 0..4: min, 25 %, 50 %, 75 %, max of the
    // range minimum..maximum, truncated toward zero.
    static int prlvl(int minimum, int maximum, int level);
    // Test hook: the next n thread creations fail as if the system refused
    // (n <= 0 clears it).
    static void failNextCreate(int n);

protected:
    // Owners delete derived objects through their own type.
    ~CoreTthr();

    std::atomic<int> terminated; // 1 once Terminate was called; Execute polls it
    std::atomic<int> priority;   // level 0..4 into the table, used by exepr

private:
    // Creates the thread if not started yet; logs a failure.
    void launch();
    // Under the mutex, once finished: joins the thread unless it was joined.
    void joinThread();
    // Under the mutex: finished = true, wake every WaitFor.
    void markFinished();

    bool notstarted;              // true until the thread was created; guarded by mutex
    bool runrequested;            // built with suspended false; WaitFor starts it
    std::atomic<bool> tableready; // set by start once table is filled
    int table[5];                 // scheduling priorities: min, 25 %, 50 %, 75 %, max
    sched_param parameters;       // scheduling parameters read by start
    int policy;                   // scheduling policy read by start
    CoreTthr* self;               // this; its address is the entry's argument
    pthread_t thread;             // the thread, valid once started; guarded by mutex
    pthread_mutex_t mutex;        // guards notstarted, thread and finished
    pthread_cond_t condition;     // broadcast when finished is set
    bool finished;                // the work has ended (or never can start); guarded by mutex
    bool joinable;                // created and not yet joined; guarded by mutex
    void (*lastact)(void*);       // orphn's last act, null when the owner joins; guarded by mutex
    void* lastcontext;            // its argument; guarded by mutex
};
