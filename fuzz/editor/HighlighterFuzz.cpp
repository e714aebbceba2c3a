// Random text through the highlighter: the first byte picks the styler, the rest is split into lines.
// Besides crashes and sanitizer reports it checks that the runs of every line cover it exactly once
// and that the state scanner and the line caches stay consistent under edits.
#include "editor/Highlighter.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

class TFuzzLines : public THighlightLines {
public:
    int LineCount() const override { return int(Text.size()); }
    const std::string& LineText(int index) const override { return Text[std::size_t(index)]; }
    TLineProp& LineProp(int index) override { return Props[std::size_t(index)]; }
    std::vector<std::string> Text;
    std::vector<TLineProp> Props;
};

void CheckCovers(const std::string& line, const std::vector<THighlightRun>& runs) {
    int at = 0;
    for (const THighlightRun& r : runs) {
        if (r.Start != at || r.Length <= 0) std::abort();
        at += r.Length;
    }
    if (at != int(line.size())) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 2) return 0;
    const auto& names = MemoStylerClassNames();
    auto styler = CreateMemoStyler(names[data[0] % names.size()]);
    const unsigned char caret = data[1];
    TFuzzLines lines;
    std::string current;
    for (std::size_t i = 2; i < size; ++i) {
        if (data[i] == '\n') {
            lines.Text.push_back(current);
            current.clear();
        } else {
            current.push_back(char(data[i]));
        }
    }
    lines.Text.push_back(current);
    lines.Props.resize(lines.Text.size());

    TMemoHighlighter h;
    h.SetStyler(styler.get());
    const int n = lines.LineCount();
    for (int top : {n - 1, n / 2, 0, n - 1}) {
        THighlightState st = h.TopLineState(lines, top);
        for (int i = top; i < n && i < top + 60; ++i)
            CheckCovers(lines.Text[std::size_t(i)], h.ScanLine(lines.Text[std::size_t(i)], st));
    }
    TBlockMark mark;
    h.UpdateBlockMark(lines, caret % n, caret, 0, n - 1, mark);
    if (mark.Visible && (mark.Line < 0 || mark.Line >= n ||
                         mark.Start + mark.Length > int(lines.Text[std::size_t(mark.Line)].size())))
        std::abort();

    // An edit at the middle line must give the same top state as a fresh scan of the edited text.
    const int edited = n / 2;
    lines.Text[std::size_t(edited)] = lines.Text[std::size_t(n - 1)];
    InvalidateLineStates(lines, edited);
    h.LinesChanged(edited);
    const THighlightState after = h.TopLineState(lines, n - 1);
    TFuzzLines fresh;
    fresh.Text = lines.Text;
    fresh.Props.resize(fresh.Text.size());
    TMemoHighlighter f;
    f.SetStyler(styler.get());
    if (!(f.TopLineState(fresh, n - 1) == after)) std::abort();
    return 0;
}
