// Runs system command lines as hidden child processes, with bounded waits.
#pragma once

// The first word of a command line names a program of the system directory; it
// is always started from there, never from the agent's folder or the current
// directory, and runs with the system directory as its working directory. The
// command line buffer must be writable.

// 1 when the child started and ended with exit code 0 within 15 seconds. A child
// still running then counts as a failure and is left running.
int VbRunHidden(wchar_t* commandLine) noexcept;
// 1 when the child started and ended within 15 seconds, with its exit code in
// exitCode; 0 when it could not be started or still runs (it is left running).
int VbRunHiddenCode(wchar_t* commandLine, unsigned long* exitCode) noexcept;

// The child's standard output and standard error, interleaved, as a NUL-terminated
// heap block the caller releases with free(); null when the child could not be
// started. Reading stops after 15 seconds or 1 MiB, and what was read is returned;
// a child still running is left running.
char* VbRunHiddenCapture(wchar_t* commandLine) noexcept;
