// Whole directory listings in both forms (MLSD facts and LIST lines).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "ftp/inet/FtpList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (bool mlsd : {false, true}) {
        for (const TWin32FindData& record : ParseListing(text, mlsd, 1718452800)) {
            // Every record must carry a terminated, non-empty name without NUL inside.
            std::size_t n = strnlen(record.cFileName, MAX_PATH);
            if (n == 0 || n == MAX_PATH) __builtin_trap();
        }
    }
    return 0;
}
