// Error texts of the Internet library and the listing-name rule; see INetUtil.h.
#include "ftp/INetUtil.h"

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

} // namespace

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

void InetCheck(std::uintptr_t value) {
    if (value != 0) return;
    DWORD code = GetLastError();
    throw EInetError(code, InetErrorMessage(code));
}

bool IsUnsafeListingName(std::string_view name) {
    if (name.empty() || name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
        return true;
    return name.find_first_not_of('.') == std::string_view::npos;
}
