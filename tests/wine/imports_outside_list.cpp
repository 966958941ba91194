// A program that needs a function Windows 95 and NT 4.0 lack
// (GetTickCount64 came with Vista); the import check must refuse it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return static_cast<int>(GetTickCount64() & 1);
}
