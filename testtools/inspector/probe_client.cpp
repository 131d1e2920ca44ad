// The inspector's side of the in-process probe (see probe_protocol.h).
#include "probe_client.h"

#include "handles.h"
#include "strings.h"
#include "system.h"

namespace inspector {

std::map<HWND, ProbeRecord> ProbeWindow(HWND top, std::wstring* error) {
    std::map<HWND, ProbeRecord> out;
    const std::wstring dll = vellum::ModuleFolder() + L"\\inspector_probe.dll";
    HMODULE module = ::LoadLibraryW(dll.c_str());
    if (!module) { *error = L"cannot load " + dll; return out; }
    auto hook = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(::GetProcAddress(module, "ProbeHook")));
    DWORD pid = ::GetCurrentProcessId();
    std::wstring name = vellum::Format(L"%s%lu", kProbeMappingPrefix, pid);
    vellum::UniqueHandle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                      sizeof(ProbeBlock), name.c_str()));
    auto* block = mapping ? static_cast<ProbeBlock*>(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ProbeBlock)))
                          : nullptr;
    HHOOK hhook = hook && block ? ::SetWindowsHookExW(WH_CALLWNDPROC, hook, module, ::GetWindowThreadProcessId(top, nullptr))
                                : nullptr;
    if (!hhook) {
        *error = vellum::Format(L"cannot hook the window's thread (error %lu)", ::GetLastError());
    } else {
        block->done = 0;
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(top, ::RegisterWindowMessageW(kProbeMessage), pid, 0, SMTO_NORMAL, 5000, &ignored);
        ::UnhookWindowsHookEx(hhook);
        if (block->done == kProbeDone) {
            for (DWORD i = 0; i < block->count && i < kProbeMaxRecords; ++i)
                out[reinterpret_cast<HWND>(static_cast<UINT_PTR>(block->records[i].hwnd))] = block->records[i];
        } else {
            *error = L"the probe did not answer";
        }
    }
    if (block) ::UnmapViewOfFile(block);
    return out;
}

}  // namespace inspector
