#include "base/exit.h"

#include <cstdlib>

#include "base/lock.h"

namespace sm {
namespace {

struct Entry {
  ExitRoutine routine;
  void* argument;
};

constexpr int kMaxRoutines = 32;
Lock g_lock;
Entry g_routines[kMaxRoutines];
int g_count;
bool g_hooked;

void RunAtExit() { run_exit_routines(); }

}  // namespace

bool register_exit_routine(ExitRoutine routine, void* argument) {
  lock(&g_lock);
  const bool room = g_count < kMaxRoutines;
  if (room) g_routines[g_count++] = Entry{routine, argument};
  const bool hook = room && !g_hooked;
  if (hook) g_hooked = true;
  unlock(&g_lock);
  if (hook) std::atexit(RunAtExit);
  return room;
}

void run_exit_routines() {
  for (;;) {
    lock(&g_lock);
    if (g_count == 0) {
      unlock(&g_lock);
      return;
    }
    const Entry entry = g_routines[--g_count];
    unlock(&g_lock);
    entry.routine(entry.argument);
  }
}

}  // namespace sm
