// Line storage, line breaks, cache invalidation and file load/save of the editor's text.
#include "editor/CodeMemoStrings.h"

#include "base/FileIO.h"

#include <algorithm>
#include <iterator>

std::string ExpandTabs(std::string_view text, int tabSize) {
    if (text.find('\t') == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\t')
            out.append(static_cast<std::size_t>(std::max(tabSize, 0)), ' ');
        else
            out += c;
    }
    return out;
}

namespace {

std::string_view BreakBytes(TCodeMemoStrings::TLineBreak b) {
    switch (b) {
    case TCodeMemoStrings::TLineBreak::lbCRLF:
        return "\r\n";
    case TCodeMemoStrings::TLineBreak::lbCR:
        return "\r";
    default:
        return "\n";
    }
}

bool IsLead(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

} // namespace

TCodeMemoStrings::TCodeMemoStrings() = default;

std::string TCodeMemoStrings::Prepare(std::string_view text) const {
    if (!IsValidUtf8(text)) return Windows1252ToUtf8(text);
    return std::string(text);
}

int TCodeMemoStrings::CellCount(std::string_view s) const {
    int cells = 0;
    for (char c : s) {
        if (c == '\t')
            cells += std::max(TabSize, 1);
        else if (IsLead(c))
            ++cells;
    }
    return cells;
}

int TCodeMemoStrings::CellOf(int index, int col) const {
    if (index < 0 || index >= Count() || col <= 0) return std::max(col, 0);
    const std::string& s = FLines[static_cast<std::size_t>(index)];
    const int tab = std::max(TabSize, 1);
    int cells = 0, c = 0;
    for (std::size_t i = 0; i < s.size() && c < col; ++i) {
        if (!IsLead(s[i])) continue;
        cells += s[i] == '\t' ? tab : 1;
        ++c;
    }
    return cells + (col - c); // virtual space beyond the end
}

int TCodeMemoStrings::ColumnAtCell(int index, int cell) const {
    if (cell <= 0) return 0;
    if (index < 0 || index >= Count()) return cell;
    const std::string& s = FLines[static_cast<std::size_t>(index)];
    const int tab = std::max(TabSize, 1);
    int start = 0, c = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (!IsLead(s[i])) continue;
        const int end = start + (s[i] == '\t' ? tab : 1);
        if (cell <= start) return c;
        if (cell < end) return cell - start <= end - cell ? c : c + 1;
        start = end;
        ++c;
    }
    return c + (cell - start);
}

void TCodeMemoStrings::Changed(int firstLine) {
    // Start states at and below the change were computed from the old text.
    int high = std::min(FPropHigh, Count() - 1);
    for (int i = std::max(firstLine, 0); i <= high; ++i) FProps[static_cast<std::size_t>(i)].Invalidate();
    FPropHigh = std::min(FPropHigh, std::max(firstLine - 1, -1));
    if (FUpdateCount > 0) {
        FPendingLine = FPendingLine < 0 ? firstLine : std::min(FPendingLine, firstLine);
        return;
    }
    if (OnChange) OnChange(*this, firstLine);
}

void TCodeMemoStrings::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0 && FPendingLine >= 0) {
        int line = FPendingLine;
        FPendingLine = -1;
        if (OnChange) OnChange(*this, line);
    }
}

TLineProp& TCodeMemoStrings::LineProp(int index) {
    FPropHigh = std::max(FPropHigh, index);
    return FProps[static_cast<std::size_t>(index)];
}

void TCodeMemoStrings::Add(std::string_view text) {
    Insert(Count(), text);
}

void TCodeMemoStrings::Insert(int index, std::string_view text) {
    std::string s = Prepare(text);
    int len = static_cast<int>(Utf8CharCount(s));
    FMaxLength = std::max(FMaxLength, CellCount(s));
    auto at = static_cast<std::ptrdiff_t>(index);
    FLines.insert(FLines.begin() + at, std::move(s));
    FLengths.insert(FLengths.begin() + at, len);
    FProps.insert(FProps.begin() + at, TLineProp{});
    FBreaks.insert(FBreaks.begin() + at, LineBreak);
    FOriginal.insert(FOriginal.begin() + at, -1);
    if (FPropHigh >= index) ++FPropHigh;
    Changed(index);
}

void TCodeMemoStrings::InsertLines(int index, const std::vector<std::string>& texts) {
    if (texts.empty()) return;
    std::vector<std::string> prepared;
    std::vector<int> lengths;
    prepared.reserve(texts.size());
    lengths.reserve(texts.size());
    for (const auto& t : texts) {
        prepared.push_back(Prepare(t));
        lengths.push_back(static_cast<int>(Utf8CharCount(prepared.back())));
        FMaxLength = std::max(FMaxLength, CellCount(prepared.back()));
    }
    auto at = static_cast<std::ptrdiff_t>(index);
    FLines.insert(FLines.begin() + at, std::make_move_iterator(prepared.begin()),
                  std::make_move_iterator(prepared.end()));
    FLengths.insert(FLengths.begin() + at, lengths.begin(), lengths.end());
    FProps.insert(FProps.begin() + at, texts.size(), TLineProp{});
    FBreaks.insert(FBreaks.begin() + at, texts.size(), LineBreak);
    FOriginal.insert(FOriginal.begin() + at, texts.size(), -1);
    if (FPropHigh >= index) FPropHigh += static_cast<int>(texts.size());
    Changed(index);
}

void TCodeMemoStrings::Put(int index, std::string_view text) {
    PutPadding(index, text);
    FOriginal[static_cast<std::size_t>(index)] = -1;
}

void TCodeMemoStrings::PutPadding(int index, std::string_view text) {
    auto at = static_cast<std::size_t>(index);
    FLines[at] = Prepare(text);
    FLengths[at] = static_cast<int>(Utf8CharCount(FLines[at]));
    FMaxLength = std::max(FMaxLength, CellCount(FLines[at]));
    Changed(index);
}

void TCodeMemoStrings::Delete(int index) {
    DeleteLines(index, 1);
}

void TCodeMemoStrings::DeleteLines(int index, int count) {
    count = std::min(count, Count() - index);
    if (count <= 0) return;
    auto from = static_cast<std::ptrdiff_t>(index);
    FLines.erase(FLines.begin() + from, FLines.begin() + from + count);
    FLengths.erase(FLengths.begin() + from, FLengths.begin() + from + count);
    FProps.erase(FProps.begin() + from, FProps.begin() + from + count);
    FBreaks.erase(FBreaks.begin() + from, FBreaks.begin() + from + count);
    FOriginal.erase(FOriginal.begin() + from, FOriginal.begin() + from + count);
    Changed(index);
}

void TCodeMemoStrings::Clear() {
    FLines.clear();
    FLengths.clear();
    FProps.clear();
    FBreaks.clear();
    FOriginal.clear();
    FMaxLength = 0;
    FPropHigh = -1;
    Changed(0);
}

std::string TCodeMemoStrings::Text() const {
    std::string out;
    std::size_t total = 0;
    for (const auto& l : FLines) total += l.size() + 2;
    out.reserve(total);
    for (const auto& l : FLines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

void TCodeMemoStrings::Loaded(std::string_view utf8) {
    FLines.clear();
    FLengths.clear();
    FProps.clear();
    FBreaks.clear();
    FOriginal.clear();
    FMaxLength = 0;
    FPropHigh = -1;
    LineBreak = TLineBreak::lbLF;
    bool breakSeen = false;
    std::size_t n = utf8.size(), start = 0;
    // A final line break ends the last line rather than opening an empty one.
    while (start < n) {
        std::size_t end = utf8.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = n;
        std::string line(utf8.substr(start, end - start));
        int len = static_cast<int>(Utf8CharCount(line));
        FMaxLength = std::max(FMaxLength, CellCount(line));
        FOriginal.push_back(static_cast<int>(std::min<std::size_t>(line.size(), 0x7FFFFFFF)));
        FLines.push_back(std::move(line));
        FLengths.push_back(len);
        TLineBreak lineBreak = LineBreak;
        if (end < n) {
            if (utf8[end] == '\n') {
                lineBreak = TLineBreak::lbLF;
            } else if (end + 1 < n && utf8[end + 1] == '\n') {
                lineBreak = TLineBreak::lbCRLF;
                ++end;
            } else {
                lineBreak = TLineBreak::lbCR;
            }
            if (!breakSeen) LineBreak = lineBreak;
            breakSeen = true;
        }
        FBreaks.push_back(lineBreak);
        start = end + 1;
    }
    FinalBreak = n > 0 && (utf8[n - 1] == '\n' || utf8[n - 1] == '\r');
    FProps.resize(FLines.size());
    Changed(0);
}

void TCodeMemoStrings::SetText(std::string_view utf8) {
    if (!IsValidUtf8(utf8)) {
        Loaded(Windows1252ToUtf8(utf8));
        return;
    }
    Loaded(utf8);
}

void TCodeMemoStrings::LoadFromFile(const std::string& path) {
    std::string bytes;
    switch (ReadWholeFile(path, bytes, kMaxDocumentBytes)) {
    case TReadResult::rrOk:
        break;
    case TReadResult::rrTooLarge:
        throw EVarnelloError("Cannot open file " + path + ": it is larger than " +
                             std::to_string(kMaxDocumentBytes >> 20) + " MB");
    default:
        throw EVarnelloError("Cannot open file " + path);
    }
    TDecodedText decoded = DecodeText(bytes);
    bytes.clear();
    bytes.shrink_to_fit();
    Encoding = decoded.Encoding;
    Bom = decoded.Bom;
    Loaded(decoded.Text);
}

std::string TCodeMemoStrings::EncodedText() const {
    std::string out;
    if (Encoding == TTextEncoding::teUtf8 && Bom) out = "\xEF\xBB\xBF";
    const int last = Count() - 1;
    for (int i = 0; i <= last; ++i) {
        const std::string& line = FLines[static_cast<std::size_t>(i)];
        if (Encoding == TTextEncoding::teUtf8) {
            out += line;
        } else {
            try {
                out += EncodeText(line, Encoding);
            } catch (const ETextEncodingError& e) {
                throw ETextEncodingError("Line " + std::to_string(i + 1) + ": " + e.what());
            }
        }
        if (i < last || FinalBreak) out += BreakBytes(FBreaks[static_cast<std::size_t>(i)]);
    }
    return out;
}

void TCodeMemoStrings::SaveToFile(const std::string& path) const {
    std::string bytes = EncodedText(); // may throw before the file is touched
    // Never truncated in place: a save that fails part-way leaves the file as it was.
    if (!ReplaceFile(path, bytes, 0644)) throw EVarnelloError("Cannot create file " + path);
}
