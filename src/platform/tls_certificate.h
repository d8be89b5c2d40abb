// The certificate that the relay presents to Clients when none is configured: a self-signed
// one, made once in a folder of the program's own and reused on later runs.
#pragma once

#include <string>

namespace corvane::platform {

constexpr const char* kSelfSignedCertName = "corvane-tls-cert.pem";
constexpr const char* kSelfSignedKeyName = "corvane-tls-key.pem";

struct TlsCertificateFiles {
    std::string certFile;
    std::string keyFile;
};

// The pair dir/corvane-tls-cert.pem and dir/corvane-tls-key.pem: reused when both exist,
// else made (the folder too): an EC P-256 key (mode 0600) and a certificate valid for five
// years that names localhost, this machine's name, 127.0.0.1 and ::1. False with the reason
// (OpenSSL's or the system's) when they cannot be made.
bool EnsureSelfSignedCertificate(const std::string& dir, TlsCertificateFiles& files,
                                 std::string& reason);

// The SHA-256 fingerprint of the first certificate in a PEM file as colon-separated
// upper-case hex ("AB:CD:..."); empty, with the reason, when it cannot be read.
std::string CertificateFingerprint(const std::string& certFile, std::string& reason);

}  // namespace corvane::platform
