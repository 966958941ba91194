// A program that delay-loads a function outside the import list; the
// import check must refuse it as it refuses a load-time import.
#include <windows.h>
#include <wininet.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    DWORD flags = 0;
    return InternetGetConnectedState(&flags, 0) ? 0 : 1;
}
