#include "runtime/CoreTthr.h"

#include <cerrno>

#include <cxxabi.h>

#include <exception>
#include <mutex>
#include <vector>

#include "runtime/CoreAnsx.h"
#include "runtime/CoreLog_.h"

namespace {

// One thread-specific slot for the whole process: its destructor (ptend)
// marks an object finished when its thread ends by cancellation. A slot per
// thread start would exhaust the system's slots after about a thousand starts.
pthread_once_t keyOnce = PTHREAD_ONCE_INIT;
pthread_key_t finishKey;
bool keyMade = false;

void makeKey() { keyMade = pthread_key_create(&finishKey, &CoreTthr::ptend) == 0; }

std::atomic<int> failingCreates{0};

// Logs an error line; never throws, so it is safe in the destructor and on
// the way out of the thread entry.
void logQuietly(char const* text, char const* detail = nullptr) {
    try {
        CoreAnsx line(text);
        if (detail != nullptr) line += CoreAnsx(detail);
        CoreLog_::loger(line, 0);
    } catch (...) {
    }
}

void logQuietly(char const* text, int number) {
    try {
        CoreLog_::loger(CoreAnsx(text) + CoreAnsx(number), 0);
    } catch (...) {
    }
}

// Threads that end their own objects (orphn): no owner joins them. Each new
// one joins those that have exited since; the rest are joined when the
// library's statics go, which waits for their last acts. Made at the first
// orphn, later than the statics those acts use, so it goes before them.
class Orphans {
public:
    Orphans() = default;
    Orphans(Orphans const&) = delete;
    Orphans& operator=(Orphans const&) = delete;
    ~Orphans() {
        for (pthread_t const t : threads) pthread_join(t, nullptr);
    }
    // False when it could not be kept (no memory): the caller detaches it.
    bool keep(pthread_t thread) {
        std::lock_guard<std::mutex> guard(lock);
        std::erase_if(threads, [](pthread_t t) { return pthread_tryjoin_np(t, nullptr) == 0; });
        try {
            threads.push_back(thread);
        } catch (...) {
            return false;
        }
        return true;
    }

private:
    std::mutex lock;
    std::vector<pthread_t> threads;
};

Orphans& orphans() {
    static Orphans kept;
    return kept;
}

} // namespace

CoreTthr::CoreTthr(bool suspended)
    : terminated(0), priority(0), notstarted(true), runrequested(!suspended),
      tableready(false), table{0, 0, 0, 0, 0}, parameters{}, policy(0), self(this), thread{},
      finished(false), joinable(false), lastact(nullptr), lastcontext(nullptr) {
    pthread_mutex_init(&mutex, nullptr);
    pthread_cond_init(&condition, nullptr);
}

CoreTthr::~CoreTthr() {
    pthread_mutex_lock(&mutex);
    if (!notstarted && !finished) {
        // The owner skipped Terminate/WaitFor. Holding the mutex, the thread
        // cannot have finished, so its identifier is still its own; wait for
        // ptend so nothing touches this object once it is gone.
        logQuietly("thread still running at destruction, cancelled");
        pthread_cancel(thread);
        while (!finished) pthread_cond_wait(&condition, &mutex);
    }
    joinThread();
    pthread_mutex_unlock(&mutex);
    pthread_cond_destroy(&condition);
    pthread_mutex_destroy(&mutex);
}

void CoreTthr::Resume() { launch(); }

void CoreTthr::launch() {
    pthread_mutex_lock(&mutex);
    if (!notstarted) {
        pthread_mutex_unlock(&mutex);
        return;
    }
    notstarted = false;
    int failure = 0;
    int pending = failingCreates.load();
    while (pending > 0 && !failingCreates.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending > 0)
        failure = EAGAIN;
    else
        failure = pthread_create(&thread, nullptr, &CoreTthr::ptsta, self);
    if (failure == 0) {
        joinable = true;
    } else {
        // No thread will ever mark the object, so WaitFor must not wait.
        finished = true;
        pthread_cond_broadcast(&condition);
    }
    pthread_mutex_unlock(&mutex);
    if (failure != 0) logQuietly("thread creation failed, error ", failure);
}

void* CoreTthr::ptsta(void* argument) {
    CoreTthr* object = static_cast<CoreTthr*>(argument);
    pthread_once(&keyOnce, &makeKey);
    if (!keyMade || pthread_setspecific(finishKey, argument) != 0) {
        object->markFinished();
        return nullptr;
    }
    try {
        object->start();
        object->Execute();
    } catch (CoreAnsx const& error) {
        logQuietly("thread ended by error: ", error.c_str());
    } catch (std::exception const& error) {
        logQuietly("thread ended by error: ", error.what());
    } catch (abi::__forced_unwind&) {
        // Cancellation unwinds this frame and must reach the end of the
        // thread (ptend then marks the object).
        throw;
    } catch (...) {
        logQuietly("thread ended by an unknown error");
    }
    // Clear the slot first: once finished is set the owner may delete the
    // object, and ptend must not run on it at thread exit.
    pthread_setspecific(finishKey, nullptr);
    pthread_mutex_lock(&object->mutex);
    void (*const last)(void*) = object->lastact;
    void* const context = object->lastcontext;
    pthread_mutex_unlock(&object->mutex);
    object->markFinished();
    // Past this point the object is the last act's: this frame leaves it alone.
    if (last != nullptr) last(context);
    return nullptr;
}

void CoreTthr::ptend(void* argument) {
    if (argument != nullptr) static_cast<CoreTthr*>(argument)->markFinished();
}

void CoreTthr::markFinished() {
    pthread_mutex_lock(&mutex);
    finished = true;
    pthread_cond_broadcast(&condition);
    pthread_mutex_unlock(&mutex);
}

void CoreTthr::start() {
    int ownPolicy = 0;
    sched_param ownParameters{};
    if (pthread_getschedparam(pthread_self(), &ownPolicy, &ownParameters) != 0) return;
    policy = ownPolicy;
    parameters = ownParameters;
    int minimum = sched_get_priority_min(ownPolicy);
    int maximum = sched_get_priority_max(ownPolicy);
    for (int level = 0; level < 5; ++level) table[level] = prlvl(minimum, maximum, level);
    tableready.store(true);
}

void CoreTthr::Terminate() { terminated.store(1); }

void CoreTthr::Execute() {}

bool CoreTthr::exepr() {
    if (!tableready.load()) return false;
    int level = priority.load();
    if (level < 0 || level > 4) {
        logQuietly("thread priority level out of range: ", level);
        return false;
    }
    sched_param wanted = parameters;
    wanted.sched_priority = table[level];
    bool applied = false;
    pthread_mutex_lock(&mutex);
    // A finished thread may be joined at any moment: its identifier then names nothing.
    if (!notstarted && !finished) applied = pthread_setschedparam(thread, policy, &wanted) == 0;
    pthread_mutex_unlock(&mutex);
    return applied;
}

void CoreTthr::WaitFor() {
    if (runrequested) launch(); // built to run: the object is complete by now
    pthread_mutex_lock(&mutex);
    while (!notstarted && !finished) pthread_cond_wait(&condition, &mutex);
    joinThread();
    pthread_mutex_unlock(&mutex);
}

void CoreTthr::joinThread() {
    // Past finished the thread takes the mutex no more: joining under it
    // cannot deadlock, and a second waiter returns only once it is gone.
    if (!joinable || !finished) return;
    pthread_join(thread, nullptr);
    joinable = false;
}

bool CoreTthr::alive() {
    pthread_mutex_lock(&mutex);
    bool const running = !notstarted && !finished;
    pthread_mutex_unlock(&mutex);
    return running;
}

bool CoreTthr::orphn(void (*last)(void*), void* context) {
    pthread_mutex_lock(&mutex);
    bool const own = !notstarted && !finished && joinable && pthread_equal(thread, pthread_self());
    if (own) {
        lastact = last;
        lastcontext = context;
        // Never joined from here on: WaitFor and the destructor, run by the
        // last act on this very thread, find nothing to join.
        joinable = false;
        if (!orphans().keep(thread)) pthread_detach(thread);
    }
    pthread_mutex_unlock(&mutex);
    if (own) Terminate();
    return own;
}

int CoreTthr::prlvl(int minimum, int maximum, int level) {
    if (level <= 0) return minimum;
    if (level >= 4) return maximum;
    double span = static_cast<double>(maximum) - static_cast<double>(minimum);
    return static_cast<int>(static_cast<double>(minimum) + 0.25 * level * span);
}

void CoreTthr::failNextCreate(int n) { failingCreates.store(n > 0 ? n : 0); }
