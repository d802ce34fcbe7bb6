// Locks and threads of the threaded build: POSIX mutexes and threads.
#include "base/threads.hpp"

int mutexinit(Mutex *mutex) { return pthread_mutex_init(&mutex->handle, nullptr); }
void mutexlock(Mutex *mutex) { pthread_mutex_lock(&mutex->handle); }
void mutexunlock(Mutex *mutex) { pthread_mutex_unlock(&mutex->handle); }
void mutexdestroy(Mutex *mutex) { pthread_mutex_destroy(&mutex->handle); }

namespace {

thread_local ThreadContext currentcontext;

// What a new thread needs before its body runs.
struct ThreadStart {
  ThreadBody body;
  void *argument;
  ThreadContext context;
};

void *startwithcontext(void *argument) {
  const ThreadStart start = *static_cast<ThreadStart *>(argument);
  delete static_cast<ThreadStart *>(argument);
  currentcontext = start.context;
  return start.body(start.argument);
}

}  // namespace

ThreadContext &threadcontext() { return currentcontext; }

int threadcreate(Thread *thread, ThreadBody body, void *argument) {
  ThreadStart *start = new ThreadStart{body, argument, currentcontext};
  const int status = pthread_create(&thread->handle, nullptr, startwithcontext, start);
  if (status != 0) delete start;
  return status;
}

int threadjoin(Thread *thread, void **ret_result) {
  return pthread_join(thread->handle, ret_result);
}
