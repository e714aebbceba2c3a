// Connection profiles from arbitrary bytes: reading either fails with the bounds error or yields
// five fields that write out and read back unchanged.
#include "VarnelloError.h"
#include "editor/ProfileFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TProfile profile;
    try {
        ParseProfile(std::string_view(reinterpret_cast<const char*>(data), size), profile);
    } catch (const EVarnelloError&) {
        return 0;
    }
    TProfile again;
    ParseProfile(FormatProfile(profile), again);
    if (again.Host != profile.Host || again.User != profile.User || again.Password != profile.Password ||
        again.ServerDir != profile.ServerDir || again.LocalDir != profile.LocalDir)
        __builtin_trap();
    return 0;
}
