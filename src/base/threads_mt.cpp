// Locks and threads of the threaded build: POSIX mutexes and threads.
#include "base/threads.hpp"

int mutexinit(Mutex *mutex) { return pthread_mutex_init(&mutex->handle, nullptr); }
void mutexlock(Mutex *mutex) { pthread_mutex_lock(&mutex->handle); }
void mutexunlock(Mutex *mutex) { pthread_mutex_unlock(&mutex->handle); }
void mutexdestroy(Mutex *mutex) { pthread_mutex_destroy(&mutex->handle); }

int threadcreate(Thread *thread, ThreadBody body, void *argument) {
  return pthread_create(&thread->handle, nullptr, body, argument);
}

int threadjoin(Thread *thread, void **ret_result) {
  return pthread_join(thread->handle, ret_result);
}
