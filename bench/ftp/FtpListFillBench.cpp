// Fills the window's file list with synthetic listing records, as a server listing of that many
// entries would, and prints "<entries> <best milliseconds>" per size: the time the GUI thread
// spends in TFileList::SetRecords and the first paint. Arguments: entry counts (default 10000
// 100000).
#include "app/FileList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {10000, 100000};
    TFileList list;
    list.resize(600, 800);
    list.show();
    for (int n : sizes) {
        std::vector<TListRecord> records(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            TListRecord& r = records[static_cast<std::size_t>(i)];
            char name[32];
            // Out of order, mixed case, some folders: the sort has work to do.
            std::snprintf(name, sizeof name, "%cntry-%06d.html", i % 3 ? 'e' : 'E', (i * 7919) % n);
            r.Name = name;
            r.Attributes = i % 50 == 0 ? FILE_ATTRIBUTE_DIRECTORY_BIT : 0;
            r.Size = static_cast<uint64_t>(i) * 1234;
            r.LastWriteTime = UnixTimeToFileTime(1700000000 + i * 61);
        }
        double best = 1e9;
        for (int round = 0; round < 3; ++round) {
            QElapsedTimer t;
            t.start();
            list.SetRecords(records);
            QCoreApplication::processEvents();
            best = std::min(best, t.nsecsElapsed() / 1e6);
        }
        std::printf("%d %.0f\n", list.topLevelItemCount(), best);
    }
    return 0;
}
