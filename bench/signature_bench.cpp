// Timings of the signature validation, printed for bench/signature_bench.sh (never asserted).
//   signature_bench.exe <file to validate> <large signed file>
// Run from a folder holding Halvex.SignatureCheck.Native.dll, as the service's folder does.
// Prints "key value" lines: the first ValidateAssemblyFile (library check, hash and load, then the
// library's own answer), the mean of later ones, and GetSignedFileHash and WinVerifyTrust alone on the
// large file.

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <string>

#include "BenchSupport.h"
#include "trust/SignatureValidator.h"

namespace {

// The verification that GetSignedFileHash makes before it hashes, on its own.
LONG VerifyOnly(const wchar_t* path)
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = 80;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN | WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = ::WinVerifyTrust(nullptr, &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(nullptr, &action, &data);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: signature_bench <file to validate> <large signed file>\n");
        return 2;
    }
    const wchar_t* target = argv[1];
    const std::wstring large = argv[2];

    double start = bench::NowMs();
    const int first = ValidateAssemblyFile(target);
    std::printf("first_validate_ms %.2f\nfirst_validate_result %d\n", (bench::NowMs() - start), first);

    constexpr int kLaterCalls = 20;
    int later = 0;
    start = bench::NowMs();
    for (int i = 0; i < kLaterCalls; ++i) {
        later |= ValidateAssemblyFile(target);
    }
    std::printf("later_validate_ms %.2f\nlater_validate_result %d\n", (bench::NowMs() - start) / kLaterCalls, later);

    // Once to warm the file cache, then measured.
    GetSignedFileHash(large);
    start = bench::NowMs();
    const std::wstring digest = GetSignedFileHash(large);
    const double hashSeconds = (bench::NowMs() - start) / 1000.0;
    start = bench::NowMs();
    const LONG verify = VerifyOnly(large.c_str());
    const double verifySeconds = (bench::NowMs() - start) / 1000.0;
    std::printf("hash_seconds %.4f\nverify_seconds %.4f\nverify_result 0x%08lx\ndigest %ls\n", hashSeconds,
                verifySeconds, static_cast<unsigned long>(verify), digest.empty() ? L"(empty)" : digest.c_str());
    return first == 0 && later == 0 && !digest.empty() ? 0 : 1;
}
