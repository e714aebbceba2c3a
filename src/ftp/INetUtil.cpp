// Error texts of the Internet library and the listing-name rule; see INetUtil.h.
#include "ftp/INetUtil.h"

#include "ftp/inet/FtpSocket.h"

#include <cstdio>

namespace {

struct TCodeText {
    DWORD Code;
    const char* Text;
};

// Several texts end with blanks; they are shown exactly so (the message box adds no period
// after a blank).
constexpr TCodeText InetTexts[] = {
    {12002, "INTERNET_TIMEOUT "},
    {12004, "INTERNET_INTERNAL_ERROR"},
    {12005, "INTERNET_INVALID_URL "},
    {12006, "INTERNET_UNRECOGNIZED_SCHEME "},
    {12007, "INTERNET_NAME_NOT_RESOLVED "},
    {12008, "INTERNET_PROTOCOL_NOT_FOUND"},
    {12009, "INTERNET_INVALID_OPTION"},
    {12010, "INTERNET_BAD_OPTION_LENGTH "},
    {12011, "INTERNET_OPTION_NOT_SETTABLE "},
    {12012, "INTERNET_SHUTDOWN"},
    {12013, "INTERNET_INCORRECT_USER_NAME "},
    {12014, "INTERNET_INCORRECT_PASSWORD"},
    {12015, "INTERNET_LOGIN_FAILURE "},
    {12016, "INTERNET_INVALID_OPERATION "},
    {12017, "INTERNET_OPERATION_CANCELLED "},
    {12018, "INTERNET_INCORRECT_HANDLE_TYPE "},
    {12019, "INTERNET_INCORRECT_HANDLE_STATE"},
    {12020, "INTERNET_NOT_PROXY_REQUEST "},
    {12021, "INTERNET_REGISTRY_VALUE_NOT_FOUND"},
    {12022, "INTERNET_BAD_REGISTRY_PARAMETER"},
    {12023, "INTERNET_NO_DIRECT_ACCESS"},
    {12024, "INTERNET_NO_CONTEXT"},
    {12025, "INTERNET_NO_CALLBACK "},
    {12026, "INTERNET_REQUEST_PENDING "},
    {12027, "INTERNET_INCORRECT_FORMAT"},
    {12028, "INTERNET_ITEM_NOT_FOUND"},
    {12029, "INTERNET_CANNOT_CONNECT"},
    {12030, "INTERNET_CONNECTION_ABORTED"},
    {12031, "INTERNET_CONNECTION_RESET"},
    {12032, "INTERNET_FORCE_RETRY "},
    {12033, "INTERNET_INVALID_PROXY_REQUEST "},
    {12036, "INTERNET_HANDLE_EXISTS "},
    {12037, "INTERNET_SEC_CERT_DATE_INVALID "},
    {12038, "INTERNET_SEC_CERT_CN_INVALID "},
    {12039, "INTERNET_HTTP_TO_HTTPS_ON_REDIR"},
    {12040, "INTERNET_HTTPS_TO_HTTP_ON_REDIR"},
    {12041, "INTERNET_MIXED_SECURITY"},
    {12042, "INTERNET_CHG_POST_IS_NON_SECURE"},
    {12043, "INTERNET_POST_IS_NON_SECURE"},
    {12110, "FTP_TRANSFER_IN_PROGRESS "},
    {12111, "FTP_DROPPED    "},
    {12130, "GOPHER_PROTOCOL_ERROR"},
    {12131, "GOPHER_NOT_FILE"},
    {12132, "GOPHER_DATA_ERROR"},
    {12133, "GOPHER_END_OF_DATA "},
    {12134, "GOPHER_INVALID_LOCATOR "},
    {12135, "GOPHER_INCORRECT_LOCATOR_TYPE"},
    {12136, "GOPHER_NOT_GOPHER_PLUS "},
    {12137, "GOPHER_ATTRIBUTE_NOT_FOUND "},
    {12138, "GOPHER_UNKNOWN_LOCATOR "},
    {12150, "HTTP_HEADER_NOT_FOUND"},
    {12151, "HTTP_DOWNLEVEL_SERVER"},
    {12152, "HTTP_INVALID_SERVER_RESPONSE "},
    {12153, "HTTP_INVALID_HEADER"},
    {12154, "HTTP_INVALID_QUERY_REQUEST "},
    {12155, "HTTP_HEADER_ALREADY_EXISTS "},
    {12156, "HTTP_REDIRECT_FAILED "},
};

// The system texts of the codes this program's layers can produce, worded as Windows words
// them; other codes get a neutral description.
constexpr TCodeText SystemTexts[] = {
    {2, "The system cannot find the file specified"},
    {3, "The system cannot find the path specified"},
    {5, "Access is denied"},
    {6, "The handle is invalid"},
    {8, "Not enough storage is available to process this command"},
    {18, "There are no more files"},
    {29, "The system cannot write to the specified device"},
    {30, "The system cannot read from the specified device"},
    {80, "The file exists"},
    {87, "The parameter is incorrect"},
    {112, "There is not enough space on the disk"},
    {122, "The data area passed to a system call is too small"},
};

// What happened and what to try, one sentence per code. Codes whose sentence names the
// connection's host and port are built in InetErrorAdvice.
constexpr const char* kInternalAdvice =
    "The program's FTP layer refused its own request: disconnect, connect again and repeat the action.";
constexpr const char* kProxyAdvice = "This program connects directly, without a proxy: check that the Host "
                                     "Server field names the FTP server itself.";
constexpr const char* kWebAdvice = "This is a web (HTTP) error, which an FTP connection does not produce: "
                                   "check that the Host Server field names an FTP server.";
constexpr const char* kGopherAdvice = "This is a Gopher error, which an FTP connection does not produce: "
                                      "check that the Host Server field names an FTP server.";

constexpr TCodeText AdviceTexts[] = {
    {12003,
     "The server refused the request with the reply above: check the name and your rights on the server."},
    {12004, "The program's FTP layer failed inside: disconnect, connect again and repeat the action."},
    {12005, "The host is not a valid address: check the Host Server field."},
    {12006,
     "The address names a protocol this program does not speak: give only the host name, with an optional "
     ":port, in the Host Server field."},
    {12008, "The protocol asked for is not available here: use the FTP tab or the Secure FTP window."},
    {12009, kInternalAdvice},
    {12010, kInternalAdvice},
    {12011, kInternalAdvice},
    {12012, "The FTP layer is shutting down: connect again."},
    {12013, "The server refused the user name: check the User ID field."},
    {12014, "The server refused the user name or password: check the User ID and Password fields."},
    {12015,
     "The server refused the login: check the User ID and Password fields, or ask whether the account may "
     "use FTP."},
    {12016, "The request is not possible on this connection as it stands: connect again and repeat it."},
    {12017, "The operation was cancelled because its connection was closed: connect again and repeat it."},
    {12018, kInternalAdvice},
    {12019,
     "The connection is not ready for this request: wait until the running transfer ends, or connect again."},
    {12020, kProxyAdvice},
    {12021,
     "A setting of the Internet connection is missing: connect again, and report it if it happens again."},
    {12022,
     "A setting of the Internet connection is invalid: connect again, and report it if it happens again."},
    {12023, "A direct connection to the Internet is not possible here: check the network connection and the "
            "firewall."},
    {12024, kInternalAdvice},
    {12025, kInternalAdvice},
    {12026, "Another request is still running on this connection: wait until it ends, then try again."},
    {12027, "The server's answer was not in a form the program understands: try again, or ask the server's "
            "administrator."},
    {12028, "The file or folder was not found on the server: refresh the listing and try again."},
    {12032, "The request has to be made again: repeat it."},
    {12033, kProxyAdvice},
    {12036, "A connection of this kind is already open: disconnect, then connect again."},
    {12037,
     "The server's security certificate has expired or is not valid yet: check the computer's clock, or ask "
     "the server's administrator."},
    {12038, "The server's security certificate names another host: check the Host Server field."},
    {12039, kWebAdvice},
    {12040, kWebAdvice},
    {12041, kWebAdvice},
    {12042, kWebAdvice},
    {12043, kWebAdvice},
    {12110, "A transfer is still running on this connection: wait until the status line says Ready, then try "
            "again."},
    {12111, "The server ended the transfer before it was complete: connect again and repeat the transfer."},
    {12130, kGopherAdvice},
    {12131, kGopherAdvice},
    {12132, kGopherAdvice},
    {12133, kGopherAdvice},
    {12134, kGopherAdvice},
    {12135, kGopherAdvice},
    {12136, kGopherAdvice},
    {12137, kGopherAdvice},
    {12138, kGopherAdvice},
    {12150, kWebAdvice},
    {12151, kWebAdvice},
    {12152, kWebAdvice},
    {12153, kWebAdvice},
    {12154, kWebAdvice},
    {12155, kWebAdvice},
    {12156, kWebAdvice},
    // A command on a connection that is closed (after Disconnect) meets a closed handle.
    {6, "The connection to the server is not open: connect, then repeat the action."},
    // Local failures of a transfer.
    {2, "A local file was not found: refresh the local list and try again."},
    {3, "A local folder was not found: refresh the local list and try again."},
    {5, "Access to a local file was denied: check that the local folder may be written."},
    {29, "The local file could not be written: check the disk and try again."},
    {30, "The local file could not be read: check the disk and try again."},
    {112, "The local disk is full: free some space and try again."},
};

// "HOST port PORT" for the advice; the default FTP port when the field names none. Empty when
// the field does not hold a host.
std::string TargetText(std::string_view hostField) {
    std::string host;
    std::uint16_t port = 0;
    if (hostField.empty() || !SplitHostPort(hostField, host, port)) return {};
    // A pasted novel in the host field must not fill the message box.
    constexpr std::size_t kMaxHost = 255;
    if (host.size() > kMaxHost) host = host.substr(0, kMaxHost) + "...";
    return host + " port " + std::to_string(port ? port : INTERNET_DEFAULT_FTP_PORT);
}

} // namespace

std::string InetErrorAdvice(DWORD code, std::string_view hostField) {
    const std::string target = TargetText(hostField);
    switch (code) {
    case 12002:
        return target.empty()
                   ? "The server did not answer in time: check the network connection and try again."
                   : "The server at " + target +
                         " did not answer in time: check the network connection and try again.";
    case 12007:
        if (!target.empty())
            return "The host name " + target.substr(0, target.rfind(" port ")) +
                   " could not be found: check its spelling and the network connection.";
        if (!hostField.empty())
            return "The Host Server field is not a host name with an optional :port: check its spelling.";
        return "The host name could not be found: check its spelling and the network connection.";
    case 12029:
        return target.empty() ? "Nothing answered at the server's address: check the host and port, or "
                                "whether the server is "
                                "running."
                              : "Nothing answered at " + target +
                                    ": check the host and port, or whether the server is running.";
    case 12030:
        return (target.empty() ? std::string("The connection to the server")
                               : "The connection to " + target) +
               " was broken off: connect again and repeat the last action.";
    case 12031:
        return (target.empty() ? std::string("The server") : "The server at " + target) +
               " reset the connection: connect again and repeat the last action.";
    default:
        break;
    }
    for (const TCodeText& t : AdviceTexts)
        if (t.Code == code) return t.Text;
    return {};
}

const char* InetErrorName(DWORD code) {
    for (const TCodeText& t : InetTexts)
        if (t.Code == code) return t.Text;
    return nullptr;
}

std::string SysErrorMessage(DWORD code) {
    for (const TCodeText& t : SystemTexts)
        if (t.Code == code) return t.Text;
    return "Unknown error " + std::to_string(code);
}

std::string InetErrorMessage(DWORD code) {
    if (code == ERROR_INTERNET_EXTENDED_ERROR) {
        char buffer[4097];
        DWORD error = 0, length = sizeof buffer;
        buffer[0] = '\0';
        InternetGetLastResponseInfo(&error, buffer, &length);
        // When the reply did not fit, length is the size it would need; the text ends inside.
        std::size_t used = length < sizeof buffer ? length : sizeof buffer - 1;
        buffer[used] = '\0';
        return "Win32 Error " + std::to_string(code) + ":\r\n\r\n" + buffer;
    }
    if (const char* name = InetErrorName(code)) return name;
    if (code == 0) return "A Win32 API function failed";
    return "Win32 Error.  Code: " + std::to_string(code) + ".\n" + SysErrorMessage(code);
}

void InetCheck(std::uintptr_t value, std::string_view hostField) {
    if (value != 0) return;
    DWORD code = GetLastError();
    throw EInetError(code, InetErrorMessage(code), InetErrorAdvice(code, hostField));
}

bool IsUnsafeListingName(std::string_view name) {
    if (name.empty() || name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
        return true;
    return name.find_first_not_of('.') == std::string_view::npos;
}
