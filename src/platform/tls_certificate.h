// The certificate that the relay presents to Clients when none is configured: a self-signed
// one, made once in a folder of the program's own and reused on later runs.
#pragma once

#include <string>

namespace corvane::platform {

constexpr const char* kSelfSignedCertName = "corvane-tls-cert.pem";
constexpr const char* kSelfSignedKeyName = "corvane-tls-key.pem";
// Beside them: held (flock) by whoever looks at or makes the pair.
constexpr const char* kSelfSignedLockName = "corvane-tls.lock";

struct TlsCertificateFiles {
    std::string certFile;
    std::string keyFile;
};

// The pair dir/corvane-tls-cert.pem and dir/corvane-tls-key.pem: reused when both are there
// and belong together, else made (the folder too, 0700): an EC P-256 key (mode 0600) and a
// certificate valid for five years that names localhost, this machine's name, 127.0.0.1
// and ::1. Made once however many Starts ask at the same time: they take turns on the lock
// file, and each file is written whole under a name of its own before it is renamed into
// place. A pair whose files do not belong together (or hold no PEM) is made again, and
// *remade says so. A file that cannot be read is left for the loader to report. False with
// the reason (OpenSSL's or the system's) when the pair cannot be made.
bool EnsureSelfSignedCertificate(const std::string& dir, TlsCertificateFiles& files,
                                 std::string& reason, bool* remade = nullptr);

// True when the file's group or others may read it; mode is then its permission bits.
bool OthersCanRead(const std::string& file, unsigned& mode);

// The SHA-256 fingerprint of the first certificate in a PEM file as colon-separated
// upper-case hex ("AB:CD:..."); empty, with the reason, when it cannot be read.
std::string CertificateFingerprint(const std::string& certFile, std::string& reason);

}  // namespace corvane::platform
