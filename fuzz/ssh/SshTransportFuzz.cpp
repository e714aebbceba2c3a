// Server bytes into a fresh client: identification, framing and every message before keys.
#include "ssh/SshClient.h"

#include <algorithm>

using namespace Varnello::Ssh;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TNvSSHClient client;
    client.Versions = qxSSH2;
    const uint8_t seed[] = {1};
    client.SeedRandom(seed, 1);
    size_t pos = 0;
    client.OnReceive = [&](TNvSSHClient*, uint8_t* buf, int max, int& written) {
        size_t n = std::min(size_t(max), size - pos);
        std::copy(data + pos, data + pos + n, buf);
        pos += n;
        written = int(n);
    };
    client.Open();
    for (int i = 0; i < 10000 && pos < size; ++i) client.ReceiveData();
    client.ReceiveData();
    return 0;
}
