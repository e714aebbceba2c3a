// The styler model and the six language definitions, as the main window runs them. The tables are
// built into the program; each constructor installs one language completely, so a styler needs no
// further configuration before use. Keyword lists keep their duplicates and their printed order:
// the first matching entry decides a colour, and editors may show or edit the lists.
#include "editor/MemoStyler.h"

#include <algorithm>
#include <cctype>

namespace {

const std::vector<std::string> ScriptWords{// 24
                                           "SCRIPT", "OBJECT", "FOR",   "IF",       "THEN",   "THIS",
                                           "DO",     "WHILE",  "BREAK", "{",        "}",      "(",
                                           ")",      "SWITCH", "ELSE",  "FUNCTION", "WINDOW", "DOCUMENT",
                                           ";",      "RETURN", "STYLE", "VAR",      "WINDOW", "LOCATION"};
const std::vector<std::string> HtmlWords{
    // 48
    "A",     "B",        "I",       "U",        "P",        "BASE",  "BLINK",      "LINK",
    "FONT",  "STRONG",   "IMG",     "BASEFONT", "BGSOUND",  "DD",    "DEL",        "DFN",
    "DIR",   "DIV",      "DL",      "DT",       "COL",      "BR",    "HR",         "COLGROUP",
    "TABLE", "MULTICOL", "TBODY",   "TD",       "TEXTAREA", "TFOOT", "TH",         "THEAD",
    "TR",    "TT",       "CAPTION", "CENTER",   "CITE",     "CODE",  "BLOCKQUOTE", "FORM",
    "FRAME", "IFRAME",   "ILAYER",  "FRAMESET", "BUTTON",   "LABEL", "LAYER",      "OPTION"};
const std::vector<std::string> JavaScriptWords{// 7
                                               "alert",  "confirm", "prompt", "indexOf",
                                               "select", "write",   "focus"};
const std::vector<std::string> PhpWords{// 6
                                        "array", "foreach", "function", "$row", "echo", "print"};
const std::vector<std::string> PascalWords{
    // 42
    "UNIT",   "INTERFACE", "IMPLEMENTATION", "USES",      "CONST",       "PROGRAM",    "PRIVATE",
    "PUBLIC", "PUBLISHED", "PROTECTED",      "PROPERTY",  "FUNCTION",    "FINALISE",   "INITIALISE",
    "VAR",    "BEGIN",     "WITH",           "END",       "FOR",         "TO",         "DO",
    "NOT",    "IF",        "THEN",           "ELSE",      "CLASS",       "TYPE",       "WHILE",
    "REPEAT", "UNTIL",     "BREAK",          "CONTINUE",  "VIRTUAL",     "OVERRIDE",   "DEFAULT",
    "CLASS",  "STORED",    "INHERITED",      "PROCEDURE", "CONSTRUCTOR", "DESTRUCTOR", "PROGRAM"};
const std::vector<std::string> SqlWords{
    // 51
    "Proc",  "Procedure", "Begin",      "End",    "While",    "BEGIN",       "END",     "FOR",   "TO",
    "DO",    "NOT",       "IF",         "ELSE",   "WHILE",    "REPEAT",      "UNTIL",   "BREAK", "CONTINUE",
    "EXEC",  "Insert",    "Values",     "Update", "From",     "Delete",      "Declare", "Set",   "Open",
    "Fetch", "Close",     "Deallocate", "Return", "Rollback", "Transaction", "Trans",   "and",   "or",
    "Order", "By",        "Group",      "Having", "Where",    "Left",        "Right",   "Join",  "Inner",
    "Outer", "On",        "Create",     "Delete", "Select",   "Like"};
const std::vector<std::string> PerlWords{// 231
                                         "AND",
                                         "CMP",
                                         "CONTINUE",
                                         "DO",
                                         "ELSE",
                                         "ELSIF",
                                         "EQ",
                                         "FOR",
                                         "FOREACH",
                                         "GE",
                                         "GOTO",
                                         "GT",
                                         "IF",
                                         "LAST",
                                         "LE",
                                         "LT",
                                         "MY",
                                         "NE",
                                         "NEXT",
                                         "NOT",
                                         "OR",
                                         "PACKAGE",
                                         "RETURN",
                                         "SUB",
                                         "SWITCH",
                                         "UNLESS",
                                         "UNTIL",
                                         "USE",
                                         "WHILE",
                                         "XOR",
                                         "STDIN",
                                         "STDOUT",
                                         "STDERR",
                                         "ARGV",
                                         "ARGVOUT",
                                         "ENV",
                                         "INC",
                                         "SIG",
                                         "TRUE",
                                         "FALSE",
                                         "__FILE__",
                                         "__LINE__",
                                         "__PACKAGE__",
                                         "__END__",
                                         "__DATA__",
                                         "abs",
                                         "accept",
                                         "alarm",
                                         "atan2",
                                         "bind",
                                         "binmode",
                                         "bless",
                                         "caller",
                                         "chdir",
                                         "chmod",
                                         "chomp",
                                         "chop",
                                         "chown",
                                         "chr",
                                         "chroot",
                                         "close",
                                         "closedir",
                                         "connect",
                                         "cos",
                                         "crypt",
                                         "dbmclose",
                                         "dbmopen",
                                         "defined",
                                         "delete",
                                         "die",
                                         "dump",
                                         "each",
                                         "eof",
                                         "eval",
                                         "exec",
                                         "exists",
                                         "exit",
                                         "exp",
                                         "fcntl",
                                         "fileno",
                                         "flock",
                                         "fork",
                                         "format",
                                         "formline",
                                         "getc",
                                         "getlogin",
                                         "getpeername",
                                         "getpgrp",
                                         "getppid",
                                         "getpriority",
                                         "getpwnam",
                                         "getgrnam",
                                         "gethostbyname",
                                         "getnetbyname",
                                         "getprotobyname",
                                         "getpwuid",
                                         "getgrgid",
                                         "getservbyname",
                                         "gethostbyaddr",
                                         "getnetbyaddr",
                                         "getprotobynumber",
                                         "getservbyport",
                                         "getpwent",
                                         "getgrent",
                                         "gethostent",
                                         "getnetent",
                                         "getprotoent",
                                         "getservent",
                                         "setpwent",
                                         "setgrent",
                                         "sethostent",
                                         "setnetent",
                                         "setprotoent",
                                         "setservent",
                                         "endpwent",
                                         "endgrent",
                                         "endhostent",
                                         "endnetent",
                                         "endprotoent",
                                         "endservent",
                                         "getsockname",
                                         "getsockopt",
                                         "glob",
                                         "gmtime",
                                         "grep",
                                         "hex",
                                         "import",
                                         "index",
                                         "int",
                                         "ioctl",
                                         "join",
                                         "keys",
                                         "kill",
                                         "lc",
                                         "lcfirst",
                                         "length",
                                         "link",
                                         "listen",
                                         "localtime",
                                         "log",
                                         "lstat",
                                         "mkdir",
                                         "msgctl",
                                         "msgget",
                                         "msgsnd",
                                         "msgrcv",
                                         "no",
                                         "oct",
                                         "open",
                                         "opendir",
                                         "ord",
                                         "pack",
                                         "pipe",
                                         "pop",
                                         "pos",
                                         "print",
                                         "printf",
                                         "prototype",
                                         "push",
                                         "quotemeta",
                                         "rand",
                                         "read",
                                         "readdir",
                                         "readlink",
                                         "ref",
                                         "rename",
                                         "reset",
                                         "reverse",
                                         "rewinddir",
                                         "rindex",
                                         "rmdir",
                                         "scalar",
                                         "seek",
                                         "seekdir",
                                         "select",
                                         "semctl",
                                         "semget",
                                         "semop",
                                         "send",
                                         "setpgrp",
                                         "setpriority",
                                         "setsockopt",
                                         "shift",
                                         "shmctl",
                                         "shmget",
                                         "shmread",
                                         "shmwrite",
                                         "shutdown",
                                         "sin",
                                         "sleep",
                                         "socket",
                                         "socketpair",
                                         "sort",
                                         "splice",
                                         "split",
                                         "sprintf",
                                         "sqrt",
                                         "srand",
                                         "stat",
                                         "study",
                                         "substr",
                                         "symlink",
                                         "syscall",
                                         "sysopen",
                                         "sysread",
                                         "sysseek",
                                         "system",
                                         "syswrite",
                                         "tell",
                                         "telldir",
                                         "tie",
                                         "tied",
                                         "time",
                                         "times",
                                         "truncate",
                                         "uc",
                                         "ucfirst",
                                         "umask",
                                         "undef",
                                         "unlink",
                                         "unpack",
                                         "untie",
                                         "unshift",
                                         "utime",
                                         "values",
                                         "vec",
                                         "wait",
                                         "waitpid",
                                         "wantarray",
                                         "warn",
                                         "write"};
const std::vector<std::string> CSharpWords{// 86
                                           "NAMESPACE",  "USING",
                                           "GET",        "SET",
                                           "PRIVATE",    "PUBLIC",
                                           "INTERNAL",   "TYPEOF",
                                           "TYPE",       "INTERFACE",
                                           "DELEGATE",   "EVENT",
                                           "IF",         "ELSE",
                                           "SWITCH",     "CASE",
                                           "DEFAULT",    "DO",
                                           "WHILE",      "FOR",
                                           "FOREACH",    "BREAK",
                                           "CONTINUE",   "RETURN",
                                           "THROW",      "CATCH",
                                           "TRY",        "FINALLY",
                                           "CHECKED",    "UNCHECKED",
                                           "LOCK",       "THIS",
                                           "VALUE",      "TRUE",
                                           "FALSE",      "NULL",
                                           "CLASS",      "STRUCT",
                                           "STATIC",     "VOID",
                                           "UNSAFE",     "INT",
                                           "BOOL",       "STRING",
                                           "OBJECT",     "SBYTE",
                                           "SHORT",      "LONG",
                                           "USHORT",     "UBYTE",
                                           "UINT",       "ULONG",
                                           "FLOAT",      "DOUBLE",
                                           "CHAR",       "DECIMAL",
                                           "ENUM",       "IMPLEMENTATION",
                                           "CONST",      "PROGRAM",
                                           "PUBLISHED",  "PROTECTED",
                                           "SEALED",     "PROPERTY",
                                           "FUNCTION",   "PARAMS",
                                           "REF",        "BASE",
                                           "EXTERN",     "OPERATOR",
                                           "GOTO",       "NOT",
                                           "TO",         "IS",
                                           "EXPLICIT",   "IMPLICIT",
                                           "ABSTRACT",   "VIRTUAL",
                                           "OVERRIDE",   "READONLY",
                                           "DEFAULT",    "FIXED",
                                           "IMPORT",     "PACKAGE",
                                           "INSTANCEOF", "EQUALS"};
const std::vector<std::string> CSharpRegionWords{// 2
                                                 "#region", "#endregion"};
const std::vector<std::string> CSharpDefineWords{// 8
                                                 "#if",    "#else",  "#endif",   "#define",
                                                 "#undef", "#error", "#warning", "#line"};
const std::vector<std::string> BasicWords{
    // 98
    "ALIAS",     "ALL",    "AND",      "AS",        "ATTACH",  "AUTO",      "AUTOX",    "CASE",
    "CFUNCTION", "CLEAR",  "DCOMPLEX", "DEC",       "DECLARE", "DEFAULT",   "DIM",      "DO",
    "DOUBLE",    "EACH",   "ELSE",     "ELSEIF",    "END",     "ENDIF",     "ERROR",    "EXIT",
    "EXPLICIT",  "EXPORT", "EXTERNAL", "FALSE",     "FOR",     "FOR NEXT",  "FUNCADDR", "FUNCTION",
    "GIANT",     "GOADDR", "GOSUB",    "GOTO",      "IF",      "IFF",       "IFT",      "IFZ",
    "IMPORT",    "IN",     "INC",      "INTERNAL",  "IS",      "LIBRARYS",  "LOOP",     "MOD",
    "MODULE",    "NEXT",   "NEW",      "NOT",       "NOTHING", "OFF",       "ON",       "OPTION",
    "OR",        "PRINT",  "PROGRAM",  "PROTECTED", "PUBLIC",  "QUIT",      "READ",     "REDIM",
    "RETURN",    "SBYTE",  "SCOMPLEX", "SELECT",    "SHARED",  "SFUNCTION", "SHARED",   "SINGLE",
    "SLONG",     "SSHORT", "STATIC",   "STEP",      "STOP",    "STRING",    "SUB",      "SUBADDR",
    "SWAP",      "THEN",   "TO",       "TRUE",      "TYPE",    "TYPEOF",    "UBYTE",    "ULONG",
    "UNION",     "UNTIL",  "USHORT",   "VERSION",   "VOID",    "WHEN",      "WHILE",    "WRITE",
    "XLONG",     "XOR"};

TElementStyle KeywordStyle(std::string info, TColor color, TFontStyles style,
                           std::vector<std::string> words) {
    TElementStyle s;
    s.Info = std::move(info);
    s.StyleType = stKeyword;
    s.Font.Color = color;
    s.Font.Style = style;
    s.KeyWords = std::move(words);
    return s;
}

TElementStyle BracketStyle(std::string info, char bracket, TColor color) {
    TElementStyle s;
    s.Info = std::move(info);
    s.StyleType = stBracket;
    s.Bracket = bracket;
    s.Font.Color = color;
    return s;
}

TElementStyle SymbolStyle(std::string info, std::string symbols, TColor color,
                          TColor background = clr::White) {
    TElementStyle s;
    s.Info = std::move(info);
    s.StyleType = stSymbol;
    s.Symbols = std::move(symbols);
    s.Font.Color = color;
    s.BGColor = background;
    return s;
}

// Comments navy italic and numbers fuchsia bold: every language but the web one.
void CodeCommentAndNumberStyles(TCustomMemoStyler& styler) {
    styler.CommentStyle = {clr::Navy, clr::White, fsItalic};
    styler.NumberStyle = {clr::Fuchsia, clr::White, fsBold};
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper((unsigned char)x) == std::toupper((unsigned char)y);
           });
}

template <class T> std::unique_ptr<TCustomMemoStyler> Make() {
    return std::make_unique<T>();
}

} // namespace

TElementStyle& TElementStyles::Add(TElementStyle style) {
    FItems.push_back(std::move(style));
    return FItems.back();
}

TCustomMemoStyler::TCustomMemoStyler() = default;

TCustomMemoStyler::~TCustomMemoStyler() {
    // Copy first: a notified editor may detach itself while we walk the list.
    auto notifies = std::move(FFreeNotifies);
    for (auto& [client, notify] : notifies)
        if (notify) notify(*this);
}

bool TCustomMemoStyler::IsDelimiterChar(char c) const {
    for (const TElementStyle& s : AllStyles) {
        if (s.StyleType == stSymbol && s.Symbols.find(c) != std::string::npos) return true;
        if (s.StyleType == stBracket && s.Bracket == c) return true;
    }
    return false;
}

void TCustomMemoStyler::AddFreeNotification(const void* client, TFreeNotify notify) {
    RemoveFreeNotification(client);
    FFreeNotifies.emplace_back(client, std::move(notify));
}

void TCustomMemoStyler::RemoveFreeNotification(const void* client) {
    std::erase_if(FFreeNotifies, [client](const auto& entry) { return entry.first == client; });
}

TWebMemoStyler::TWebMemoStyler() {
    Name = "WebMemoStyler1";
    LineComment = "//";
    MultiCommentLeft = "<!--";
    MultiCommentRight = "-->";
    CommentStyle = {clr::Silver, clr::White, fsItalic};
    NumberStyle = {clr::Navy, clr::White, fsBold};
    BlockStart = "{";
    BlockEnd = "}";
    AutoCompletion = {"alert", "confirm", "prompt"};
    HintParameter.Parameters = {"alert(message)", "confirm(message)", "prompt(message,defaultvalue)"};
    AllStyles.Add(KeywordStyle("Script Standard Default", clr::Fuchsia, fsBold, ScriptWords));
    AllStyles.Add(KeywordStyle("HTML Standard Default", clr::Fuchsia, fsBold, HtmlWords));
    AllStyles.Add(BracketStyle("Single Quote", '\'', clr::Green));
    AllStyles.Add(BracketStyle("Double Quote", '"', clr::Teal));
    AllStyles.Add(SymbolStyle("Symbols Delimiters", " ,;:.()[]=-*/^<>#\r\n", clr::Teal));
    AllStyles.Add(KeywordStyle("JavaScript Functions", clr::Green, fsBold, JavaScriptWords));
    AllStyles.Add(KeywordStyle("PHP Functions", clr::Olive, fsBold, PhpWords));
    AllStyles.Add(SymbolStyle("PHP Content", "<?>", clr::Black, clr::Lime));
    AllStyles.Add(SymbolStyle("ASP Java Server Pages", "<%>", clr::Black, clr::Yellow));
}

TPascalMemoStyler::TPascalMemoStyler() {
    Name = "PascalMemoStyler1";
    LineComment = "//";
    MultiCommentLeft = "{";
    MultiCommentRight = "}";
    CodeCommentAndNumberStyles(*this);
    HexIdentifier = "$";
    BlockStart = "begin";
    BlockEnd = "end";
    AutoCompletion = {"ShowMessage", "MessageDlg"};
    HintParameter.Parameters = {
        "ShowMessage(const Msg: string);",
        "MessageDlg(const Msg: string; DlgType: TMsgDlgType; Buttons: TMsgDlgButtons; "
        "HelpCtx: Longint): Integer);"};
    AllStyles.Add(KeywordStyle("Pascal Standard Default", clr::Green, fsBold, PascalWords));
    AllStyles.Add(BracketStyle("Simple Quote", '\'', clr::Blue));
    AllStyles.Add(BracketStyle("Double Quote", '"', clr::Blue));
    AllStyles.Add(SymbolStyle("Symbols Delimiters", " ,;:.(){}[]=-*/^%<>#\r\n", clr::Red));
}

TSQLMemoStyler::TSQLMemoStyler() {
    Name = "SQLMemoStyler1";
    LineComment = "//";
    MultiCommentLeft = "/*";
    MultiCommentRight = "*/";
    CodeCommentAndNumberStyles(*this);
    AutoCompletion = {"SELECT", "WHERE",  "ORDER BY",     "INSERT INTO",  "VALUES",     "UPDATE",
                      "SET",    "DELETE", "CREATE TABLE", "CREATE INDEX", "DROP TABLE", "DROP INDEX"};
    HintParameter.TextColor = clr::Red;
    HintParameter.BkColor = clr::Aqua;
    AllStyles.Add(KeywordStyle("SQL Standard Default", clr::Green, 0, SqlWords));
    AllStyles.Add(BracketStyle("Double Quote", '"', clr::Blue));
    AllStyles.Add(SymbolStyle("Symbols Delimiters", " ,;:.(){}[]=-*/^%<>#\r\n", clr::Teal));
}

TPerlMemoStyler::TPerlMemoStyler() {
    Name = "PerlMemoStyler1";
    LineComment = "#";
    MultiCommentLeft = "\"\"\"";
    MultiCommentRight = "\"\"\"";
    CodeCommentAndNumberStyles(*this);
    AllStyles.Add(KeywordStyle("Perl functions", clr::Green, fsBold, PerlWords));
    AllStyles.Add(BracketStyle("Simple Quote", '\'', clr::Blue));
    AllStyles.Add(BracketStyle("Double Quote", '"', clr::Blue));
    AllStyles.Add(SymbolStyle("Symbols Delimiters", " ,(){}[]-+*/=~!&|<>?:;.\r\n", clr::Red));
}

TCSharpMemoStyler::TCSharpMemoStyler() {
    Name = "JavaMemoStyler1";
    LineComment = "//";
    MultiCommentLeft = "/*";
    MultiCommentRight = "*/";
    CodeCommentAndNumberStyles(*this);
    HexIdentifier = "0x";
    EscapeChar = "\\";
    BlockStart = "{";
    BlockEnd = "}";
    AllStyles.Add(KeywordStyle("C# Standard Default", clr::Green, fsBold, CSharpWords));
    AllStyles.Add(KeywordStyle("C# Regions", clr::Blue, fsBold, CSharpRegionWords));
    AllStyles.Add(KeywordStyle("C# Conditional defines", clr::Navy, fsBold, CSharpDefineWords));
    AllStyles.Add(BracketStyle("Simple Quote", '\'', clr::Blue));
    AllStyles.Add(BracketStyle("Double Quote", '"', clr::Blue));
    // The caret is listed twice, as the language definition has it.
    AllStyles.Add(SymbolStyle("Symbols Delimiters", " ,;:.()[]=-*/^%&^<>|!~\r\n", clr::Red));
}

TBasicMemoStyler::TBasicMemoStyler() {
    Name = "BasicMemoStyler1";
    LineComment = "'";
    MultiCommentLeft = "{";
    MultiCommentRight = "}";
    CodeCommentAndNumberStyles(*this);
    HexIdentifier = "0x";
    AutoCompletion = {"ShowMessage", "MessageDlg"};
    HintParameter.Parameters = {
        "ShowMessage(string Msg)",
        "MessageDlg(string Msg; TMsgDlgType DlgType; TMsgDlgButtons Buttons; LongInt: HelpCtx)"};
    AllStyles.Add(KeywordStyle("Basic Standard Default", clr::Green, 0, BasicWords));
    AllStyles.Add(BracketStyle("Double Quote", '"', clr::Blue));
    AllStyles.Add(SymbolStyle("Symbols Delimiters", " ,;:.(){}[]=-*/^%<>#\r\n", clr::Teal));
}

const std::vector<std::string>& MemoStylerClassNames() {
    static const std::vector<std::string> names{"TWebMemoStyler",  "TPascalMemoStyler", "TSQLMemoStyler",
                                                "TPerlMemoStyler", "TCSharpMemoStyler", "TBasicMemoStyler"};
    return names;
}

std::unique_ptr<TCustomMemoStyler> CreateMemoStyler(std::string_view name) {
    using TFactory = std::unique_ptr<TCustomMemoStyler> (*)();
    static const struct {
        std::string_view ClassName, InstanceName;
        TFactory Create;
    } stylers[] = {
        {"TWebMemoStyler", "WebMemoStyler1", &Make<TWebMemoStyler>},
        {"TPascalMemoStyler", "PascalMemoStyler1", &Make<TPascalMemoStyler>},
        {"TSQLMemoStyler", "SQLMemoStyler1", &Make<TSQLMemoStyler>},
        {"TPerlMemoStyler", "PerlMemoStyler1", &Make<TPerlMemoStyler>},
        {"TCSharpMemoStyler", "JavaMemoStyler1", &Make<TCSharpMemoStyler>},
        {"TBasicMemoStyler", "BasicMemoStyler1", &Make<TBasicMemoStyler>},
    };
    for (const auto& s : stylers)
        if (SameText(name, s.ClassName) || SameText(name, s.InstanceName)) return s.Create();
    return nullptr;
}
