#include "base/work_pool.h"

#include "base/hold.h"
#include "base/lock.h"
#include "base/semaphore.h"
#include "base/signal.h"

namespace sm {
namespace {

constexpr size_t kWorkerStack = 0x40000;

// On the worker's stack (or, for the hand-over, on the caller's).
struct WorkerNode {
  ThreadFunction function;
  void* argument;
  Semaphore semaphore;
  WorkerNode* next;
};

struct Pool {
  Lock lock;
  WorkerNode* idle;
  bool shutting_down;
  uint32_t subscribed;
  SignalSubscription shutdown;
};

Pool g_pool;

void ShutDownPool(SignalSubscription*) {
  lock(&g_pool.lock);
  WorkerNode* idle = g_pool.idle;
  g_pool.idle = nullptr;
  g_pool.shutting_down = true;
  unlock(&g_pool.lock);
  while (idle) {
    // The worker wakes without an item and ends; its node goes with it.
    WorkerNode* next = idle->next;
    sema_signal(&idle->semaphore);
    idle = next;
  }
}

void WorkerBody(void* argument) {
  WorkerNode* handover = static_cast<WorkerNode*>(argument);
  WorkerNode own{handover->function, handover->argument, {}, nullptr};
  sema_signal(&handover->semaphore);
  for (;;) {
    own.function(own.argument);
    own.function = nullptr;
    lock(&g_pool.lock);
    if (g_pool.shutting_down) {
      sema_signal(&own.semaphore);
    } else {
      own.next = g_pool.idle;
      g_pool.idle = &own;
    }
    unlock(&g_pool.lock);
    sema_wait(&own.semaphore, nullptr, kNoTimeLimit);
    if (!own.function) return;
  }
}

}  // namespace

int start_work(ThreadFunction function, void* argument) {
  lock(&g_pool.lock);
  WorkerNode* worker = g_pool.idle;
  if (worker) g_pool.idle = worker->next;
  unlock(&g_pool.lock);
  if (worker) {
    worker->function = function;
    worker->argument = argument;
    sema_signal(&worker->semaphore);
    return 1;
  }

  uint32_t unsubscribed = 0;
  if (__atomic_compare_exchange_n(&g_pool.subscribed, &unsubscribed, 1u, false, __ATOMIC_SEQ_CST,
                                  __ATOMIC_SEQ_CST)) {
    signal_subscribe_or_run(process_signal(kSignalThreadShutdown), ShutDownPool, &g_pool.shutdown);
  }

  WorkerNode handover{function, argument, {}, nullptr};
  if (!create_thread(WorkerBody, &handover, nullptr, nullptr, kWorkerStack)) return 0;
  sema_wait(&handover.semaphore, nullptr, kNoTimeLimit);
  return 1;
}

}  // namespace sm
