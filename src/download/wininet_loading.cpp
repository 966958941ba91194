#include "wininet_loading.h"

#include <cstring>
#include <delayimp.h>

#include "../common/fixed_text.h"
#include "text_search.h"
#include "wininet_functions.h"

namespace {

const char* const kCalledFunctions[] = {PATCHER_WININET_FUNCTIONS};

// "<system directory>\wininet.dll"; false when it cannot be formed.
bool SystemWinInetPath(char (&path)[MAX_PATH])
{
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return false;
    return AppendText(path, path[length - 1] == '\\' ? "wininet.dll" : "\\wininet.dll");
}

// By full path, and what WinINet loads in turn is looked for beside it (in
// the system directory) rather than beside the program.
HMODULE LoadFromSystemDirectory()
{
    char path[MAX_PATH];
    return SystemWinInetPath(path) ? LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                                   : nullptr;
}

// The delay-load helper asks this hook before it loads a DLL; without an
// answer it would call LoadLibraryA("wininet.dll"), the bare name. The
// program calls WinINet only while it holds the system's copy (see
// LoadSystemWinInet), so this load by the same full path only counts one
// more reference, the helper's, which it keeps for the rest of the run.
FARPROC WINAPI ChooseDelayLoadedModule(unsigned notice, PDelayLoadInfo info)
{
    if (notice != dliNotePreLoadLibrary || !info || !info->szDll ||
        FindTextNoCase(info->szDll, "wininet.dll") != 1 || std::strlen(info->szDll) != 11)
        return nullptr;
    return reinterpret_cast<FARPROC>(LoadFromSystemDirectory());
}

} // namespace

// Read by the MinGW-w64 delay-load helper (__delayLoadHelper2).
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = ChooseDelayLoadedModule;
}

HMODULE LoadSystemWinInet()
{
    HMODULE wininet = LoadFromSystemDirectory();
    if (!wininet)
        return nullptr;
    for (const char* name : kCalledFunctions) {
        if (!GetProcAddress(wininet, name)) {
            FreeLibrary(wininet);
            return nullptr;
        }
    }
    return wininet;
}
