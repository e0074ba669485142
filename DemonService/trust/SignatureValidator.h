#pragma once

// The signature-validation library and the one question the service asks it: may this executable be
// trusted? The library ("Halvex.SignatureCheck.Native.dll", in the service's own folder) decides what
// the service trusts, so the service first checks the library itself: its Authenticode signature must
// verify and the digest of its image must equal the digest this build was given. Only then is it loaded.

#include <windows.h>

#include <mutex>
#include <string>

#include "base/Win32Resources.h"

constexpr wchar_t kValidatorLibraryName[] = L"Halvex.SignatureCheck.Native.dll";

// How the library is loaded: by its full path, with what it imports looked for in its own folder and
// in System32 only.
constexpr DWORD kValidatorLoadFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// The service's own result for a library, or a ValidateAssembly entry point, that is not available.
// Callers treat it like any other rejection.
constexpr int kValidatorUnavailable = 6;

// The digest of a signed file as 64 upper-case hexadecimal characters: SHA-256 over the file without
// its checksum, its certificate-table entry and its certificate table (the 64-bit image layout).
// Empty when the signature does not verify through WinVerifyTrust (see IsSignatureResultUsable), when
// the file cannot be opened, read or hashed, or when its header offsets do not fit inside the file.
// The file is held open, sharing read only, from before the signature check until the digest is done.
// Any thread.
std::wstring GetSignedFileHash(const std::wstring& path);

// Whether a WinVerifyTrust result lets the digest go on: 0 does; CERT_E_CHAINING (the chain does not
// build) does only before Windows 8, where that result is not a reliable refusal; anything else does not.
bool IsSignatureResultUsable(LONG trustResult, bool windows8OrLater);

// The loaded-library record: the library's entry points and its module. It goes from not loaded to
// loaded once; the module then stays loaded for the record's life and is never checked again. While
// not loaded, every Load repeats the whole check, so a library put in place later is picked up.
// All members may be called from any thread: one lock serialises the check and the load.
class SignatureValidator {
public:
    // The library's ValidateAssembly: the full path of a file; 0 when it is accepted.
    using ValidateAssemblyProc = int (*)(const wchar_t* path);

    SignatureValidator() = default;
    SignatureValidator(const SignatureValidator&) = delete;
    SignatureValidator& operator=(const SignatureValidator&) = delete;

    // The process-wide record, created on first use. It is never destroyed, so the library stays
    // loaded until the process ends, whatever thread is still calling into it at exit.
    static SignatureValidator& GetInstance();

    // Loads the library from the folder of the running executable, checked against the digest this
    // build was given. True when it is loaded, now or earlier.
    bool Load();

    // Loads folder + kValidatorLibraryName when its signed-file digest has exactly 64 characters and
    // equals expectedDigest character by character. folder ends with a backslash, or is empty. The
    // library file stays open, sharing read only, from the start of the check until LoadLibraryExW
    // has returned: it cannot be rewritten or replaced between the check and the load. True when the
    // library is loaded, now or earlier; false (nothing kept) when the check or the load fails.
    bool LoadFrom(const std::wstring& folder, const std::wstring& expectedDigest);

    // The library's ValidateAssembly result for path, or kValidatorUnavailable while the library is
    // not loaded or lacks that entry point. The library is called outside the lock.
    int CallValidateAssembly(const wchar_t* path);

private:
    bool LoadLocked(const std::wstring& folder, const std::wstring& expectedDigest);

    std::mutex m_lock;
    // Resolved when the library is loaded; a missing one stays null. Only ValidateAssembly is called.
    ValidateAssemblyProc ValidateAssembly = nullptr;
    FARPROC ValidateCertFile = nullptr;
    FARPROC ValidateXmlFile = nullptr;
    FARPROC ValidateXmlString = nullptr;
    UniqueModule m_module;
};

// Asks the validation library whether the executable at path may be trusted: loads it first when it is
// not loaded yet (the result of that is not looked at) and returns its ValidateAssembly result
// unchanged, or kValidatorUnavailable. 0 is the only acceptance. Any thread.
int ValidateAssemblyFile(const wchar_t* path);
