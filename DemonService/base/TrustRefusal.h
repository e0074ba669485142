#pragma once

// Why the service refused to trust a program: the pipe's server, or an installer it was about to start.
// Values only, no I/O. Callers that report a refusal (the log, a system event) name it by this value.

enum class TrustRefusal {
    None,                  // trusted
    NotSigned,             // the validation library rejected the file
    OutsideInstallFolder,  // the file is not in the install folder (or that folder is a drive root)
    AnotherSessionOrUser,  // the process runs outside the console session or as another user
    FolderWritableByUsers, // someone but the system may change its folder or one above (or a list is unknown)
    ValidatorUnusable,     // no usable validation library: nothing can be trusted
};

// A short English text for the reason ("not signed", ...); "trusted" for None.
inline const char* TrustRefusalText(TrustRefusal reason)
{
    switch (reason) {
    case TrustRefusal::None:
        return "trusted";
    case TrustRefusal::NotSigned:
        return "not signed";
    case TrustRefusal::OutsideInstallFolder:
        return "outside the install folder";
    case TrustRefusal::AnotherSessionOrUser:
        return "another session or user";
    case TrustRefusal::FolderWritableByUsers:
        return "install folder writable by users";
    case TrustRefusal::ValidatorUnusable:
        return "validation library unusable";
    }
    return "refused";
}
