// The validation library's own check (signature and image digest), its loading, and the answers the
// service gets through it. Library variants come from testdata/validator/ (see
// standins/SignatureCheck/CMakeLists.txt); each test copies what it needs into a folder of its own.
//
// Wine's WinVerifyTrust accepts any intact signature whatever its chain, so nothing here relies on a
// chain being refused: a foreign signer is told apart by the stand-in library, by its certificate.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cwctype>
#include <string>

#include "Sandbox.h"
#include "trust/ExpectedValidatorDigest.h"
#include "trust/SignatureValidator.h"
#include "signing/StandinValidatorDigest.h"

using namespace harness;

namespace {

// <build>\ as seen from Windows.
std::wstring BuildFolder()
{
    const std::wstring testData = TestDataFolder();
    return testData.substr(0, testData.size() - std::wstring(L"testdata\\").size());
}

std::wstring SignedLibrary(const std::wstring& buildFolder = BuildFolder())
{
    return buildFolder + L"sandbox\\" + kValidatorLibraryName;
}

// unsigned, other-publisher, code-changed, without-validate-assembly
std::wstring LibraryVariant(const wchar_t* variant, const std::wstring& buildFolder = BuildFolder())
{
    return buildFolder + L"testdata\\validator\\" + variant + L"\\" + kValidatorLibraryName;
}

std::uint32_t ReadLe32(const std::string& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at))) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at + 1))) << 8) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at + 2))) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at + 3))) << 24);
}

// Offset of the image's checksum field.
std::size_t ChecksumOffset(const std::string& image)
{
    return ReadLe32(image, 60) + 88;
}

// An offset inside the image's first code section.
std::size_t CodeByteOffset(const std::string& image)
{
    const std::size_t fileHeader = ReadLe32(image, 60) + 4;
    const std::size_t sections = static_cast<unsigned char>(image.at(fileHeader + 2)) |
                                 (static_cast<unsigned char>(image.at(fileHeader + 3)) << 8);
    const std::size_t optionalSize = static_cast<unsigned char>(image.at(fileHeader + 16)) |
                                     (static_cast<unsigned char>(image.at(fileHeader + 17)) << 8);
    for (std::size_t i = 0; i < sections; ++i) {
        const std::size_t section = fileHeader + 20 + optionalSize + 40 * i;
        if (ReadLe32(image, section + 36) & IMAGE_SCN_CNT_CODE) {
            return ReadLe32(image, section + 20) + 100;
        }
    }
    ADD_FAILURE() << "no code section";
    return 0;
}

std::wstring Lowercase(std::wstring text)
{
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

bool IsMapped(const std::wstring& path) { return ::GetModuleHandleW(path.c_str()) != nullptr; }

// A folder standing in for the service's folder, holding at most one validation library.
class LibraryFolder {
public:
    LibraryFolder() : m_folder(L"orvel-validator") {}

    std::wstring Folder() const { return m_folder.Path() + L"\\"; }
    std::wstring LibraryPath() const { return m_folder / kValidatorLibraryName; }

    void Put(const std::wstring& source) const
    {
        ASSERT_TRUE(::CopyFileW(source.c_str(), LibraryPath().c_str(), FALSE)) << ToUtf8(source);
    }
    // Puts source with the byte at offset changed.
    void PutChanged(const std::wstring& source, std::size_t (*offsetOf)(const std::string&)) const
    {
        std::string bytes = ReadFileBytes(source);
        ASSERT_GT(bytes.size(), 4096u);
        bytes.at(offsetOf(bytes)) ^= 0x5A;
        WriteFileBytes(LibraryPath(), bytes);
    }

private:
    TempFolder m_folder;
};

// --- The digest of the library file -------------------------------------------------------------

TEST(SignedFileHash, OfTheSignedStandInEqualsTheDigestTakenIndependentlyAtBuildTime)
{
    const std::wstring digest = GetSignedFileHash(SignedLibrary());
    EXPECT_EQ(digest, kStandinValidatorDigest);
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(digest.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos);
}

TEST(SignedFileHash, IgnoresTheChecksumFieldAndTheSignatureBlock)
{
    const std::wstring digest = GetSignedFileHash(SignedLibrary());
    ASSERT_EQ(digest.size(), 64u);

    LibraryFolder checksumChanged;
    checksumChanged.PutChanged(SignedLibrary(), ChecksumOffset);
    EXPECT_EQ(GetSignedFileHash(checksumChanged.LibraryPath()), digest);

    // The same image signed by someone else: only the certificate table (and its entry) differ.
    const std::wstring otherSigner = LibraryVariant(L"other-publisher");
    ASSERT_NE(ReadFileBytes(otherSigner), ReadFileBytes(SignedLibrary()));
    EXPECT_EQ(GetSignedFileHash(otherSigner), digest);
}

TEST(SignedFileHash, ChangesWithOneByteOfCode)
{
    const std::wstring changed = GetSignedFileHash(LibraryVariant(L"code-changed"));
    EXPECT_EQ(changed.size(), 64u);
    EXPECT_NE(changed, GetSignedFileHash(SignedLibrary()));
}

TEST(SignedFileHash, IsEmptyUnlessTheSignatureVerifies)
{
    EXPECT_EQ(GetSignedFileHash(LibraryVariant(L"unsigned")), L"");

    LibraryFolder changedAfterSigning;
    changedAfterSigning.PutChanged(SignedLibrary(), CodeByteOffset);
    EXPECT_EQ(GetSignedFileHash(changedAfterSigning.LibraryPath()), L"");

    LibraryFolder empty;
    EXPECT_EQ(GetSignedFileHash(empty.LibraryPath()), L"");
}

TEST(SignedFileHash, OnlyAVerifiedSignatureOrAnUnbuiltChainBeforeWindows8LetsTheDigestGoOn)
{
    EXPECT_TRUE(IsSignatureResultUsable(0, true));
    EXPECT_FALSE(IsSignatureResultUsable(TRUST_E_NOSIGNATURE, false));
    EXPECT_FALSE(IsSignatureResultUsable(TRUST_E_BAD_DIGEST, false));
    // A chain that does not build refuses the library from Windows 8 on, and only there.
    EXPECT_FALSE(IsSignatureResultUsable(CERT_E_CHAINING, true));
    EXPECT_TRUE(IsSignatureResultUsable(CERT_E_CHAINING, false));
}

// --- Loading the library --------------------------------------------------------------------------

TEST(ValidatorLoad, LoadsTheSignedLibraryWithTheExpectedDigest)
{
    LibraryFolder folder;
    folder.Put(SignedLibrary());
    SignatureValidator validator;
    EXPECT_TRUE(validator.LoadFrom(folder.Folder(), kStandinValidatorDigest));
    EXPECT_TRUE(IsMapped(folder.LibraryPath()));
    EXPECT_EQ(validator.CallValidateAssembly(SignedLibrary().c_str()), 0);
}

TEST(ValidatorLoad, NeverLoadsAnUnsignedLibraryWhateverItsDigest)
{
    // The unsigned variant is the signed library with its signature removed: its image digest is the
    // expected one (the other-publisher variant, signed from the very same file, shows it).
    ASSERT_EQ(GetSignedFileHash(LibraryVariant(L"other-publisher")), kStandinValidatorDigest);
    LibraryFolder folder;
    folder.Put(LibraryVariant(L"unsigned"));
    SignatureValidator validator;
    EXPECT_FALSE(validator.LoadFrom(folder.Folder(), kStandinValidatorDigest));
    EXPECT_FALSE(validator.LoadFrom(folder.Folder(), L""));
    EXPECT_FALSE(IsMapped(folder.LibraryPath()));
    EXPECT_EQ(validator.CallValidateAssembly(SignedLibrary().c_str()), kValidatorUnavailable);
}

TEST(ValidatorLoad, RefusesASignedLibraryThatIsNotTheExpectedOne)
{
    SignatureValidator validator;
    {
        LibraryFolder changedAfterSigning;
        changedAfterSigning.PutChanged(SignedLibrary(), CodeByteOffset);
        EXPECT_FALSE(validator.LoadFrom(changedAfterSigning.Folder(), kStandinValidatorDigest));
        EXPECT_FALSE(IsMapped(changedAfterSigning.LibraryPath()));
    }
    {
        // Changed, then signed again by the test publisher: the signature is fine, the digest is not.
        LibraryFolder resigned;
        resigned.Put(LibraryVariant(L"code-changed"));
        EXPECT_FALSE(validator.LoadFrom(resigned.Folder(), kStandinValidatorDigest));
        EXPECT_FALSE(IsMapped(resigned.LibraryPath()));
    }
    EXPECT_EQ(validator.CallValidateAssembly(SignedLibrary().c_str()), kValidatorUnavailable);
}

TEST(ValidatorLoad, AnExpectedDigestInLowerCaseNeverMatches)
{
    LibraryFolder folder;
    folder.Put(SignedLibrary());
    SignatureValidator validator;
    EXPECT_FALSE(validator.LoadFrom(folder.Folder(), Lowercase(kStandinValidatorDigest)));
    EXPECT_FALSE(IsMapped(folder.LibraryPath()));
    EXPECT_TRUE(validator.LoadFrom(folder.Folder(), kStandinValidatorDigest));
}

TEST(ValidatorLoad, WithoutAUsableLibraryEveryPathGets6UntilAGoodOneIsPutInPlace)
{
    LibraryFolder folder;
    SignatureValidator validator;
    const std::wstring paths[] = {SignedLibrary(), LibraryVariant(L"unsigned"), folder.Folder() + L"missing.exe"};
    const auto everyPathGets = [&](int expected) {
        for (const std::wstring& path : paths) {
            validator.LoadFrom(folder.Folder(), kStandinValidatorDigest);
            EXPECT_EQ(validator.CallValidateAssembly(path.c_str()), expected) << ToUtf8(path);
        }
    };

    everyPathGets(kValidatorUnavailable); // no library at all
    folder.Put(LibraryVariant(L"unsigned"));
    everyPathGets(kValidatorUnavailable);
    EXPECT_FALSE(IsMapped(folder.LibraryPath()));

    // The check is made again on each call, so the good library is picked up as soon as it is there.
    folder.Put(SignedLibrary());
    validator.LoadFrom(folder.Folder(), kStandinValidatorDigest);
    EXPECT_EQ(validator.CallValidateAssembly(SignedLibrary().c_str()), 0);
    EXPECT_NE(validator.CallValidateAssembly(LibraryVariant(L"unsigned").c_str()), 0);

    // Once loaded it stays: the file on disk is not looked at again (and cannot be replaced).
    EXPECT_FALSE(::CopyFileW(LibraryVariant(L"unsigned").c_str(), folder.LibraryPath().c_str(), FALSE));
    EXPECT_TRUE(validator.LoadFrom(folder.Folder(), L"not the digest"));
}

TEST(ValidatorLoad, ALibraryWithoutValidateAssemblyGives6)
{
    const std::wstring variant = LibraryVariant(L"without-validate-assembly");
    LibraryFolder folder;
    folder.Put(variant);
    SignatureValidator validator;
    ASSERT_TRUE(validator.LoadFrom(folder.Folder(), GetSignedFileHash(variant)));
    EXPECT_EQ(validator.CallValidateAssembly(SignedLibrary().c_str()), kValidatorUnavailable);
}

// --- What the library answers ---------------------------------------------------------------------

TEST(ValidateAssembly, AcceptsOnlyFilesSignedByTheTestPublisher)
{
    LibraryFolder folder;
    folder.Put(SignedLibrary());
    SignatureValidator validator;
    ASSERT_TRUE(validator.LoadFrom(folder.Folder(), kStandinValidatorDigest));

    EXPECT_EQ(validator.CallValidateAssembly(SignedLibrary().c_str()), 0);
    EXPECT_EQ(validator.CallValidateAssembly(LibraryVariant(L"code-changed").c_str()), 0);
    EXPECT_NE(validator.CallValidateAssembly(LibraryVariant(L"unsigned").c_str()), 0);
    EXPECT_NE(validator.CallValidateAssembly(LibraryVariant(L"other-publisher").c_str()), 0);
    EXPECT_NE(validator.CallValidateAssembly((folder.Folder() + L"missing.exe").c_str()), 0);
    EXPECT_NE(validator.CallValidateAssembly(nullptr), 0);

    LibraryFolder changedAfterSigning;
    changedAfterSigning.PutChanged(SignedLibrary(), CodeByteOffset);
    EXPECT_NE(validator.CallValidateAssembly(changedAfterSigning.LibraryPath().c_str()), 0);
}

TEST(ValidateAssembly, AcceptsTheSignedStandInApplicationButNotAnUnsignedOrForeignCopy)
{
    LibraryFolder folder;
    folder.Put(SignedLibrary());
    SignatureValidator validator;
    ASSERT_TRUE(validator.LoadFrom(folder.Folder(), kStandinValidatorDigest));

    const std::wstring build = BuildFolder();
    EXPECT_EQ(validator.CallValidateAssembly((build + L"sandbox\\Corvane.exe").c_str()), 0);
    EXPECT_NE(validator.CallValidateAssembly((build + L"testdata\\app\\unsigned\\Corvane.exe").c_str()), 0);
    EXPECT_NE(validator.CallValidateAssembly((build + L"testdata\\app\\other-publisher\\Corvane.exe").c_str()), 0);
}

// --- The stand-in library's other entry points (the service resolves them and never calls them) -----

using ValidateTextProc = int (*)(const wchar_t*);

std::wstring Base64(const std::string& bytes)
{
    DWORD chars = 0;
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    ::CryptBinaryToStringW(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), flags,
                           nullptr, &chars);
    std::wstring text(chars, L'\0');
    ::CryptBinaryToStringW(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), flags,
                           &text[0], &chars);
    text.resize(chars);
    return text;
}

TEST(StandInLibrary, RecognisesTheTestPublishersCertificateInFilesAndXml)
{
    const UniqueModule library(::LoadLibraryExW(SignedLibrary().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    ASSERT_TRUE(library);
    const auto entry = [&](const char* name) {
        return reinterpret_cast<ValidateTextProc>(reinterpret_cast<void (*)()>(::GetProcAddress(library.get(), name)));
    };
    const ValidateTextProc validateCertFile = entry("ValidateCertFile");
    const ValidateTextProc validateXmlFile = entry("ValidateXmlFile");
    const ValidateTextProc validateXmlString = entry("ValidateXmlString");
    ASSERT_TRUE(validateCertFile && validateXmlFile && validateXmlString);

    const std::wstring signing = BuildFolder() + L"signing\\";
    EXPECT_EQ(validateCertFile((signing + L"publisher.der").c_str()), 0);
    EXPECT_EQ(validateCertFile((signing + L"publisher.crt").c_str()), 0); // PEM
    EXPECT_NE(validateCertFile((signing + L"other.crt").c_str()), 0);
    EXPECT_NE(validateCertFile((signing + L"root.der").c_str()), 0);
    EXPECT_NE(validateCertFile((signing + L"missing.der").c_str()), 0);

    const std::wstring publisher = Base64(ReadFileBytes(signing + L"publisher.der"));
    const std::wstring other = Base64(ReadFileBytes(signing + L"other.der"));
    ASSERT_FALSE(publisher.empty());
    const std::wstring signedXml = L"<Doc><ds:Signature><ds:KeyInfo><ds:X509Data><ds:X509Certificate>" + publisher +
                                   L"</ds:X509Certificate></ds:X509Data></ds:KeyInfo></ds:Signature></Doc>";
    EXPECT_EQ(validateXmlString(signedXml.c_str()), 0);
    EXPECT_NE(validateXmlString((L"<X509Certificate>" + other + L"</X509Certificate>").c_str()), 0);
    EXPECT_NE(validateXmlString(L"<Doc/>"), 0);
    EXPECT_NE(validateXmlString(nullptr), 0);

    LibraryFolder folder;
    const std::wstring xmlFile = folder.Folder() + L"signed.xml";
    WriteFileBytes(xmlFile, "\xEF\xBB\xBF" + ToUtf8(signedXml));
    EXPECT_EQ(validateXmlFile(xmlFile.c_str()), 0);
}

// --- The service's own entry: ValidateAssemblyFile ----------------------------------------------
//
// ValidateAssemblyFile looks for the library beside the running executable, with the digest this build
// was given, in a process-wide record that is loaded once. So this test runs a copy of this executable
// from a folder of its own, as a child that runs only the scenario below.

constexpr wchar_t kChildVariable[] = L"ORVEL_VALIDATOR_CHILD_BUILD";

std::wstring ChildBuildFolder()
{
    wchar_t value[MAX_PATH * 2] = {};
    const DWORD length = ::GetEnvironmentVariableW(kChildVariable, value, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(value, length) : std::wstring();
}

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH * 2] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    const std::wstring text = path;
    return text.substr(0, text.rfind(L'\\') + 1);
}

class FirstUseInAFreshProcess : public ::testing::Test {
    void TestBody() override
    {
        const std::wstring build = ChildBuildFolder();
        const std::wstring beside = OwnFolder() + kValidatorLibraryName;
        const std::wstring signedFile = SignedLibrary(build);
        const std::wstring unsignedFile = LibraryVariant(L"unsigned", build);

        EXPECT_EQ(ValidateAssemblyFile(signedFile.c_str()), kValidatorUnavailable);
        EXPECT_EQ(ValidateAssemblyFile(L"C:\\nowhere\\missing.exe"), kValidatorUnavailable);

        ASSERT_TRUE(::CopyFileW(unsignedFile.c_str(), beside.c_str(), FALSE));
        EXPECT_EQ(ValidateAssemblyFile(signedFile.c_str()), kValidatorUnavailable);

        ASSERT_TRUE(::CopyFileW(signedFile.c_str(), beside.c_str(), FALSE));
        if (std::wstring(kExpectedValidatorDigest) == kStandinValidatorDigest) {
            EXPECT_EQ(ValidateAssemblyFile(signedFile.c_str()), 0);
            EXPECT_NE(ValidateAssemblyFile(unsignedFile.c_str()), 0);
            EXPECT_NE(ValidateAssemblyFile(LibraryVariant(L"other-publisher", build).c_str()), 0);
            EXPECT_EQ(ValidateAssemblyFile((build + L"sandbox\\Corvane.exe").c_str()), 0);
            EXPECT_NE(ValidateAssemblyFile((build + L"testdata\\app\\unsigned\\Corvane.exe").c_str()), 0);
            EXPECT_NE(ValidateAssemblyFile((build + L"testdata\\app\\other-publisher\\Corvane.exe").c_str()), 0);
        } else {
            // This build names the digest of another library than the stand-in: it never loads ours.
            EXPECT_EQ(ValidateAssemblyFile(signedFile.c_str()), kValidatorUnavailable);
        }
    }
};

const bool kChildScenarioRegistered = [] {
    if (ChildBuildFolder().empty()) {
        return false;
    }
    ::testing::RegisterTest("ValidatorChild", "FirstUseInAFreshProcess", nullptr, nullptr, __FILE__, __LINE__,
                            []() -> ::testing::Test* { return new FirstUseInAFreshProcess(); });
    return true;
}();

TEST(ValidateAssemblyFile, ChecksAndLoadsTheLibraryBesideTheServiceOnFirstUseWithoutARestart)
{
    wchar_t ownPath[MAX_PATH * 2] = {};
    ::GetModuleFileNameW(nullptr, ownPath, MAX_PATH * 2);
    TempFolder folder(L"orvel-service");
    const std::wstring child = folder / L"validator_child.exe";
    ASSERT_TRUE(::CopyFileW(ownPath, child.c_str(), FALSE));

    ASSERT_TRUE(::SetEnvironmentVariableW(kChildVariable, BuildFolder().c_str()));
    const std::optional<DWORD> exitCode =
        RunAndWait(child, L"--gtest_filter=ValidatorChild.* --gtest_color=no", 120000);
    ::SetEnvironmentVariableW(kChildVariable, nullptr);
    ASSERT_TRUE(exitCode.has_value());
    EXPECT_EQ(*exitCode, 0u);
}

} // namespace
