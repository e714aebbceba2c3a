// Times one download, upload or listing through the Internet-library calls, the way the
// transfer worker makes them (status callback installed, non-zero context), and prints the
// seconds from connect to the end of the call so run.sh can compare with curl's total time.
//   bench_ftp get|put host:port user password remote local
//   bench_ftp list host:port user password folder
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ftp/inet/WinInet.h"

namespace {

struct TCounter {
    std::uint64_t Bytes = 0;
    std::uint64_t Notifications = 0;
};

void Progress(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
    auto* counter = reinterpret_cast<TCounter*>(context);
    DWORD count = 0;
    if ((status == INTERNET_STATUS_REQUEST_SENT || status == INTERNET_STATUS_RESPONSE_RECEIVED) &&
        length == sizeof count)
        std::memcpy(&count, info, sizeof count);
    counter->Bytes += count;
    ++counter->Notifications;
}

[[noreturn]] void Fail(const char* what) {
    char text[4097];
    DWORD error = 0, length = sizeof text;
    text[0] = '\0';
    InternetGetLastResponseInfo(&error, text, &length);
    std::fprintf(stderr, "%s failed: %u %s\n", what, GetLastError(), text);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: bench_ftp get|put|list host user password remote [local]\n");
        return 2;
    }
    std::string mode = argv[1];
    auto start = std::chrono::steady_clock::now();
    HINTERNET internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnect(internet, argv[2], INTERNET_DEFAULT_FTP_PORT, argv[3], argv[4],
                                           INTERNET_SERVICE_FTP, 0, 0);
    if (!connection) Fail("connect");
    InternetSetStatusCallback(connection, Progress);
    TCounter counter;
    auto context = reinterpret_cast<DWORD_PTR>(&counter);
    if (mode == "get" && argc >= 7) {
        if (!FtpGetFile(connection, argv[5], argv[6], 0, 0, FTP_TRANSFER_TYPE_BINARY, context)) Fail("get");
    } else if (mode == "put" && argc >= 7) {
        if (!FtpPutFile(connection, argv[6], argv[5], 0, context)) Fail("put");
    } else if (mode == "list") {
        if (!FtpSetCurrentDirectory(connection, argv[5])) Fail("cwd");
        start = std::chrono::steady_clock::now(); // the listing alone
        TWin32FindData data;
        HINTERNET find = FtpFindFirstFile(connection, "", &data, INTERNET_FLAG_NO_CACHE_WRITE, 0);
        if (!find) Fail("list");
        std::uint64_t entries = 1;
        while (InternetFindNextFile(find, &data)) ++entries;
        InternetCloseHandle(find);
        counter.Bytes = entries;
    } else {
        return 2;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    InternetCloseHandle(connection);
    InternetCloseHandle(internet);
    // seconds, then bytes moved (or entries listed), then notifications
    std::printf("%.6f %llu %llu\n", seconds, static_cast<unsigned long long>(counter.Bytes),
                static_cast<unsigned long long>(counter.Notifications));
    return 0;
}
