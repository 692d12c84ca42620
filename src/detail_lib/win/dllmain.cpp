// The detail DLL's entry point: it owns the TLS slot that holds each
// thread's result buffer (result_buffer.h), taken when the DLL loads and
// released thread by thread as each ends, then as the DLL unloads.
#include <windows.h>

#include <new>
#include <string>

#include "detail_lib/result_buffer.h"

namespace {

DWORD g_slot = TLS_OUT_OF_INDEXES;

void free_thread_buffer() {
  if (g_slot == TLS_OUT_OF_INDEXES) return;
  delete static_cast<std::string*>(TlsGetValue(g_slot));
  TlsSetValue(g_slot, nullptr);
}

}  // namespace

std::string* detail_result_buffer() {
  auto* buffer = static_cast<std::string*>(TlsGetValue(g_slot));
  if (buffer == nullptr) {
    buffer = new (std::nothrow) std::string;
    if (buffer != nullptr && !TlsSetValue(g_slot, buffer)) {
      delete buffer;
      buffer = nullptr;
    }
  }
  return buffer;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      // Without a slot no call could keep its answer: refuse to load.
      g_slot = TlsAlloc();
      return g_slot != TLS_OUT_OF_INDEXES;
    case DLL_THREAD_DETACH: free_thread_buffer(); break;
    case DLL_PROCESS_DETACH:
      // Other threads' buffers, if they still run, are the process's to
      // reclaim; only the unloading thread's can be reached here.
      free_thread_buffer();
      if (g_slot != TLS_OUT_OF_INDEXES) TlsFree(g_slot);
      g_slot = TLS_OUT_OF_INDEXES;
      break;
    default: break;
  }
  return TRUE;
}
