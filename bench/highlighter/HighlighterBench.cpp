// The scanner's costs on a large web page (about 10 MB, 200,000 lines):
//   cold:   the first paint at line 190,000, the state scanner walking from line 0 with no caches;
//   warm:   one screen (50 lines) at the same place again, the top-line state remembered;
//   scroll: one screen a page further down, starting from the nearest cache.
#include "editor/Highlighter.h"

#include <benchmark/benchmark.h>

namespace {

class TBenchLines : public THighlightLines {
public:
    int LineCount() const override { return int(Text.size()); }
    const std::string& LineText(int index) const override { return Text[std::size_t(index)]; }
    TLineProp& LineProp(int index) override { return Props[std::size_t(index)]; }
    std::vector<std::string> Text;
    std::vector<TLineProp> Props;
};

const TBenchLines& Page() {
    static const TBenchLines page = [] {
        static const char* const sample[] = {
            "<table class=\"list\" width=\"100%\"><tr><td class=\"name\">Item</td><td>Value</td></tr>",
            "  <tr><td><a href=\"http://example.org/items/42\">forty-two</a></td><td>42.50</td></tr>",
            "<?php foreach ($rows as $row) { echo $row['title'] . ' - ' . $row['price']; } ?>",
            "    <!-- a comment about the next block of markup, kept on one line -->",
            "function total(items) { var sum = 0; for (var i = 0; i < items.length; i++) sum += items[i]; }",
            "    <p>Plain paragraph text without any quotes, only words and some punctuation.</p>",
            "  <div id=main><span>Text</span> <b>bold</b> <i>italic</i> <u>under</u></div>",
            "    document.write(\"<br>\"); // line break",
            "",
            "<% Response.Write(\"asp\") %> <script>alert('hi');</script>",
        };
        TBenchLines p;
        for (int i = 0; i < 200000; ++i) p.Text.push_back(sample[i % 10]);
        p.Props.resize(p.Text.size());
        return p;
    }();
    return page;
}

void BM_cold_state_scan(benchmark::State& state) {
    TWebMemoStyler web;
    for (auto _ : state) {
        state.PauseTiming();
        TBenchLines lines = Page();
        TMemoHighlighter h;
        h.SetStyler(&web);
        state.ResumeTiming();
        benchmark::DoNotOptimize(h.ScanLines(lines, 190000, 50));
    }
}

void BM_warm_screen(benchmark::State& state) {
    TWebMemoStyler web;
    TBenchLines lines = Page();
    TMemoHighlighter h;
    h.SetStyler(&web);
    h.ScanLines(lines, 190000, 50);
    for (auto _ : state) benchmark::DoNotOptimize(h.ScanLines(lines, 190000, 50));
}

void BM_scroll_page(benchmark::State& state) {
    TWebMemoStyler web;
    TBenchLines lines = Page();
    TMemoHighlighter h;
    h.SetStyler(&web);
    h.ScanLines(lines, 190000, 50);
    int top = 190000;
    for (auto _ : state) {
        top = top >= 199900 ? 190000 : top + 49;
        benchmark::DoNotOptimize(h.ScanLines(lines, top, 50));
    }
}

} // namespace

BENCHMARK(BM_cold_state_scan)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_warm_screen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_scroll_page)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
