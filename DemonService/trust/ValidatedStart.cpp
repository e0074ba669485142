#include "trust/ValidatedStart.h"

#include <windows.h>

#include "base/DiagnosticLog.h"
#include "base/Win32Resources.h"
#include "trust/FolderAccessList.h"
#include "trust/InstallFolderRule.h"
#include "trust/SignatureValidator.h"

int ValidateThenStart(const wchar_t* path, const std::function<void()>& start)
{
    if (path == nullptr || path[0] == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    // Others may read (the validation library, the loader of the new process) but not write, delete or
    // rename: the image cannot change between the answer and the start.
    const UniqueFileHandle held(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held) {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? static_cast<int>(error) : ERROR_OPEN_FAILED;
    }
    const int answer = ValidateAssemblyFile(path);
    if (answer == 0) {
        start();
    }
    return answer;
}

int ValidateThenStartInstaller(const wchar_t* path, const std::vector<std::wstring>& closedFolders,
                               const std::function<void()>& start, TrustRefusal* why)
{
    TrustRefusal reason = TrustRefusal::NotSigned;
    int answer = ERROR_INVALID_PARAMETER;
    if (path != nullptr && path[0] != L'\0') {
        // A bare name has no folder of its own to judge: the empty folder is refused.
        std::vector<std::wstring> folders(1, FolderPartOf(path));
        folders.insert(folders.end(), closedFolders.begin(), closedFolders.end());
        std::string refusal;
        for (const std::wstring& folder : folders) {
            refusal = UserWriteRefusal(folder);
            if (!refusal.empty()) {
                break;
            }
        }
        if (!refusal.empty()) {
            LOG_SERVICE(refusal.c_str());
            reason = TrustRefusal::FolderWritableByUsers;
            answer = ERROR_ACCESS_DENIED;
        } else {
            answer = ValidateThenStart(path, start);
            reason = answer == 0 ? TrustRefusal::None
                     : answer == kValidatorUnavailable ? TrustRefusal::ValidatorUnusable
                                                       : TrustRefusal::NotSigned;
        }
    }
    if (why != nullptr) {
        *why = reason;
    }
    return answer;
}
