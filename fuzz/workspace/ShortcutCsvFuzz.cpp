// Snippet tables from arbitrary bytes: one row per line, and no field longer than its line.
#include "editor/ShortcutCsv.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> lines = SplitCsvLines(text);
    TCsvTable table = ParseShortcutCsv(text);
    if (table.size() != lines.size()) __builtin_trap();
    for (size_t i = 0; i < table.size(); ++i)
        for (const std::string& field : table[i])
            if (field.size() > 2 * lines[i].size()) __builtin_trap(); // LF may become CR LF, no more
    return 0;
}
