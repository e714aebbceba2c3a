// Bytes into the packet layer with inbound keys in use, for each framing: block cipher with MAC,
// encrypt-then-MAC, AES-GCM and ChaCha20-Poly1305. The first byte picks the framing.
#include "ssh/SshError.h"
#include "ssh/SshPacketLayer.h"

#include <algorithm>

using namespace Varnello::Ssh;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const char* const pairs[][2] = {{"aes128-ctr", "hmac-sha2-256"},
                                           {"aes128-cbc", "hmac-sha1-etm@openssh.com"},
                                           {"aes128-gcm@openssh.com", ""},
                                           {"chacha20-poly1305@openssh.com", ""}};
    const auto& pair = pairs[data[0] % 4];
    TDirectionKeys keys;
    keys.Cipher = FindCipherAlgorithm(pair[0]);
    keys.Mac = *pair[1] ? FindMacAlgorithm(pair[1]) : nullptr;
    keys.Compression = FindCompression(data[0] & 4 ? "zlib" : "none");
    keys.Key.assign(keys.Cipher->KeySize, 0x11);
    keys.Iv.assign(keys.Cipher->IvSize, 0x22);
    if (keys.Mac) keys.MacKey.assign(keys.Mac->KeyBytes, 0x33);
    TSshPacketLayer layer;
    layer.StartPackets();
    layer.SetInbound(keys);
    size_t pos = 1;
    try {
        for (int i = 0; i < 10000; ++i) {
            size_t n = std::min(layer.Wanted(), size - pos);
            std::copy(data + pos, data + pos + n, layer.InputSpace());
            layer.Append(n);
            pos += n;
            if (layer.Poll() == TSshPacketLayer::TUnit::uNone && n == 0) break;
        }
    } catch (const ENvSSHError&) {
    }
    return 0;
}
