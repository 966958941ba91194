// Adds a DER certificate to the machine's trusted roots: a Wine prefix then
// trusts a site's CA as the users' PCs do through their own store.
//   add_root_ca CERT.der
#include <cstdio>

#include "../common/platform.h"
#include <wincrypt.h>

namespace {

// A CA certificate takes a few KB; a file this long is not one.
constexpr size_t kLargestCertificate = 65536;
unsigned char certificate[kLargestCertificate];

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: add_root_ca CERT.der\n", stderr); // NOLINT(cert-err33-c): nowhere else
        return 2;
    }
    FILE* file = std::fopen(argv[1], "rb");
    if (!file)
        return 3;
    size_t size = std::fread(certificate, 1, sizeof certificate, file);
    bool whole = size > 0 && size < sizeof certificate && !std::ferror(file);
    std::fclose(file); // NOLINT(cert-err33-c): read only, a failed close loses nothing
    if (!whole)
        return 3;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (!store)
        return 4;
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, certificate,
                                                  static_cast<DWORD>(size),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    return added ? 0 : 5;
}
