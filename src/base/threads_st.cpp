// Locks and threads of the single-threaded build: locks do nothing, threads cannot start.
#include <cerrno>

#include "base/threads.hpp"

int mutexinit(Mutex *) { return 0; }
void mutexlock(Mutex *) {}
void mutexunlock(Mutex *) {}
void mutexdestroy(Mutex *) {}

ThreadContext &threadcontext() {
  static ThreadContext context;
  return context;
}

int threadcreate(Thread *, ThreadBody, void *) { return ENOSYS; }
int threadjoin(Thread *, void **) { return ENOSYS; }
