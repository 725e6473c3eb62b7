#include "runtime/CoreTevn.h"

#include "runtime/CoreKutl.h"

CoreTevn::CoreTevn(void*, bool, bool, char const*) : signalled(false) {
    pthread_mutex_init(&mutex, nullptr);
    pthread_cond_init(&condition, nullptr);
}

CoreTevn::~CoreTevn() {
    pthread_cond_destroy(&condition);
    pthread_mutex_destroy(&mutex);
}

void CoreTevn::SetEvent() {
    pthread_mutex_lock(&mutex);
    signalled = true;
    pthread_cond_signal(&condition);
    pthread_mutex_unlock(&mutex);
}

void CoreTevn::ResetEvent() {
    pthread_mutex_lock(&mutex);
    signalled = false;
    pthread_mutex_unlock(&mutex);
}

int CoreTevn::WaitFor(int ms) {
    pthread_mutex_lock(&mutex);
    if (!signalled) {
        timespec deadline{};
        CoreKutl::cnmpd(ms, deadline);
        pthread_cond_timedwait(&condition, &mutex, &deadline);
    }
    int result = iCwrnotsignaled;
    if (signalled) {
        signalled = false;
        result = iCwrsignaled;
    }
    pthread_mutex_unlock(&mutex);
    return result;
}
