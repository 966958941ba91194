// Adds a DER certificate to the machine's trusted roots, so that WinINet in
// the Wine prefix trusts the simulated sign-in service.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: add_root_ca CERT.der\n");
        return 2;
    }
    FILE* f = std::fopen(argv[1], "rb");
    if (!f)
        return 3;
    std::vector<BYTE> der;
    int c;
    while ((c = std::fgetc(f)) != EOF)
        der.push_back(static_cast<BYTE>(c));
    std::fclose(f);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (!store)
        return 4;
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                  static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    return added ? 0 : 5;
}
