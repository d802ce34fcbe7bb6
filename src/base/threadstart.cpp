// Starting a team of worker threads, shared by the programs that spread work over -j jobs:
// which failures end the start and which only leave fewer threads.
#include <cerrno>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/threads.hpp"

int64_t startthreads(Thread *threads, uint64_t jobs, ThreadBody body, void *argument) {
  uint64_t created = 0;
  for (; created < jobs; created++) {
    const int status = threadcreate(&threads[created], body, argument);
    if (status == 0) continue;
    if (status == EPERM) {
      printwarning(
          "couldn't set scheduling parameters or scheduling policy (permission denied).\n");
      break;
    }
    if (status == EAGAIN || status == ENOMEM) {
      printwarning("not enough memory to create the %lu. thread.\n",
                   static_cast<unsigned long>(created + 1));
      break;
    }
    // Wait for the threads already running before failing.
    for (uint64_t i = 0; i < created; i++) threadjoin(&threads[i], nullptr);
    if (status == -1) return reporterror("Multithreading does not work, pthread_create() unusable.");
    return internalerror();
  }
  if (created == 0) {
    return reporterror("Unable to use threads. Specify -j 1 or use non-threaded version.");
  }
  return static_cast<int64_t>(created);
}
