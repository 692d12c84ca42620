#include <windows.h>

// Loading prepares nothing and unloading releases nothing: the table is
// fetched on first use.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
