// Routines run once at process exit, newest first, after the entry point
// returns: they tear down process-wide state (the shared wait state, console
// control) and raise the process exit signal.
#pragma once

namespace sm {

using ExitRoutine = void (*)(void* argument);

// Returns false when the table of routines is full (the routine then never
// runs).
bool register_exit_routine(ExitRoutine routine, void* argument);

// Runs every registered routine that has not run yet, newest first; routines
// registered meanwhile run too. Called at process exit; callable earlier.
void run_exit_routines();

}  // namespace sm
