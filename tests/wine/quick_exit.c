/* Preloaded into the Windows programs the Wine tests start (64-bit Wine).
 *
 * Wine 8 ends a process in two steps: ntdll closes the process's socket to
 * wineserver, which is the end of the process for Windows, and then calls
 * exit(), which runs the exit handlers and destructors of every Unix library
 * in the process (X11, GnuTLS, fontconfig, ...). wineserver gives the Unix
 * process about half a second to be gone: it looks for it after 16, 47, 109
 * and 234 ms, and at 484 ms sends it SIGKILL. On a busy or briefly stalled
 * machine those handlers can take longer, and the test sees a program that
 * did all its work and printed all its output end with -9 instead of its
 * exit code.
 *
 * Everything the programs under test write goes through Windows file
 * handles, straight to write(2): nothing of theirs waits in a Unix buffer.
 * Ending at once, after flushing stdio for whatever Unix code used it, keeps
 * the exit code the program chose. */
#include <stdio.h>
#include <unistd.h>

void exit(int status) {
    fflush(NULL);
    _exit(status);
}
