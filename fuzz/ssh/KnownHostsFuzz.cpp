// One known_hosts file into the reader, checked for a fixed host and key: every line form,
// hashed entries, markers, the line-length bound.
#include "ssh/KnownHosts.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

using namespace Varnello::Ssh;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vrn-khfuzz-XXXXXX").string();
        const int fd = mkstemp(tmpl.data());
        if (fd >= 0) close(fd);
        return tmpl;
    }();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    // An ssh-ed25519 blob with a zero key.
    TBytes blob = {0, 0, 0, 11, 's', 's', 'h', '-', 'e', 'd', '2', '5', '5', '1', '9', 0, 0, 0, 32};
    blob.resize(blob.size() + 32);
    TNvKnownHosts hosts("", path);
    (void)hosts.Check("example.org", 2222, blob);
    (void)hosts.Check("example.org", 22, blob);
    if (size > 0) {
        // The field matcher on its own, with the input as the host field.
        const std::string_view field(reinterpret_cast<const char*>(data), size);
        (void)KnownHostsFieldMatches(field, "[example.org]:2222");
    }
    return 0;
}
