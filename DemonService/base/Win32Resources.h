#pragma once

// The Win32 kinds of UniqueResource. Every handle, key, module, CryptoAPI object, environment block,
// LocalAlloc'ed string, BSTR, COM pointer and COM apartment of the service is held by one of these.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <userenv.h>
#include <wincrypt.h>

#include <cstdio>

#include "base/UniqueResource.h"

namespace win32_traits {

// The usual kind: the value-initialised Type (null, 0, false) means "none"; anything else is released by
// CloseFunction. The release puts the thread's last error back as it was, so that an owner going out of
// scope between a failed call and its GetLastError() does not change the answer.
template <typename ValueType, auto CloseFunction>
struct CloseWith {
    using Type = ValueType;
    static Type Invalid() noexcept { return Type(); }
    static bool IsValid(Type value) noexcept { return value != Type(); }
    static void Close(Type value) noexcept
    {
        const DWORD lastError = ::GetLastError();
        CloseFunction(value);
        ::SetLastError(lastError);
    }
};

// Kernel handles come in two flavours: APIs that fail with null and APIs that fail with
// INVALID_HANDLE_VALUE. Neither value is ever closed, whichever flavour holds it.
inline bool IsRealHandle(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }

template <auto CloseFunction>
struct NullHandle : CloseWith<HANDLE, CloseFunction> {
    static bool IsValid(HANDLE h) noexcept { return IsRealHandle(h); }
};

template <auto CloseFunction>
struct InvalidValueHandle : CloseWith<HANDLE, CloseFunction> {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) noexcept { return IsRealHandle(h); }
};

// Release functions whose shape is not "f(value)".
inline void ReleaseCryptProvider(HCRYPTPROV provider) noexcept { ::CryptReleaseContext(provider, 0); }
inline void CloseCrtFile(std::FILE* file) noexcept { std::fclose(file); }
inline void FreeProcessHeapMemory(void* memory) noexcept { ::HeapFree(::GetProcessHeap(), 0, memory); }
template <typename Interface>
inline void ReleaseInterface(Interface* pointer) noexcept { pointer->Release(); }
template <typename Interface>
struct ComInterface : CloseWith<Interface*, &ReleaseInterface<Interface>> {
    static constexpr bool kComInterface = true;
};
// The apartment's value is whether CoInitializeEx succeeded on this thread; only then is it uninitialised.
inline void UninitializeApartment(bool) noexcept { ::CoUninitialize(); }

} // namespace win32_traits

using UniqueHandle = UniqueResource<win32_traits::NullHandle<&::CloseHandle>>;
using UniqueFileHandle = UniqueResource<win32_traits::InvalidValueHandle<&::CloseHandle>>;
using UniqueFindHandle = UniqueResource<win32_traits::InvalidValueHandle<&::FindClose>>;
using UniqueRegKey = UniqueResource<win32_traits::CloseWith<HKEY, &::RegCloseKey>>;
using UniqueServiceHandle = UniqueResource<win32_traits::CloseWith<SC_HANDLE, &::CloseServiceHandle>>;
using UniqueEventSource = UniqueResource<win32_traits::CloseWith<HANDLE, &::DeregisterEventSource>>;
using UniqueModule = UniqueResource<win32_traits::CloseWith<HMODULE, &::FreeLibrary>>;
using UniqueCryptProvider = UniqueResource<win32_traits::CloseWith<HCRYPTPROV, &win32_traits::ReleaseCryptProvider>>;
using UniqueCryptHash = UniqueResource<win32_traits::CloseWith<HCRYPTHASH, &::CryptDestroyHash>>;
using UniqueEnvironmentBlock = UniqueResource<win32_traits::CloseWith<void*, &::DestroyEnvironmentBlock>>;
using UniqueLocalMemory = UniqueResource<win32_traits::CloseWith<void*, &::LocalFree>>;
using UniqueProcessHeapMemory = UniqueResource<win32_traits::CloseWith<void*, &win32_traits::FreeProcessHeapMemory>>;
using UniqueLocalWideString = UniqueResource<win32_traits::CloseWith<wchar_t*, &::LocalFree>>;
using UniqueBstr = UniqueResource<win32_traits::CloseWith<BSTR, &::SysFreeString>>;
using UniqueCrtFile = UniqueResource<win32_traits::CloseWith<std::FILE*, &win32_traits::CloseCrtFile>>;
template <typename Interface>
using UniqueComPtr = UniqueResource<win32_traits::ComInterface<Interface>>;
using UniqueComApartment = UniqueResource<win32_traits::CloseWith<bool, &win32_traits::UninitializeApartment>>;

// Initialises COM on the calling thread as a single-threaded apartment. The result tells whether COM is
// usable (RPC_E_CHANGED_MODE counts: the thread already has an apartment); the owner uninitialises only
// what this call initialised.
inline UniqueComApartment InitializeComApartment(HRESULT* result = nullptr) noexcept
{
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (result != nullptr) {
        *result = hr;
    }
    return UniqueComApartment(SUCCEEDED(hr));
}
