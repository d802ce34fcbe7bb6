// Locks and threads behind one interface. The threaded build links threads_mt (POSIX
// mutexes and threads); the single-threaded build links threads_st, where locks do nothing
// and no thread can be created.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <vector>

struct Mutex {
  pthread_mutex_t handle;
};

// 0 on success, non-zero when the lock could not be created.
int mutexinit(Mutex *mutex);
void mutexlock(Mutex *mutex);
void mutexunlock(Mutex *mutex);
void mutexdestroy(Mutex *mutex);

// Holds a lock for the lifetime of a scope.
class MutexGuard {
 public:
  explicit MutexGuard(Mutex *mutex) : mutex_(mutex) { mutexlock(mutex_); }
  ~MutexGuard() { mutexunlock(mutex_); }
  MutexGuard(const MutexGuard &) = delete;
  MutexGuard &operator=(const MutexGuard &) = delete;

 private:
  Mutex *mutex_;
};

using ThreadBody = void *(*)(void *);
struct Thread {
  pthread_t handle;
};

// What the calling thread reports failures into and prints through: the ErrorBuffer and the
// output switches of its call (base/error.hpp, base/output.hpp), null for the process's
// own. A library call that must not share them with other calls at the same time (the scan
// library's) sets its own; a thread started by threadcreate begins with its creator's, so
// that a call's workers report into the call.
struct ThreadContext {
  void *errors = nullptr;
  void *output = nullptr;
};
ThreadContext &threadcontext();

// Starts a thread with the creator's context: 0, or the error number of the failure (EAGAIN,
// EPERM, ...).
int threadcreate(Thread *thread, ThreadBody body, void *argument);
// Joins a thread: 0, or the error number (EDEADLK, ...); the body's result in *ret_result.
int threadjoin(Thread *thread, void **ret_result);

// Runs body on each of count items (body(items + k)): the first in the calling thread, the
// others each in a thread of its own; an item whose thread cannot start (always so in the
// single-threaded build) is run by the calling thread afterwards. Returns when all are done.
// Quiet: nothing is printed about the threads.
template <typename Item>
void runeach(Item *items, uint64_t count, ThreadBody body) {
  std::vector<Thread> threads(count);
  std::vector<bool> started(count, false);
  for (uint64_t k = 1; k < count; k++) started[k] = threadcreate(&threads[k], body, items + k) == 0;
  if (count > 0) body(items);
  for (uint64_t k = 1; k < count; k++) {
    if (started[k]) {
      threadjoin(&threads[k], nullptr);
    } else {
      body(items + k);
    }
  }
}

// Starts up to jobs threads running body(argument) in threads[0 ..]: the number started,
// fewer than jobs when the system refused one for lack of memory or permission (warned about
// as each program prints it). -1 with the message set when none could start, or after any
// other failure, in which case the threads already started have been joined.
int64_t startthreads(Thread *threads, uint64_t jobs, ThreadBody body, void *argument);
