// Times the editor as a user meets it on a large file: loading 200,000 lines (about 10 MB of
// HTML/PHP, generated into a temporary folder), painting one screen at line 190,000 with no cached
// colouring state and again with the caches in place, and typing one character in the middle of
// the file followed by the repaint. Screens are rendered into a QImage on the offscreen platform
// and the keystroke goes through the shown widget's event loop, so the figures include the real
// painting code. Find counts a word's matches over the 200,000 lines; replace-all makes 10,000
// replacements. The closing lines are `name milliseconds`.
#include "editor/CodeMemoSearch.h"
#include "editor/widget/CodeMemo.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

std::string GFile;
std::map<std::string, double> GMs; // mean milliseconds per iteration

std::string MakeFile() {
    char tmpl[] = "/tmp/varnello-editor-bench-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (!dir) std::abort();
    std::string path = std::string(dir) + "/big.php";
    std::ofstream out(path, std::ios::binary);
    static const char* kLines[] = {
        "<table border=\"1\" width=\"100%\"><tr><td>cell text here</td></tr>",
        "<?php foreach ($rows as $row) { echo $row['name'] . \"<br>\"; } ?>",
        "  <!-- a comment about the following block of markup -->",
        "<script>function f(a, b) { return alert('x' + 12.5); }</script>",
        "/* php block comment start",
        "   still inside the comment, 12345 and 'quotes' */",
        "<a href=\"http://example.org/page.html\">link text</a> // tail",
        "\t<div class=\"box\"><p>Paragraph with some words in it.</p></div>",
    };
    for (int i = 0; i < 200000; ++i) out << kLines[i % 8] << "\r\n";
    return path;
}

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct TView {
    TCodeMemo Memo;
    TWebMemoStyler Styler;
    QImage Image{900, 700, QImage::Format_ARGB32_Premultiplied};
    TView() {
        Memo.resize(900, 700);
        Memo.SetSyntaxStyles(&Styler);
    }
    void Paint() { Memo.viewport()->render(&Image); }
    void ScrollTo(int line) {
        Memo.Model().SetCaret(0, line);
        Memo.Model().SetTopLine(line);
    }
};

void Record(benchmark::State& state, const char* name, double totalMs) {
    double mean = totalMs / static_cast<double>(state.iterations());
    GMs[name] = mean;
    state.counters["ms"] = mean;
}

void BM_Load200k(benchmark::State& state) {
    TView view;
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        view.Memo.LoadLines(GFile);
        auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(Ms(t1 - t0) / 1000.0);
        total += Ms(t1 - t0);
    }
    if (view.Memo.Lines().Count() != 200000) state.SkipWithError("wrong line count");
    Record(state, "editor-load-200k-ms", total);
}

void BM_RepaintCold(benchmark::State& state) {
    TView view;
    double total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        view.Memo.LoadLines(GFile); // every cached state goes with the old lines
        view.ScrollTo(190000);
        state.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        view.Paint();
        auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(Ms(t1 - t0) / 1000.0);
        total += Ms(t1 - t0);
    }
    Record(state, "editor-repaint-cold-ms", total);
}

void BM_RepaintWarm(benchmark::State& state) {
    TView view;
    view.Memo.LoadLines(GFile);
    view.ScrollTo(190000);
    view.Paint();
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        view.Paint();
        auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(Ms(t1 - t0) / 1000.0);
        total += Ms(t1 - t0);
    }
    Record(state, "editor-repaint-warm-ms", total);
}

void BM_Keystroke(benchmark::State& state) {
    // The real path: a key event into the shown widget, then the event loop paints what changed.
    TView view;
    view.Memo.show();
    view.Memo.setFocus();
    view.Memo.LoadLines(GFile);
    view.ScrollTo(190000);
    view.Paint(); // the state scanner has passed the middle once, as after scrolling there
    view.Memo.Model().SetCaret(10, 100010);
    view.Memo.Refresh();
    QApplication::processEvents();
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QApplication::sendEvent(&view.Memo, &press);
        QApplication::processEvents();
        auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(Ms(t1 - t0) / 1000.0);
        total += Ms(t1 - t0);
    }
    if (view.Memo.Lines()[100010].find("xxxx") == std::string::npos) state.SkipWithError("keys not typed");
    Record(state, "editor-keystroke-ms", total);
}

void BM_FindAll200k(benchmark::State& state) {
    // The next match from the middle of the file plus the count of all, as the find bar does on
    // each typed character.
    TCodeMemoModel model;
    model.LoadLines(GFile);
    TMemoSearch search;
    search.SetPattern("paragraph", {.WholeWord = true});
    double total = 0;
    int count = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        auto next = search.Find(model.Lines(), {0, 100000}, true, true);
        count = search.CountAll(model.Lines());
        auto t1 = std::chrono::steady_clock::now();
        if (!next) state.SkipWithError("no match");
        state.SetIterationTime(Ms(t1 - t0) / 1000.0);
        total += Ms(t1 - t0);
    }
    if (count != 25000) state.SkipWithError("wrong match count");
    Record(state, "editor-find-all-200k-ms", total);
}

void BM_ReplaceAll10k(benchmark::State& state) {
    // 200,000 lines with "needle" on every 20th: 10,000 replacements as one undo step.
    std::string text;
    for (int i = 0; i < 200000; ++i)
        text +=
            i % 20 == 0 ? "  <p>the needle in this line</p>\r\n" : "  <p>nothing to see in this line</p>\r\n";
    TMemoSearch search;
    search.SetPattern("needle", {});
    double total = 0;
    for (auto _ : state) {
        TCodeMemoModel model;
        model.SetText(text);
        auto t0 = std::chrono::steady_clock::now();
        const int n = search.ReplaceAll(model, "pin");
        auto t1 = std::chrono::steady_clock::now();
        if (n != 10000) state.SkipWithError("wrong replacement count");
        state.SetIterationTime(Ms(t1 - t0) / 1000.0);
        total += Ms(t1 - t0);
    }
    Record(state, "editor-replace-all-10k-ms", total);
}

BENCHMARK(BM_Load200k)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RepaintCold)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RepaintWarm)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_Keystroke)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_FindAll200k)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ReplaceAll10k)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GFile = MakeFile();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(std::filesystem::path(GFile).parent_path());
    for (const char* name : {"editor-load-200k-ms", "editor-repaint-cold-ms", "editor-repaint-warm-ms",
                             "editor-keystroke-ms", "editor-find-all-200k-ms", "editor-replace-all-10k-ms"})
        if (GMs.count(name)) std::printf("%s %.2f\n", name, GMs[name]);
    return 0;
}
