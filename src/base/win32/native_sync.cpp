// Windows primitives: events, waits and delays through the native interface
// (ntdll, entry points looked up at run time), threads and the critical
// section through kernel32.
#include "base/native_sync.h"

#include <windows.h>

#include <new>

#include "base/clock.h"

namespace sm::native {
namespace {

using NtStatus = LONG;
constexpr NtStatus kStatusSuccess = 0;
constexpr NtStatus kStatusUserApc = 0xC0;
constexpr NtStatus kStatusAlerted = 0x101;
constexpr NtStatus kStatusTimeout = 0x102;
constexpr ACCESS_MASK kEventAllAccess = 0x1F0003;
constexpr int kNotificationEvent = 0;

using NtCreateEventFn = NtStatus(NTAPI*)(HANDLE*, ACCESS_MASK, void*, int, BOOLEAN);
using NtSetEventFn = NtStatus(NTAPI*)(HANDLE, LONG*);
using NtClearEventFn = NtStatus(NTAPI*)(HANDLE);
using NtWaitForSingleObjectFn = NtStatus(NTAPI*)(HANDLE, BOOLEAN, LARGE_INTEGER*);
using NtDelayExecutionFn = NtStatus(NTAPI*)(BOOLEAN, LARGE_INTEGER*);
using NtCloseFn = NtStatus(NTAPI*)(HANDLE);
using GetTickCount64Fn = ULONGLONG(WINAPI*)();

// Looks an entry point up once and keeps it; a missing one is looked up again
// on the next call (and stays missing).
template <typename Fn>
Fn Resolve(Fn* cache, const wchar_t* module, const char* name) {
  Fn fn = __atomic_load_n(cache, __ATOMIC_ACQUIRE);
  if (fn) return fn;
  HMODULE handle = GetModuleHandleW(module);
  if (!handle) return nullptr;
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
  __atomic_store_n(cache, fn, __ATOMIC_RELEASE);
  return fn;
}

NtCreateEventFn g_create_event;
NtSetEventFn g_set_event;
NtClearEventFn g_clear_event;
NtWaitForSingleObjectFn g_wait;
NtDelayExecutionFn g_delay;
NtCloseFn g_close;

template <typename Fn>
Fn Ntdll(Fn* cache, const char* name) {
  return Resolve(cache, L"ntdll.dll", name);
}

struct ThreadStart {
  ThreadEntry entry;
  void* argument;
};

DWORD WINAPI ThreadMain(void* argument) {
  const ThreadStart start = *static_cast<ThreadStart*>(argument);
  delete static_cast<ThreadStart*>(argument);
  start.entry(start.argument);
  return 0;
}

GetTickCount64Fn g_tick_count64;
int g_tick_count64_done;
uint64_t g_tick_base;

uint32_t ReadTickCount() { return GetTickCount(); }

}  // namespace

uint32_t current_thread_id() { return GetCurrentThreadId(); }

EventHandle event_create() {
  NtCreateEventFn create = Ntdll(&g_create_event, "NtCreateEvent");
  if (!create) return nullptr;
  HANDLE event = nullptr;
  if (create(&event, kEventAllAccess, nullptr, kNotificationEvent, FALSE) != kStatusSuccess) return nullptr;
  return event;
}

void event_set(EventHandle event) {
  if (NtSetEventFn set = Ntdll(&g_set_event, "NtSetEvent")) set(event, nullptr);
}

void event_clear(EventHandle event) {
  if (NtClearEventFn clear = Ntdll(&g_clear_event, "NtClearEvent")) clear(event);
}

void event_close(EventHandle event) {
  if (NtCloseFn close = Ntdll(&g_close, "NtClose")) close(event);
}

WaitResult event_wait(EventHandle event, uint32_t ms, bool alertable) {
  NtWaitForSingleObjectFn wait = Ntdll(&g_wait, "NtWaitForSingleObject");
  if (!wait) return WaitResult::kFailed;
  LARGE_INTEGER timeout;
  timeout.QuadPart = -static_cast<LONGLONG>(ms) * 10000;
  const NtStatus status = wait(event, alertable ? TRUE : FALSE, ms == kWaitForever ? nullptr : &timeout);
  switch (status) {
    case kStatusSuccess:
      return WaitResult::kSignalled;
    case kStatusTimeout:
      return WaitResult::kTimedOut;
    case kStatusAlerted:
    case kStatusUserApc:
      return WaitResult::kInterrupted;
    default:
      return WaitResult::kFailed;
  }
}

void delay(int64_t ms) {
  NtDelayExecutionFn nt_delay = Ntdll(&g_delay, "NtDelayExecution");
  if (ms < 0) {
    for (;;) {
      if (nt_delay) {
        LARGE_INTEGER day;
        day.QuadPart = -864000000000LL;
        nt_delay(TRUE, &day);
      } else {
        SleepEx(INFINITE, TRUE);
      }
    }
  }
  if (!nt_delay) {
    SleepEx(static_cast<DWORD>(ms < 0x7FFFFFFF ? ms : 0x7FFFFFFF), TRUE);
    return;
  }
  LARGE_INTEGER interval;
  interval.QuadPart = -ms * 10000;
  nt_delay(TRUE, &interval);
}

void mutex_init(MutexStorage* storage) {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof(MutexStorage));
  InitializeCriticalSection(new (storage->bytes) CRITICAL_SECTION);
}
void mutex_enter(MutexStorage* storage) { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage->bytes)); }
void mutex_leave(MutexStorage* storage) { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage->bytes)); }
void mutex_destroy(MutexStorage* storage) { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage->bytes)); }

ThreadHandle thread_start(ThreadEntry entry, void* argument, size_t stack_size) {
  ThreadStart* start = new (std::nothrow) ThreadStart{entry, argument};
  if (!start) return nullptr;
  HANDLE thread = CreateThread(nullptr, stack_size, ThreadMain, start,
                               stack_size ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
  if (!thread) delete start;
  return thread;
}

bool thread_wait(ThreadHandle thread, uint32_t ms) {
  return WaitForSingleObject(thread, ms == kWaitForever ? INFINITE : ms) == WAIT_OBJECT_0;
}

void thread_close(ThreadHandle thread) { CloseHandle(thread); }

void thread_raise_priority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }

uint64_t monotonic_ms() {
  if (!__atomic_load_n(&g_tick_count64_done, __ATOMIC_ACQUIRE)) {
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    GetTickCount64Fn fn =
        kernel ? reinterpret_cast<GetTickCount64Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetTickCount64")))
               : nullptr;
    __atomic_store_n(&g_tick_count64, fn, __ATOMIC_RELAXED);
    __atomic_store_n(&g_tick_count64_done, 1, __ATOMIC_SEQ_CST);
  }
  if (GetTickCount64Fn fn = __atomic_load_n(&g_tick_count64, __ATOMIC_RELAXED)) return fn();
  return widen_tick_count(&g_tick_base, ReadTickCount);
}

uint64_t system_time() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace sm::native
