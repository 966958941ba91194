// Keeps Wine's desktop in use from the first scenario to the last.
//
// When the last process on Wine's desktop ends, Wine closes the desktop a
// moment later and its process exits. A probe that starts just then joins
// the desktop as it goes; the desktop's window keeps naming an X window of
// the process that went, and the program later dies of an X error
// (BadWindow on X_UnmapWindow) when the foreground changes. Held by this
// process, the desktop is never closed between two scenarios.
//
//   desktop_keeper READY_FILE   holds the desktop, writes READY_FILE, waits
//   desktop_keeper --stop       tells the holder to end
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "PatcherDesktopKeeperStop");
    if (!stop)
        return 1;
    if (std::strcmp(argv[1], "--stop") == 0) {
        SetEvent(stop);
        CloseHandle(stop);
        return 0;
    }
    GetDesktopWindow();
    if (FILE* ready = std::fopen(argv[1], "w"))
        std::fclose(ready);
    WaitForSingleObject(stop, INFINITE);
    CloseHandle(stop);
    return 0;
}
