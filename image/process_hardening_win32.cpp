// Windows: error reports without the heap.
#include <windows.h>

#include "image/process_hardening.h"

namespace vantri {

void HardenProcess() {
    // Looked up in kernel32, which exports it, rather than declared by
    // werapi.h, which MinGW-w64 ships incomplete.
    using SetFlags = HRESULT(WINAPI*)(DWORD);
    constexpr DWORD NoHeap = 1;  // WER_FAULT_REPORTING_FLAG_NOHEAP
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setFlags =
        reinterpret_cast<SetFlags>(reinterpret_cast<void*>(GetProcAddress(kernel, "WerSetFlags")));
    if (setFlags != nullptr) {
        static_cast<void>(setFlags(NoHeap));
    }
}

}  // namespace vantri
