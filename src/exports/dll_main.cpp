// Load-time registration.
//
// On Windows the library is loaded into hosts that expect an extension module
// to set itself up in DllMain. This library keeps no per-process state that
// needs building or tearing down there (the one global, the running data
// mode, is a zero-initialised static), so attaching succeeds and detaching
// has nothing to release; thread notifications are switched off. On ELF
// platforms nothing runs at load time, so there is nothing to register.

#if defined(_WIN32)
#include <windows.h>

BOOL APIENTRY DllMain(HMODULE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(module);
  return TRUE;
}
#endif
