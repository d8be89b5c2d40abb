#include "platform/tls_certificate.h"

#include <fcntl.h>
#include <sys/file.h>
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

#include "platform/private_folder.h"
#include "platform/tls_internal.h"

namespace corvane::platform {
namespace {

constexpr long kValidDays = 5 * 365;

// How long a Start waits for another one that is making the pair (it takes milliseconds).
constexpr int kLockWaitMs = 10000;
constexpr int kLockPollMs = 5;

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

// Only one maker of the pair at a time, across processes and threads: an exclusive flock on
// the lock file, released when the descriptor closes (also when its process dies).
class PairLock {
public:
    explicit PairLock(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            reason_ = SystemReason(path);
            return;
        }
        for (int waited = 0;; waited += kLockPollMs) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                held_ = true;
                return;
            }
            if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= kLockWaitMs) {
                reason_ = SystemReason(path);
                return;
            }
            ::usleep(kLockPollMs * 1000);
        }
    }
    ~PairLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PairLock(const PairLock&) = delete;
    PairLock& operator=(const PairLock&) = delete;

    bool Held() const { return held_; }
    const std::string& Reason() const { return reason_; }

private:
    int fd_ = -1;
    bool held_ = false;
    std::string reason_;
};

enum class PairState {
    Missing,     // one of the two files or both
    Unreadable,  // there, but not ours to read: the loader names the file and the reason
    Broken,      // not a certificate and its key: a key of another pair, or no PEM at all
    Sound,
};

PairState Examine(const TlsCertificateFiles& files) {
    if (!Exists(files.certFile) || !Exists(files.keyFile)) {
        return PairState::Missing;
    }
    std::FILE* certIn = std::fopen(files.certFile.c_str(), "r");
    std::FILE* keyIn = std::fopen(files.keyFile.c_str(), "r");
    PairState state = PairState::Unreadable;
    if (certIn != nullptr && keyIn != nullptr) {
        X509* cert = PEM_read_X509(certIn, nullptr, nullptr, nullptr);
        EVP_PKEY* key = PEM_read_PrivateKey(keyIn, nullptr, nullptr, nullptr);
        state = cert != nullptr && key != nullptr && X509_check_private_key(cert, key) == 1
                    ? PairState::Sound
                    : PairState::Broken;
        X509_free(cert);
        EVP_PKEY_free(key);
        ERR_clear_error();
    }
    for (std::FILE* file : {certIn, keyIn}) {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    return state;
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

// Writes a file of a unique temporary name beside path (so that two makers never share
// one) with the mode given, synced; its name, or "" with the reason.
template <typename Write>
std::string WriteTemporary(const std::string& path, mode_t mode, Write write, std::string& reason) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        reason = SystemReason(temporary);
        return {};
    }
    std::FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        reason = SystemReason(temporary);
        ::close(fd);
        ::unlink(temporary.c_str());
        return {};
    }
    const bool written = write(file);
    const bool kept =
        written && std::fflush(file) == 0 && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!kept || !closed) {
        reason = written ? SystemReason(temporary) : OpenSslReason();
        ::unlink(temporary.c_str());
        return {};
    }
    return temporary;
}

// A new key and certificate, each written whole under a temporary name and then renamed
// into place, the key first; the caller holds the lock, so no other maker sees one without
// the other.
bool MakePair(const TlsCertificateFiles& files, std::string& reason) {
    ERR_clear_error();
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (key == nullptr) {
        reason = OpenSslReason();
        return false;
    }
    X509* cert = MakeCertificate(key);
    std::string keyTemporary;
    std::string certTemporary;
    if (cert == nullptr) {
        reason = OpenSslReason();
    } else {
        keyTemporary = WriteTemporary(
            files.keyFile, 0600,
            [key](std::FILE* f) {
                return PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
            },
            reason);
    }
    if (!keyTemporary.empty()) {
        certTemporary = WriteTemporary(
            files.certFile, 0644, [cert](std::FILE* f) { return PEM_write_X509(f, cert) == 1; },
            reason);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    bool ok = !certTemporary.empty();
    if (ok && ::rename(keyTemporary.c_str(), files.keyFile.c_str()) != 0) {
        reason = SystemReason(files.keyFile);
        ok = false;
    }
    if (ok && ::rename(certTemporary.c_str(), files.certFile.c_str()) != 0) {
        reason = SystemReason(files.certFile);
        ok = false;
    }
    if (!ok) {
        for (const std::string& temporary : {keyTemporary, certTemporary}) {
            if (!temporary.empty()) {
                ::unlink(temporary.c_str());
            }
        }
    }
    return ok;
}

}  // namespace

bool EnsureSelfSignedCertificate(const std::string& dir, TlsCertificateFiles& files,
                                 std::string& reason, bool* remade) {
    const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    files.certFile = base + kSelfSignedCertName;
    files.keyFile = base + kSelfSignedKeyName;
    if (remade != nullptr) {
        *remade = false;
    }
    if (!dir.empty() && !MakePrivateFolders(dir, reason)) {
        return false;
    }
    // Looked at under the lock: a pair that another Start is making is seen whole or not at
    // all, and only one of them makes it.
    const PairLock lock(base + kSelfSignedLockName);
    const PairState state = Examine(files);
    if (state == PairState::Sound || state == PairState::Unreadable) {
        return true;
    }
    if (!lock.Held()) {
        reason = lock.Reason();
        return false;
    }
    if (remade != nullptr) {
        *remade = state == PairState::Broken;
    }
    return MakePair(files, reason);
}

bool OthersCanRead(const std::string& file, unsigned& mode) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        return false;
    }
    mode = st.st_mode & 07777;
    return (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
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
