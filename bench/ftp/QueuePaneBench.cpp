// The queue pane with many rows, as a batch of a large site puts them there: prints
// "<rows> <add ms> <refresh ms>": the time to queue the rows and show them, and the best time of
// one progress refresh (what the pane does up to ten times a second while a file runs) with the
// first row running. Arguments: row counts (default 10000).
#include "app/QueuePane.h"
#include "ftp/TransferQueue.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {10000};
    for (int n : sizes) {
        TTransferQueue queue;
        TQueuePane pane(queue);
        pane.resize(1200, 300);
        pane.show();
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        queue.BeginBatch();
        for (int i = 0; i < n; ++i) {
            const std::string name = "/site/page-" + std::to_string(i) + ".html";
            queue.Add("/home/me" + name, name, true, 4096 + static_cast<std::uint64_t>(i));
        }
        pane.Changed();
        pane.RefreshNow();
        QCoreApplication::processEvents();
        const double addMs = t.nsecsElapsed() / 1e6;
        TQueueItem* running = queue.StartNext(0);
        double best = 1e9;
        for (int round = 1; round <= 20; ++round) {
            queue.Progress(running->Id, static_cast<std::uint64_t>(round) * 100, round * 100);
            QElapsedTimer r;
            r.start();
            pane.RefreshNow();
            QCoreApplication::processEvents();
            best = std::min(best, r.nsecsElapsed() / 1e6);
        }
        std::printf("%d %.1f %.2f\n", n, addMs, best);
    }
    return 0;
}
