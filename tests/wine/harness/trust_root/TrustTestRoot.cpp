// TrustTestRoot.exe: adds this build's test root certificate authority to the local machine's trusted
// roots ("Root" store), so that executables signed by the test publisher verify as trusted. Run once
// per Wine prefix by the sandbox set-up (on Windows: as an administrator). Running it again changes
// nothing. Exit code 0 when the root is in the store afterwards.

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

#include "base/Win32Resources.h"
#include "signing/TestCertificates.h"

namespace {

void CloseCertStore(HCERTSTORE store) noexcept { ::CertCloseStore(store, 0); }
using UniqueCertStore = UniqueResource<win32_traits::CloseWith<HCERTSTORE, &CloseCertStore>>;

} // namespace

int wmain()
{
    const UniqueCertStore store(::CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG, L"Root"));
    if (!store) {
        std::fprintf(stderr, "TrustTestRoot: cannot open the local machine's Root store (error %lu)\n",
                     ::GetLastError());
        return 1;
    }
    if (!::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, kTestRootCertificate,
                                            sizeof(kTestRootCertificate), CERT_STORE_ADD_USE_EXISTING, nullptr)) {
        std::fprintf(stderr, "TrustTestRoot: cannot add the test root (error %lu)\n", ::GetLastError());
        return 1;
    }
    std::printf("TrustTestRoot: the test root is trusted\n");
    return 0;
}
