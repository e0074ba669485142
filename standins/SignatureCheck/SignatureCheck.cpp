// Halvex.SignatureCheck.Native.dll: our stand-in for the signature-validation library that ships
// beside the service. It accepts what the test publisher signed, and nothing else.
//
// Exports (names fixed by SignatureCheck.def; results: 0 accepts, anything else rejects):
//   int ValidateAssembly(const wchar_t* path)   the file's Authenticode signature verifies and its
//                                               signer certificate is the test publisher's
//   int ValidateCertFile(const wchar_t* path)   the file holds the test publisher's certificate,
//                                               DER or PEM
//   int ValidateXmlFile(const wchar_t* path)    ValidateXmlString on the file's text (UTF-8)
//   int ValidateXmlString(const wchar_t* xml)   the text carries the test publisher's certificate in
//                                               an X509Certificate element (base64); the signature
//                                               value itself is not checked
//
// The signer is compared as the certificate itself (its DER bytes), not only through the trust result:
// a machine may trust other roots, and Wine trusts every intact signature whatever its chain.

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <string>

#include "base/Win32Resources.h"
#include "signing/TestCertificates.h"

namespace {

// Rejection codes, distinct from the service's own 6 for an unusable library.
constexpr int kAccepted = 0;
constexpr int kNoInput = 1;
constexpr int kSignatureRejected = 2;
constexpr int kNoSigner = 3;
constexpr int kOtherPublisher = 4;
constexpr int kUnreadable = 5;
constexpr int kNoCertificate = 7;

// Certificate and XML files are small; anything larger is not one of ours.
constexpr DWORD kMaxInputFileBytes = 1024 * 1024;

bool IsTestPublisher(const BYTE* der, DWORD size)
{
    return der != nullptr && size == sizeof(kTestPublisherCertificate) &&
           std::memcmp(der, kTestPublisherCertificate, size) == 0;
}

class TrustState {
public:
    explicit TrustState(const wchar_t* path)
    {
        m_file.cbStruct = sizeof(m_file);
        m_file.pcwszFilePath = path;
        m_data.cbStruct = sizeof(m_data);
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        m_data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
        m_result = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }
    ~TrustState()
    {
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;

    LONG Result() const { return m_result; }

    // The leaf certificate of the primary signer, valid until the state is closed.
    PCCERT_CONTEXT Signer() const
    {
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(m_data.hWVTStateData);
        if (provider == nullptr) {
            return nullptr;
        }
        CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
        if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) {
            return nullptr;
        }
        return signer->pasCertChain[0].pCert;
    }

private:
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    LONG m_result = 0;
};

bool ReadSmallFile(const wchar_t* path, std::string& bytes)
{
    const UniqueFileHandle file(
        ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        size.QuadPart > kMaxInputFileBytes) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() ||
           (::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
}

// Base64 (with or without PEM armour, blanks and line breaks allowed) decoded; false when it is not.
bool DecodeBase64(const wchar_t* text, DWORD length, DWORD flags, std::string& bytes)
{
    DWORD size = 0;
    if (!::CryptStringToBinaryW(text, length, flags, nullptr, &size, nullptr, nullptr) || size == 0) {
        return false;
    }
    bytes.resize(size);
    if (!::CryptStringToBinaryW(text, length, flags, reinterpret_cast<BYTE*>(&bytes[0]), &size, nullptr, nullptr)) {
        return false;
    }
    bytes.resize(size);
    return true;
}

std::wstring WidenUtf8(const std::string& text)
{
    std::size_t start = 0;
    if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF) {
        start = 3;
    }
    const int length = static_cast<int>(text.size() - start);
    if (length == 0) {
        return std::wstring();
    }
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, text.data() + start, length, nullptr, 0);
    std::wstring wide(chars > 0 ? static_cast<std::size_t>(chars) : 0, L'\0');
    if (chars > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data() + start, length, &wide[0], chars);
    }
    return wide;
}

} // namespace

extern "C" int ValidateAssembly(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0') {
        return kNoInput;
    }
    const TrustState trust(path);
    if (trust.Result() != 0) {
        return kSignatureRejected;
    }
    const PCCERT_CONTEXT signer = trust.Signer();
    if (signer == nullptr) {
        return kNoSigner;
    }
    return IsTestPublisher(signer->pbCertEncoded, signer->cbCertEncoded) ? kAccepted : kOtherPublisher;
}

extern "C" int ValidateCertFile(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0') {
        return kNoInput;
    }
    std::string bytes;
    if (!ReadSmallFile(path, bytes)) {
        return kUnreadable;
    }
    if (IsTestPublisher(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()))) {
        return kAccepted;
    }
    const std::wstring text = WidenUtf8(bytes);
    std::string der;
    if (!DecodeBase64(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, der)) {
        return kNoCertificate;
    }
    return IsTestPublisher(reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()))
               ? kAccepted
               : kOtherPublisher;
}

extern "C" int ValidateXmlString(const wchar_t* xml)
{
    if (xml == nullptr || *xml == L'\0') {
        return kNoInput;
    }
    // Every <X509Certificate> or <prefix:X509Certificate> element, up to its closing tag.
    const std::wstring text = xml;
    static constexpr wchar_t kElement[] = L"X509Certificate>";
    const std::size_t elementLength = sizeof(kElement) / sizeof(kElement[0]) - 1;
    bool sawCertificate = false;
    std::size_t from = 0;
    for (;;) {
        const std::size_t open = text.find(kElement, from);
        if (open == std::wstring::npos) {
            break;
        }
        const std::size_t tagStart = text.rfind(L'<', open);
        const bool isOpeningTag = tagStart != std::wstring::npos && text[tagStart + 1] != L'/';
        const std::size_t contentStart = open + elementLength;
        from = contentStart;
        if (!isOpeningTag) {
            continue;
        }
        const std::size_t close = text.find(L"</", contentStart);
        if (close == std::wstring::npos) {
            break;
        }
        std::string der;
        if (DecodeBase64(text.c_str() + contentStart, static_cast<DWORD>(close - contentStart), CRYPT_STRING_BASE64,
                         der)) {
            sawCertificate = true;
            if (IsTestPublisher(reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()))) {
                return kAccepted;
            }
        }
        from = close;
    }
    return sawCertificate ? kOtherPublisher : kNoCertificate;
}

extern "C" int ValidateXmlFile(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0') {
        return kNoInput;
    }
    std::string bytes;
    if (!ReadSmallFile(path, bytes)) {
        return kUnreadable;
    }
    const std::wstring text = WidenUtf8(bytes);
    return ValidateXmlString(text.c_str());
}
