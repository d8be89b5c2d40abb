#include "platform/tls_certificate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/tls_internal.h"

namespace corvane::platform {
namespace {

constexpr long kValidDays = 5 * 365;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string SystemReason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string OpenSslReason() {
    std::string reason = detail::TlsErrorReason();
    return reason.empty() ? std::string("unknown error") : reason;
}

// Makes every missing folder of the path (mode 0700: it holds a private key).
bool MakeFolders(const std::string& dir, std::string& reason) {
    for (std::size_t at = 1; at <= dir.size(); ++at) {
        if (at == dir.size() || dir[at] == '/') {
            const std::string part = dir.substr(0, at);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                reason = SystemReason(part);
                return false;
            }
        }
    }
    return true;
}

// The machine's name when it can stand in a subjectAltName as it is.
std::string MachineName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    for (const char* p = name; *p != '\0'; ++p) {
        const char ch = *p;
        if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
              ch == '-' || ch == '.')) {
            return {};
        }
    }
    return std::string(name) == "localhost" ? std::string() : std::string(name);
}

bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) {
        return false;
    }
    const bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

X509* MakeCertificate(EVP_PKEY* key) {
    X509* cert = X509_new();
    if (cert == nullptr) {
        return nullptr;
    }
    unsigned char serial[16];
    std::FILE* random = std::fopen("/dev/urandom", "rb");
    const bool haveSerial =
        random != nullptr && std::fread(serial, 1, sizeof serial, random) == sizeof serial;
    if (random != nullptr) {
        std::fclose(random);
    }
    serial[0] &= 0x7F;  // a positive number
    BIGNUM* number = haveSerial ? BN_bin2bn(serial, sizeof serial, nullptr) : nullptr;
    const std::string host = MachineName();
    const std::string names = "DNS:localhost," +
                              (host.empty() ? std::string() : "DNS:" + host + ",") +
                              "IP:127.0.0.1,IP:::1";
    X509_NAME* subject = X509_get_subject_name(cert);
    const bool ok =
        X509_set_version(cert, 2) == 1 && number != nullptr &&
        BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert)) != nullptr &&
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600) != nullptr &&
        X509_time_adj_ex(X509_getm_notAfter(cert), kValidDays, 0, nullptr) != nullptr &&
        X509_set_pubkey(cert, key) == 1 &&
        X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                                   0) == 1 &&
        X509_set_issuer_name(cert, subject) == 1 &&
        AddExtension(cert, NID_basic_constraints, "critical,CA:FALSE") &&
        AddExtension(cert, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
        AddExtension(cert, NID_ext_key_usage, "serverAuth") &&
        AddExtension(cert, NID_subject_alt_name, names.c_str()) &&
        X509_sign(cert, key, EVP_sha256()) > 0;
    BN_free(number);
    if (!ok) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

// Writes through a temporary file renamed into place, so that a half-written file is never
// taken for the pair on a later run.
template <typename Write>
bool WriteFile(const std::string& path, mode_t mode, Write write, std::string& reason) {
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        reason = SystemReason(temporary);
        return false;
    }
    std::FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        reason = SystemReason(temporary);
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    }
    const bool written = write(file);
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        reason = written ? SystemReason(temporary) : OpenSslReason();
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        reason = SystemReason(path);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool EnsureSelfSignedCertificate(const std::string& dir, TlsCertificateFiles& files,
                                 std::string& reason) {
    const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    files.certFile = base + kSelfSignedCertName;
    files.keyFile = base + kSelfSignedKeyName;
    if (Exists(files.certFile) && Exists(files.keyFile)) {
        return true;
    }
    if (!dir.empty() && !MakeFolders(dir, reason)) {
        return false;
    }
    ERR_clear_error();
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (key == nullptr) {
        reason = OpenSslReason();
        return false;
    }
    X509* cert = MakeCertificate(key);
    bool ok = cert != nullptr;
    if (!ok) {
        reason = OpenSslReason();
    }
    ok = ok &&
         WriteFile(
             files.keyFile, 0600,
             [key](std::FILE* f) {
                 return PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
             },
             reason);
    ok = ok && WriteFile(
                   files.certFile, 0644,
                   [cert](std::FILE* f) { return PEM_write_X509(f, cert) == 1; }, reason);
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

std::string CertificateFingerprint(const std::string& certFile, std::string& reason) {
    ERR_clear_error();
    std::FILE* file = std::fopen(certFile.c_str(), "r");
    if (file == nullptr) {
        reason = SystemReason(certFile);
        return {};
    }
    X509* cert = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (cert == nullptr) {
        reason = OpenSslReason();
        return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool ok = X509_digest(cert, EVP_sha256(), digest, &length) == 1;
    X509_free(cert);
    if (!ok) {
        reason = OpenSslReason();
        return {};
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0) {
            text += ':';
        }
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

}  // namespace corvane::platform
