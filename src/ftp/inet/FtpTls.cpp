// TLS over the session's sockets; see FtpTls.h.
#include "ftp/inet/FtpTls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {

int SocketOf(BIO* b) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(b)));
}

int BioWrite(BIO* b, const char* data, int size) {
    BIO_clear_retry_flags(b);
    ssize_t n = ::send(SocketOf(b), data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(b);
    return static_cast<int>(n);
}

int BioRead(BIO* b, char* data, int size) {
    BIO_clear_retry_flags(b);
    ssize_t n = ::recv(SocketOf(b), data, static_cast<std::size_t>(size), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(b);
    return static_cast<int>(n);
}

long BioCtrl(BIO*, int cmd, long, void*) {
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* b) {
    BIO_set_init(b, 1);
    return 1;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ftp socket");
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_ctrl(m, BioCtrl);
        BIO_meth_set_create(m, BioCreate);
        return m;
    }();
    return method;
}

std::string QueueText() {
    unsigned long code = ERR_get_error();
    std::string text;
    while (code != 0) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        if (const char* reason = ERR_reason_error_string(code))
            text = reason;
        else if (text.empty())
            text = line;
        code = ERR_get_error();
    }
    return text;
}

std::string NameText(const X509_NAME* name) {
    BIO* mem = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(mem, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long length = BIO_get_mem_data(mem, &data);
    std::string text(data, static_cast<std::size_t>(length));
    BIO_free(mem);
    return text;
}

std::string TimeText(const ASN1_TIME* t) {
    BIO* mem = BIO_new(BIO_s_mem());
    ASN1_TIME_print(mem, t);
    char* data = nullptr;
    long length = BIO_get_mem_data(mem, &data);
    std::string text(data, static_cast<std::size_t>(length));
    BIO_free(mem);
    return text;
}

bool IsAddress(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

} // namespace

SSL_CTX* TlsClientContext() {
    static SSL_CTX* context = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        if (!c) return c;
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        // Verification runs in full, but its verdict is ours to weigh (the user may trust a
        // certificate the store does not), so the handshake itself never fails on it.
        SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
        const char* file = std::getenv("VARNELLO_FTP_CA_FILE");
        if (file && *file)
            SSL_CTX_load_verify_locations(c, file, nullptr);
        else
            SSL_CTX_set_default_verify_paths(c);
        // Whole writes: one call moves a whole buffer; a retry after WANT_WRITE may pass the
        // same bytes from a new address.
        SSL_CTX_set_mode(c, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // Session tickets must be kept for the data connections to resume.
        SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        return c;
    }();
    return context;
}

void FreeTlsSession(SSL_SESSION* session) {
    if (session) SSL_SESSION_free(session);
}

void UpRefTlsSession(SSL_SESSION* session) {
    if (session) SSL_SESSION_up_ref(session);
}

bool IsResumable(SSL_SESSION* session) {
    return session && SSL_SESSION_is_resumable(session) == 1;
}

TTls::TTls(int fd, const std::string& host, SSL_SESSION* resume) {
    SSL_CTX* context = TlsClientContext();
    FSsl = context ? SSL_new(context) : nullptr;
    if (!FSsl) {
        FError = "TLS is not available";
        return;
    }
    BIO* bio = BIO_new(SocketMethod());
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    SSL_set_bio(FSsl, bio, bio);
    if (IsAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(FSsl), host.c_str());
    } else if (!host.empty()) {
        SSL_set_tlsext_host_name(FSsl, host.c_str());
        SSL_set1_host(FSsl, host.c_str());
    }
    if (resume) SSL_set_session(FSsl, resume);
    SSL_set_connect_state(FSsl);
}

TTls::~TTls() {
    if (FSsl) SSL_free(FSsl);
}

TTlsResult TTls::Map(int rc, const char* step) {
    int error = SSL_get_error(FSsl, rc);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return trWantRead;
    case SSL_ERROR_WANT_WRITE:
        return trWantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return trClosed;
    case SSL_ERROR_SYSCALL: {
        std::string queued = QueueText();
        FError = queued.empty() ? std::string("the connection ended during the ") + step : queued;
        return trUnclean;
    }
    default: {
        unsigned long code = ERR_peek_error();
        std::string queued = QueueText();
        FError = queued.empty() ? std::string("TLS error during the ") + step : queued;
        if (ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING) return trUnclean;
        return trFailed;
    }
    }
}

TTlsResult TTls::Handshake() {
    if (!FSsl) return trFailed;
    ERR_clear_error();
    int rc = SSL_do_handshake(FSsl);
    return rc == 1 ? trDone : Map(rc, "handshake");
}

TTlsResult TTls::Read(char* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    if (!FSsl) return trFailed;
    ERR_clear_error();
    int rc = SSL_read_ex(FSsl, buffer, size, &got);
    return rc == 1 ? trDone : Map(rc, "transfer");
}

TTlsResult TTls::Write(const char* data, std::size_t size, std::size_t& put) {
    put = 0;
    if (!FSsl) return trFailed;
    ERR_clear_error();
    int rc = SSL_write_ex(FSsl, data, size, &put);
    return rc == 1 ? trDone : Map(rc, "transfer");
}

TTlsResult TTls::Shutdown() {
    if (!FSsl) return trFailed;
    if (SSL_get_shutdown(FSsl) & SSL_SENT_SHUTDOWN) {
        // Already queued; only the flush may be outstanding.
        if (BIO_wpending(SSL_get_wbio(FSsl)) == 0) return trDone;
    }
    ERR_clear_error();
    int rc = SSL_shutdown(FSsl);
    if (rc >= 0) return trDone; // ours has left; the peer's answer is not waited for
    return Map(rc, "shutdown");
}

bool TTls::Pending() const {
    return FSsl && SSL_pending(FSsl) > 0;
}

void TTls::ReadAhead() {
    if (!FSsl) return;
    SSL_set_default_read_buffer_len(FSsl, 64 * 1024);
    SSL_set_read_ahead(FSsl, 1);
}

bool TTls::Buffered() const {
    return FSsl && SSL_has_pending(FSsl) == 1;
}

bool TTls::Resumed() const {
    return FSsl && SSL_session_reused(FSsl) == 1;
}

SSL_SESSION* TTls::Session() const {
    return FSsl ? SSL_get1_session(FSsl) : nullptr;
}

std::string TTls::Version() const {
    return FSsl ? SSL_get_version(FSsl) : "";
}

TTlsCertificate TTls::Certificate() const {
    TTlsCertificate c;
    X509* cert = FSsl ? SSL_get1_peer_certificate(FSsl) : nullptr;
    if (!cert) {
        c.Problem = "the server sent no certificate";
        return c;
    }
    c.Subject = NameText(X509_get_subject_name(cert));
    c.Issuer = NameText(X509_get_issuer_name(cert));
    c.NotBefore = TimeText(X509_get0_notBefore(cert));
    c.NotAfter = TimeText(X509_get0_notAfter(cert));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), digest, &length);
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned i = 0; i < length; ++i) {
        if (i) c.Fingerprint += ':';
        c.Fingerprint += hex[digest[i] >> 4];
        c.Fingerprint += hex[digest[i] & 15];
    }
    X509_free(cert);
    long verdict = SSL_get_verify_result(FSsl);
    if (verdict != X509_V_OK) c.Problem = X509_verify_cert_error_string(verdict);
    return c;
}
