#include "trust/SignatureValidator.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <vector>

#include "base/InstallPaths.h"
#include "base/OwnImagePath.h"
#include "trust/ExpectedValidatorDigest.h"
#include "trust/ImageDigestRanges.h"

namespace {

// The verification record without its signature-settings member, and the file record, as the 64-bit
// ABI lays them out. The size is set explicitly: newer SDKs add members that this check leaves unused.
constexpr DWORD kWinTrustDataSize = 80;
constexpr DWORD kWinTrustFileInfoSize = 32;
#if defined(_WIN64)
static_assert(offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD) == kWinTrustDataSize,
              "WINTRUST_DATA up to dwUIContext must be 80 bytes");
static_assert(sizeof(WINTRUST_DATA) >= kWinTrustDataSize, "WINTRUST_DATA shorter than its 80-byte form");
static_assert(sizeof(WINTRUST_FILE_INFO) == kWinTrustFileInfoSize, "WINTRUST_FILE_INFO must be 32 bytes");
#endif

// Revocation data comes from the local URL cache only: the check never waits on the network.
constexpr DWORD kTrustProviderFlags = WTD_REVOCATION_CHECK_CHAIN | WTD_CACHE_ONLY_URL_RETRIEVAL;
static_assert(kTrustProviderFlags == 0x1040, "provider flags");

// Windows 8 is version 6.2.
constexpr DWORD kWindows8Major = 6;
constexpr DWORD kWindows8Minor = 2;

LONG VerifyFileSignature(const std::wstring& path)
{
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = kWinTrustFileInfoSize;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = nullptr;
    fileInfo.pgKnownSubject = nullptr;

    WINTRUST_DATA data = {};
    data.cbStruct = kWinTrustDataSize;
    data.pPolicyCallbackData = nullptr;
    data.pSIPClientData = nullptr;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.hWVTStateData = nullptr;
    data.pwszURLReference = nullptr;
    data.dwProvFlags = kTrustProviderFlags;
    data.dwUIContext = 0;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = ::WinVerifyTrust(nullptr, &action, &data);
    // The verify call leaves state behind whatever its result; the close call releases it.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(nullptr, &action, &data);
    return result;
}

bool IsWindows8OrLater()
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = kWindows8Major;
    version.dwMinorVersion = kWindows8Minor;
    version.wServicePackMajor = 0;
    ULONGLONG condition = 0;
    condition = ::VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return ::VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                                condition) != FALSE;
}

// Sharing read only: while this handle is open nobody can write, rename, replace or delete the file.
UniqueFileHandle OpenHeldForReading(const std::wstring& path)
{
    return UniqueFileHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool SeekTo(HANDLE file, std::uint64_t position)
{
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(position);
    return ::SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) != FALSE;
}

// True only when all of count bytes were read.
bool ReadExactly(HANDLE file, unsigned char* buffer, DWORD count)
{
    DWORD read = 0;
    return ::ReadFile(file, buffer, count, &read, nullptr) && read == count;
}

std::optional<SkippedRanges> ReadSkippedRanges(HANDLE file, std::uint64_t fileSize)
{
    unsigned char dosHeader[kDosHeaderSize] = {};
    if (!SeekTo(file, 0) || !ReadExactly(file, dosHeader, sizeof(dosHeader))) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> imageHeader = ImageHeaderOffset(dosHeader, fileSize);
    if (!imageHeader) {
        return std::nullopt;
    }
    unsigned char headers[kImageHeadersSize] = {};
    if (!SeekTo(file, *imageHeader) || !ReadExactly(file, headers, sizeof(headers))) {
        return std::nullopt;
    }
    return ComputeSkippedRanges(*imageHeader, headers, fileSize);
}

// The digest of the file open in file, whose signature has already been checked.
std::wstring HashImage(HANDLE file)
{
    UniqueCryptProvider provider;
    if (!::CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        return std::wstring();
    }
    UniqueCryptHash hash;
    if (!::CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put())) {
        return std::wstring();
    }
    LARGE_INTEGER fileSize = {};
    if (!::GetFileSizeEx(file, &fileSize) || fileSize.QuadPart < 0) {
        return std::wstring();
    }
    const std::optional<SkippedRanges> ranges = ReadSkippedRanges(file, static_cast<std::uint64_t>(fileSize.QuadPart));
    if (!ranges || !SeekTo(file, 0)) {
        return std::wstring();
    }

    std::vector<unsigned char> chunk(kDigestChunkSize);
    DigestWalk walk(*ranges);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
            return std::wstring();
        }
        if (read == 0) {
            break;
        }
        const DigestWalk::Cut cut = walk.Next(read);
        // A seek that fails ends the digest with what was hashed before this chunk.
        if (cut.seek && !SeekTo(file, walk.Position())) {
            break;
        }
        if (cut.hashLength > 0 &&
            !::CryptHashData(hash.get(), chunk.data(), static_cast<DWORD>(cut.hashLength), 0)) {
            return std::wstring();
        }
    }

    unsigned char digest[kDigestBytes] = {};
    DWORD digestSize = sizeof(digest);
    if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digestSize, 0) || digestSize != sizeof(digest)) {
        return std::wstring();
    }
    return DigestText(digest);
}

// GetSignedFileHash on a file that the caller already holds open through OpenHeldForReading.
std::wstring SignedFileHashOfHeldFile(const std::wstring& path, HANDLE file)
{
    const LONG trustResult = VerifyFileSignature(path);
    const bool windows8OrLater = trustResult == CERT_E_CHAINING && IsWindows8OrLater();
    if (!IsSignatureResultUsable(trustResult, windows8OrLater)) {
        return std::wstring();
    }
    return HashImage(file);
}

template <typename Function>
Function ProcAs(FARPROC proc)
{
    // Through a generic function pointer type: a direct cast between unrelated function types warns.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

} // namespace

bool IsSignatureResultUsable(LONG trustResult, bool windows8OrLater)
{
    if (trustResult == 0) {
        return true;
    }
    if (trustResult == CERT_E_CHAINING) {
        return !windows8OrLater;
    }
    return false;
}

std::wstring GetSignedFileHash(const std::wstring& path)
{
    const UniqueFileHandle file = OpenHeldForReading(path);
    if (!file) {
        return std::wstring();
    }
    return SignedFileHashOfHeldFile(path, file.get());
}

SignatureValidator& SignatureValidator::GetInstance()
{
    // Deliberately never destroyed: see the declaration.
    static SignatureValidator* const instance = new SignatureValidator();
    return *instance;
}

bool SignatureValidator::Load()
{
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_module) {
        return true;
    }
    wchar_t ownImagePath[kOwnImagePathChars] = {};
    GetOwnImagePath(ownImagePath);
    return LoadLocked(FolderWithBackslash(ownImagePath), kExpectedValidatorDigest);
}

bool SignatureValidator::LoadFrom(const std::wstring& folder, const std::wstring& expectedDigest)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_module) {
        return true;
    }
    return LoadLocked(folder, expectedDigest);
}

static_assert(kValidatorLoadFlags == 0x900 && (kValidatorLoadFlags & LOAD_WITH_ALTERED_SEARCH_PATH) == 0,
              "the library's folder and System32, nothing else");

bool SignatureValidator::LoadLocked(const std::wstring& folder, const std::wstring& expectedDigest)
{
    const std::wstring path = folder + kValidatorLibraryName;
    // Held until the library is mapped, so the file loaded is the file checked.
    const UniqueFileHandle heldFile = OpenHeldForReading(path);
    if (!heldFile) {
        return false;
    }
    const std::wstring digest = SignedFileHashOfHeldFile(path, heldFile.get());
    if (digest.size() != kDigestTextChars || digest != expectedDigest) {
        return false;
    }
    // What the library imports is looked for in its own folder and in System32 only: the altered search
    // path would also try every folder of the system PATH, and one that users may write is common.
    UniqueModule module(::LoadLibraryExW(path.c_str(), nullptr, kValidatorLoadFlags));
    if (!module) {
        return false;
    }
    ValidateAssembly = ProcAs<ValidateAssemblyProc>(::GetProcAddress(module.get(), "ValidateAssembly"));
    ValidateCertFile = ::GetProcAddress(module.get(), "ValidateCertFile");
    ValidateXmlFile = ::GetProcAddress(module.get(), "ValidateXmlFile");
    ValidateXmlString = ::GetProcAddress(module.get(), "ValidateXmlString");
    m_module = std::move(module);
    return true;
}

int SignatureValidator::CallValidateAssembly(const wchar_t* path)
{
    ValidateAssemblyProc validateAssembly = nullptr;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        validateAssembly = ValidateAssembly;
    }
    return validateAssembly != nullptr ? validateAssembly(path) : kValidatorUnavailable;
}

int ValidateAssemblyFile(const wchar_t* path)
{
    SignatureValidator& validator = SignatureValidator::GetInstance();
    validator.Load();
    return validator.CallValidateAssembly(path);
}
