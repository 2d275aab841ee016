// Load entry of the Windows DLL. Loading and unloading do no work of the
// plug-in's own, so every reason is answered with success.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/)
{
    return TRUE;
}
