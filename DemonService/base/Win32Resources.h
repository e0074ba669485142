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

// Kernel handles come in two flavours: APIs that fail with null and APIs that fail with
// INVALID_HANDLE_VALUE. Neither value is ever closed, whichever flavour holds it.
inline bool IsRealHandle(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }

struct Handle {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return IsRealHandle(h); }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FileHandle {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) noexcept { return IsRealHandle(h); }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FindHandle {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) noexcept { return IsRealHandle(h); }
    static void Close(Type h) noexcept { ::FindClose(h); }
};

struct RegKey {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type k) noexcept { return k != nullptr; }
    static void Close(Type k) noexcept { ::RegCloseKey(k); }
};

struct ServiceHandle {
    using Type = SC_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::CloseServiceHandle(h); }
};

struct Module {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type m) noexcept { return m != nullptr; }
    static void Close(Type m) noexcept { ::FreeLibrary(m); }
};

struct CryptProvider {
    using Type = HCRYPTPROV;
    static Type Invalid() noexcept { return 0; }
    static bool IsValid(Type p) noexcept { return p != 0; }
    static void Close(Type p) noexcept { ::CryptReleaseContext(p, 0); }
};

struct CryptHash {
    using Type = HCRYPTHASH;
    static Type Invalid() noexcept { return 0; }
    static bool IsValid(Type h) noexcept { return h != 0; }
    static void Close(Type h) noexcept { ::CryptDestroyHash(h); }
};

struct EnvironmentBlock {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type e) noexcept { return e != nullptr; }
    static void Close(Type e) noexcept { ::DestroyEnvironmentBlock(e); }
};

struct LocalMemory {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type p) noexcept { return p != nullptr; }
    static void Close(Type p) noexcept { ::LocalFree(p); }
};

struct LocalWideString {
    using Type = wchar_t*;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type p) noexcept { return p != nullptr; }
    static void Close(Type p) noexcept { ::LocalFree(p); }
};

struct Bstr {
    using Type = BSTR;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type s) noexcept { return s != nullptr; }
    static void Close(Type s) noexcept { ::SysFreeString(s); }
};

struct CrtFile {
    using Type = std::FILE*;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type f) noexcept { return f != nullptr; }
    static void Close(Type f) noexcept { std::fclose(f); }
};

template <typename Interface>
struct ComPointer {
    using Type = Interface*;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type p) noexcept { return p != nullptr; }
    static void Close(Type p) noexcept { p->Release(); }
};

// The apartment is "held" when CoInitializeEx succeeded on this thread; only then is it uninitialised.
struct ComApartment {
    using Type = bool;
    static Type Invalid() noexcept { return false; }
    static bool IsValid(Type initialised) noexcept { return initialised; }
    static void Close(Type) noexcept { ::CoUninitialize(); }
};

} // namespace win32_traits

using UniqueHandle = UniqueResource<win32_traits::Handle>;
using UniqueFileHandle = UniqueResource<win32_traits::FileHandle>;
using UniqueFindHandle = UniqueResource<win32_traits::FindHandle>;
using UniqueRegKey = UniqueResource<win32_traits::RegKey>;
using UniqueServiceHandle = UniqueResource<win32_traits::ServiceHandle>;
using UniqueModule = UniqueResource<win32_traits::Module>;
using UniqueCryptProvider = UniqueResource<win32_traits::CryptProvider>;
using UniqueCryptHash = UniqueResource<win32_traits::CryptHash>;
using UniqueEnvironmentBlock = UniqueResource<win32_traits::EnvironmentBlock>;
using UniqueLocalMemory = UniqueResource<win32_traits::LocalMemory>;
using UniqueLocalWideString = UniqueResource<win32_traits::LocalWideString>;
using UniqueBstr = UniqueResource<win32_traits::Bstr>;
using UniqueCrtFile = UniqueResource<win32_traits::CrtFile>;
template <typename Interface>
using UniqueComPtr = UniqueResource<win32_traits::ComPointer<Interface>>;
using UniqueComApartment = UniqueResource<win32_traits::ComApartment>;

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
