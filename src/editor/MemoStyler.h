// Stylers: the language definitions the editor colours its text with. A styler is plain data
// (comment delimiters, number rules, an ordered list of element styles, completion and hint word
// lists) and holds no text and no per-line state, so one instance can serve any number of editors
// and the scanner in Highlighter.h can read it while painting without locks or copies.
//
// The six language classes differ only in what their constructor installs; the values are the ones
// the main window runs with, so constructing a class is all it takes to get a configured styler.
// Order matters in AllStyles: lookups are linear in list order and the first match wins, which is
// why duplicates in the keyword lists are kept as they are (they are harmless and callers may list
// or edit them).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A 24-bit colour, stored as 0xRRGGBB so it can be written as in a style sheet.
struct TColor {
    std::uint32_t Rgb = 0;

    constexpr TColor() = default;
    constexpr explicit TColor(std::uint32_t rgb) : Rgb(rgb & 0xFFFFFFu) {}
    constexpr int Red() const { return int((Rgb >> 16) & 0xFF); }
    constexpr int Green() const { return int((Rgb >> 8) & 0xFF); }
    constexpr int Blue() const { return int(Rgb & 0xFF); }
    friend constexpr bool operator==(TColor a, TColor b) = default;
};

namespace clr {
inline constexpr TColor Black{0x000000};
inline constexpr TColor White{0xFFFFFF};
inline constexpr TColor Silver{0xC0C0C0};
inline constexpr TColor Grey{0x808080};
inline constexpr TColor Navy{0x000080};
inline constexpr TColor Blue{0x0000FF};
inline constexpr TColor Green{0x008000};
inline constexpr TColor Teal{0x008080};
inline constexpr TColor Olive{0x808000};
inline constexpr TColor Fuchsia{0xFF00FF};
inline constexpr TColor Red{0xFF0000};
inline constexpr TColor Lime{0x00FF00};
inline constexpr TColor Yellow{0xFFFF00};
inline constexpr TColor Aqua{0x00FFFF};
// The system tooltip background; the desktop this runs on has no single value, so the classic one.
inline constexpr TColor InfoBk{0xFFFFE1};
} // namespace clr

// Font styles as a bit set.
using TFontStyles = unsigned;
inline constexpr TFontStyles fsBold = 1;
inline constexpr TFontStyles fsItalic = 2;
inline constexpr TFontStyles fsUnderline = 4;
inline constexpr TFontStyles fsStrikeOut = 8;

// A font description. Only Color and Style reach the screen: text is always drawn in the
// editor's own fixed-pitch font, so Name and Size are kept for display and copying only.
struct TFontDesc {
    std::string Name = "Courier New";
    int Size = 8;
    TColor Color = clr::Black;
    TFontStyles Style = 0;
    friend bool operator==(const TFontDesc&, const TFontDesc&) = default;
};

// Colour pair plus font style: comments, numbers and links.
struct TCharStyle {
    TColor TextColor = clr::Black;
    TColor BkColor = clr::White;
    TFontStyles Style = 0;
    friend bool operator==(const TCharStyle&, const TCharStyle&) = default;
};

enum TStyleType { stKeyword = 0, stBracket = 1, stSymbol = 2 };

// One entry of a styler's style list.
struct TElementStyle {
    std::vector<std::string> KeyWords; // stKeyword
    TFontDesc Font;
    TColor BGColor = clr::White;
    TStyleType StyleType = stKeyword;
    char Bracket = 0;    // stBracket: opens and closes the run; 0 = none
    std::string Symbols; // stSymbol: every character is one member
    std::string Info;    // display name
    friend bool operator==(const TElementStyle&, const TElementStyle&) = default;
};

// The ordered style list. Copying a list copies every field of every entry.
class TElementStyles {
public:
    TElementStyle& Add(TElementStyle style = {});
    int Count() const { return int(FItems.size()); }
    // REQUIRES: 0 <= index < Count().
    TElementStyle& operator[](int index) { return FItems[std::size_t(index)]; }
    const TElementStyle& operator[](int index) const { return FItems[std::size_t(index)]; }
    void Assign(const TElementStyles& other) { FItems = other.FItems; }
    void Clear() { FItems.clear(); }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<TElementStyle> FItems;
};

// Parameter-hint settings.
struct THintParameter {
    TColor TextColor = clr::Black;
    TColor BkColor = clr::InfoBk;
    char HintCharStart = '(';
    char HintCharEnd = ')';
    char HintCharDelimiter = ';';
    char HintCharWriteDelimiter = ',';
    std::vector<std::string> Parameters; // prototypes, e.g. "alert(message)"
};

class TCustomMemoStyler {
public:
    TCustomMemoStyler();
    virtual ~TCustomMemoStyler();
    TCustomMemoStyler(const TCustomMemoStyler&) = delete;
    TCustomMemoStyler& operator=(const TCustomMemoStyler&) = delete;

    // The class name ("TWebMemoStyler", ...), as CreateMemoStyler accepts it.
    virtual std::string ClassName() const { return "TCustomMemoStyler"; }

    std::string Name; // instance name, e.g. "WebMemoStyler1"
    TElementStyles AllStyles;
    std::string LineComment;      // empty = none
    std::string MultiCommentLeft; // multi-line comments need both delimiters
    std::string MultiCommentRight;
    TCharStyle CommentStyle{clr::Silver, clr::White, fsItalic};
    TCharStyle NumberStyle{clr::Navy, clr::White, fsBold};
    std::vector<std::string> AutoCompletion;
    THintParameter HintParameter;
    std::string HexIdentifier; // "$", "0x" or empty = no hexadecimal numbers
    std::string BlockStart;    // the matching-block mark needs both words
    std::string BlockEnd;
    std::string EscapeChar; // its first character escapes the next inside a string; empty = none
    static constexpr std::string_view NumberChars = "+-.0123456789";

    // True when c is a member of any stSymbol entry or the Bracket of any stBracket entry.
    bool IsDelimiterChar(char c) const;

    // Free notification: an editor that holds a reference registers here and is told when the
    // styler goes away, so it can clear that reference. `client` identifies the registration.
    using TFreeNotify = std::function<void(TCustomMemoStyler& sender)>;
    void AddFreeNotification(const void* client, TFreeNotify notify);
    void RemoveFreeNotification(const void* client);

private:
    std::vector<std::pair<const void*, TFreeNotify>> FFreeNotifies;
};

// .htm .html .js .php .asp .aspx .jsp
class TWebMemoStyler : public TCustomMemoStyler {
public:
    TWebMemoStyler();
    std::string ClassName() const override { return "TWebMemoStyler"; }
};

// .pas
class TPascalMemoStyler : public TCustomMemoStyler {
public:
    TPascalMemoStyler();
    std::string ClassName() const override { return "TPascalMemoStyler"; }
};

// .sql
class TSQLMemoStyler : public TCustomMemoStyler {
public:
    TSQLMemoStyler();
    std::string ClassName() const override { return "TSQLMemoStyler"; }
};

// .pl
class TPerlMemoStyler : public TCustomMemoStyler {
public:
    TPerlMemoStyler();
    std::string ClassName() const override { return "TPerlMemoStyler"; }
};

// .jav .java .cs
class TCSharpMemoStyler : public TCustomMemoStyler {
public:
    TCSharpMemoStyler();
    std::string ClassName() const override { return "TCSharpMemoStyler"; }
};

// .bas
class TBasicMemoStyler : public TCustomMemoStyler {
public:
    TBasicMemoStyler();
    std::string ClassName() const override { return "TBasicMemoStyler"; }
};

// Creates a configured styler by class name ("TWebMemoStyler") or instance name ("WebMemoStyler1");
// the comparison ignores letter case. Returns nullptr for an unknown name.
std::unique_ptr<TCustomMemoStyler> CreateMemoStyler(std::string_view name);

// The class names of the six stylers, in the order above.
const std::vector<std::string>& MemoStylerClassNames();
