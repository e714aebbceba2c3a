// Turning a failed Internet-library call into an error the window can show: InetCheck takes
// the call's result and, when it is a failure, raises EVarnelloError with the text chosen from
// the thread's last error code (a fixed name for the library's codes, the server's reply for
// the extended error, the system's description otherwise). Also the one rule for names that
// come from a server listing and are about to become local paths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "VarnelloError.h"
#include "ftp/inet/WinInet.h"

// Raised by InetCheck; Code is the last-error code the message was built from. what() is the
// code's fixed text alone (the status line shows it); Advice is one plain sentence saying what
// happened and what to try, shown after it in the message box.
class EInetError : public EVarnelloError {
public:
    EInetError(DWORD code, const std::string& message, std::string advice = {})
        : EVarnelloError(message), Code(code), Advice(std::move(advice)) {}
    DWORD Code;
    std::string Advice;
};

// Returns when value is non-zero; otherwise raises EInetError built from GetLastError(). The
// whole pointer counts: a handle whose low 32 bits are zero is still a handle. hostField is the
// connection's host field ("host" or "host:port"), named by the advice where it matters; empty
// when the call has no connection target at hand.
void InetCheck(std::uintptr_t value, std::string_view hostField = {});
inline void InetCheck(HINTERNET handle, std::string_view hostField = {}) {
    InetCheck(reinterpret_cast<std::uintptr_t>(handle), hostField);
}
inline void InetCheck(BOOL result, std::string_view hostField = {}) {
    InetCheck(static_cast<std::uintptr_t>(result != 0), hostField);
}

// The message InetCheck raises for code (for 12003 it reads the calling thread's last response).
std::string InetErrorMessage(DWORD code);
// The fixed text of one of the library's codes, or nullptr when the table has none.
const char* InetErrorName(DWORD code);
// The sentence after the message: what happened and what to try. Empty for codes without one.
std::string InetErrorAdvice(DWORD code, std::string_view hostField = {});
// Description of a system error code, as a Windows message text without its final period.
std::string SysErrorMessage(DWORD code);

// True when a name from a server listing must not be joined to a local folder: empty, holding
// "/", "\" or NUL, or made of dots only. Such a name could climb out of the target folder.
bool IsUnsafeListingName(std::string_view name);
