#include <pthread.h>
#include <sched.h>

#include "platform/processors.h"

namespace mf::platform {

void run_beside_caller(std::thread& thread) {
#ifdef __linux__
    const int here = ::sched_getcpu();
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (here < 0 || ::pthread_getaffinity_np(::pthread_self(), sizeof allowed, &allowed) != 0) return;
    if (!CPU_ISSET(here, &allowed) || CPU_COUNT(&allowed) < 2) return;
    CPU_CLR(here, &allowed);
    ::pthread_setaffinity_np(thread.native_handle(), sizeof allowed, &allowed);
#else
    (void)thread;
#endif
}

}  // namespace mf::platform
