// TLS for the FTP session's control and data connections (OpenSSL, TLS 1.2 and 1.3 only).
// A TTls drives one non-blocking socket: every call returns at once with what it needs next
// (readable or writable), so the session keeps its own waits, time-outs and abort wake-up.
// Bytes go through send(MSG_NOSIGNAL), so a peer that vanishes never raises SIGPIPE.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_session_st SSL_SESSION;

enum TTlsResult {
    trDone,      // the step finished (got/put hold the byte count)
    trWantRead,  // wait until the socket is readable, then call again
    trWantWrite, // wait until the socket is writable, then call again
    trClosed,    // the peer sent close_notify
    trUnclean,   // the connection ended without close_notify
    trFailed     // a TLS error; ErrorText says which
};

// The certificate as the user is shown it.
struct TTlsCertificate {
    std::string Subject, Issuer, NotBefore, NotAfter;
    std::string Fingerprint; // SHA-256, upper-case hex pairs joined by ':'
    std::string Problem;     // empty when it verified against the trust store for the host
};

class TTls {
public:
    // host is checked against the certificate (a name or an address literal) and sent as SNI.
    // resume, when given, is offered for resumption (data connections reuse the control's).
    TTls(int fd, const std::string& host, SSL_SESSION* resume);
    ~TTls();
    TTls(const TTls&) = delete;
    TTls& operator=(const TTls&) = delete;

    TTlsResult Handshake();
    TTlsResult Read(char* buffer, std::size_t size, std::size_t& got);
    TTlsResult Write(const char* data, std::size_t size, std::size_t& put);
    // Sends close_notify (once); trDone when it has left.
    TTlsResult Shutdown();
    // Decrypted bytes waiting inside: the socket may be quiet though a read would return data.
    bool Pending() const;
    // For bulk data: OpenSSL reads ahead as much as the socket holds, in one call instead of two
    // per record. Call before the handshake. Buffered() then tells whether it holds any bytes,
    // which may be only part of a record: a read can still want more from the socket.
    void ReadAhead();
    bool Buffered() const;
    bool Resumed() const;
    std::string ErrorText() const { return FError; }
    // The peer's certificate with the verification result; Fingerprint empty when none was sent.
    TTlsCertificate Certificate() const;
    // A new reference the caller must free with SSL_SESSION_free (nullptr when none).
    SSL_SESSION* Session() const;
    std::string Version() const;

private:
    TTlsResult Map(int rc, const char* step);
    SSL* FSsl = nullptr;
    std::string FError;
};

void FreeTlsSession(SSL_SESSION* session);
void UpRefTlsSession(SSL_SESSION* session);
bool IsResumable(SSL_SESSION* session);

// The trust store: the system's, or the PEM file named by VARNELLO_FTP_CA_FILE (tests use it).
SSL_CTX* TlsClientContext();
