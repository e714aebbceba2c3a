// The FTP tab's security glue: the Encryption choice as the FTP layer's TLS setting, and the
// question about a server certificate the trust store does not vouch for.
#pragma once

#include "ftp/inet/WinInet.h"

class TFormMain;

// FTP_TLS_* for an index of the Encryption box.
DWORD TlsModeForEncryptionIndex(int index);
// The layer's certificate callback; context is the TFormMain. Remembered certificates are in
// "ftp_certificates" of the program's config folder: a remembered one passes silently, a
// changed one is asked about with a warning. Asked only on the window's thread; elsewhere
// (a reconnect from the transfer worker) an unknown certificate is refused.
BOOL AskAboutCertificate(const TFtpCertificateInfo* info, void* context);
