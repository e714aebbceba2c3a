// One timed run of the Secure FTP window (offscreen, its own event loop) against a running sshd,
// for run.sh to compare with OpenSSH's sftp; and the delay proxy run.sh puts between them.
//
//   bench_sftp PORT USER KEYFILE get NAME LOCAL   download NAME from the home folder to LOCAL
//   bench_sftp PORT USER KEYFILE put LOCAL        upload LOCAL into the home folder
//   bench_sftp PORT USER KEYFILE list FOLDER N    enter FOLDER of N entries; prints milliseconds
//   bench_sftp proxy PORTFILE TARGET DELAY_MS     forward loopback connections to TARGET, holding
//                                                 every chunk DELAY_MS in each direction
// get and put print the seconds from the click on Connect to the end of the transfer (the server
// has closed the file), as sftp -b is timed from its start.
#include "securewin/UnitSFTP.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Varnello::SecureWin;
using Clock = std::chrono::steady_clock;

namespace {

// One direction of a proxied connection: chunks are read at once and written DELAY later.
void Pump(int from, int to, std::chrono::milliseconds delay) {
    struct TChunk {
        Clock::time_point Due;
        std::vector<char> Bytes; // empty: end of stream
    };
    std::mutex m;
    std::condition_variable cv;
    std::deque<TChunk> queue;
    std::thread writer([&] {
        for (;;) {
            TChunk c;
            {
                std::unique_lock<std::mutex> lock(m);
                cv.wait(lock, [&] { return !queue.empty(); });
                c = std::move(queue.front());
                queue.pop_front();
            }
            std::this_thread::sleep_until(c.Due);
            if (c.Bytes.empty()) {
                shutdown(to, SHUT_WR);
                return;
            }
            size_t done = 0;
            while (done < c.Bytes.size()) {
                ssize_t n = send(to, c.Bytes.data() + done, c.Bytes.size() - done, MSG_NOSIGNAL);
                if (n <= 0) break;
                done += size_t(n);
            }
        }
    });
    std::vector<char> buf(1 << 18);
    for (;;) {
        ssize_t n = recv(from, buf.data(), buf.size(), 0);
        TChunk c{Clock::now() + delay, {}};
        if (n > 0) c.Bytes.assign(buf.data(), buf.data() + n);
        {
            std::lock_guard<std::mutex> lock(m);
            queue.push_back(std::move(c));
        }
        cv.notify_one();
        if (n <= 0) break;
    }
    writer.join();
}

int Proxy(const char* portFile, int target, int delayMs) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(listener, 8) != 0) return 1;
    socklen_t len = sizeof(a);
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    {
        std::ofstream(std::string(portFile) + ".tmp") << ntohs(a.sin_port);
        std::filesystem::rename(std::string(portFile) + ".tmp", portFile);
    }
    for (;;) {
        int client = accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        std::thread([client, target, delayMs] {
            int server = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in t{};
            t.sin_family = AF_INET;
            t.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            t.sin_port = htons(uint16_t(target));
            if (connect(server, reinterpret_cast<sockaddr*>(&t), sizeof(t)) == 0) {
                const auto d = std::chrono::milliseconds(delayMs);
                std::thread up(Pump, client, server, d);
                Pump(server, client, d);
                up.join();
            }
            close(server);
            close(client);
        }).detach();
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::string(argv[1]) == "proxy")
        return Proxy(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (argc < 6) {
        std::fprintf(stderr,
                     "usage: bench_sftp PORT USER KEYFILE get NAME LOCAL | put LOCAL | list FOLDER N\n"
                     "       bench_sftp proxy PORTFILE TARGET DELAY_MS\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string mode = argv[4];
    const std::string temp = std::filesystem::temp_directory_path() / "vrn-sftp-bench-XXXXXX";
    std::string dir = temp;
    if (!mkdtemp(dir.data())) return 1;

    TFormSFTP form(nullptr, dir + "/known_hosts", "");
    form.LogonSettings.PrivateKey = argv[3];
    form.LogonSettings.SshV2 = true;
    form.AskUnknownHostKey = [](const std::string&, const std::string&, const std::string&) {
        return THostKeyAnswer::AcceptOnce;
    };
    form.editHost->setText(QString("127.0.0.1:%1").arg(argv[1]));
    form.editUserName->setText(argv[2]);
    // For experiments only; run.sh measures the window's own settings.
    if (const char* v = std::getenv("SFTP_BENCH_IN_FLIGHT")) form.Session().RequestsInFlight = std::atoi(v);
    if (const char* v = std::getenv("SFTP_BENCH_BLOCK")) form.Session().BlockSize = uint32_t(std::atoi(v));
    form.show();

    auto logged = [&](const char* s) { return form.Memo1->toPlainText().contains(s); };
    auto find = [&](const QString& name) {
        auto f = form.FtpList->findItems(name, Qt::MatchExactly, 0);
        return f.isEmpty() ? nullptr : f.first();
    };
    // 0: connecting, 1: action started, 2: done, -1: failed.
    int phase = 0;
    QElapsedTimer clock;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (logged("TCP Connection closed") || logged("download failed") || logged("upload failed")) {
            phase = -1;
            app.quit();
            return;
        }
        if (phase == 0 && logged("File list received") && !form.Session().Busy()) {
            form.Memo1->clear();
            phase = 1;
            if (mode == "get") {
                form.FtpList->setCurrentItem(find(argv[5]));
                form.AskSaveFile = [&](const QString&) { return std::string(argv[6]); };
                form.GetFileClick();
            } else if (mode == "put") {
                form.AskOpenFile = [&] { return std::string(argv[5]); };
                form.PutFileClick();
            } else {
                clock.start(); // the listing alone
                form.Session().ChangeDirectory(size_t(form.FtpList->indexOfTopLevelItem(find(argv[5]))));
            }
        } else if (phase == 1) {
            const bool done = mode == "get"   ? logged("File received")
                              : mode == "put" ? logged("Opening directory")
                                              : form.FtpList->topLevelItemCount() >= std::atoi(argv[6]);
            if (done) {
                phase = 2;
                app.quit();
            }
        }
    });
    poll.start();
    if (mode != "list") clock.start();
    form.ConnectButClick();
    QTimer::singleShot(600000, &app, &QApplication::quit);
    app.exec();
    const double secs = double(clock.nsecsElapsed()) / 1e9;
    std::filesystem::remove_all(dir);
    if (phase != 2) {
        std::fprintf(stderr, "bench_sftp %s failed:\n%s\n", mode.c_str(),
                     form.Memo1->toPlainText().toStdString().c_str());
        return 1;
    }
    if (mode == "list")
        std::printf("%.1f\n", secs * 1000);
    else
        std::printf("%.4f\n", secs);
    return 0;
}
