// Server bytes into a protocol 1.5 client: framing, the session key exchange and every message.
//
// The first input byte chooses the start. Odd: the raw stream after the identification, so the
// framing and the public key message are fuzzed. Even: a valid public key message offering only
// the "none" cipher comes first, so the rest reaches the states after the session key (replies
// by last type sent, authentication, the session messages) with encryption on.
#include "ssh/Ssh1.h"
#include "ssh/SshClient.h"
#include "ssh/crypto/BigInt.h"

#include <algorithm>

using namespace Varnello::Ssh;
using Varnello::Crypto::TBigInt;

namespace {
constexpr const char* ServerN =
    "b18f47985f245a3609e899af24b95d62311f5bcd61b00cf3a7b3d855506226cea8bdfa0e3cd9d78ee0216a19294e1f329461ad78"
    "1ea9dcdb63c549d164937245b9fe0d68daf535cb2d49041849eaad2e4f37be307c4411039b5c144e0bd5c2fb2b4aeb6eb9aa7233"
    "0fb8da333891dd0f8a1cf79020bbdf0d27c0a9a70a8c9f57";
constexpr const char* HostN =
    "9a07ad5826b618e28b13cdce8d3808439d254fc17f9c3f4a724c6d83dbd3ca5c69a9c1c1f804ab265867e8a1641bcb122344c066"
    "bc2f09b6f2f29e4e8249b4f2bdf3de0905b1b4839e7f40b6714e59bcc5d7697b5ed33a400f6061463101c0ad9d43fd066548adfa"
    "88019c06bfdd3c4678aa1a230ab3ba1e296419c474d0875d66545bf9094192bff65aefc9ac7750dc41109534a0d6a87835f98323"
    "c0c08131";

TBytes PublicKeyPacket() {
    TSshWriter w;
    w.Byte(2);
    for (int i = 0; i < 8; ++i) w.Byte(uint8_t(i));
    for (const char* n : {ServerN, HostN}) {
        const TBigInt v = TBigInt::FromHex(n);
        w.Uint32(uint32_t(v.BitCount()));
        WriteSsh1Mpint(w, TBigInt::FromUint(65537).ToMinimalBytes());
        WriteSsh1Mpint(w, v.ToMinimalBytes());
    }
    w.Uint32(0).Uint32(1).Uint32(1u << 3 | 1u << 2 | 1u << 1 | 1u << 4);
    return FrameSsh1Packet(w.Data(), nullptr);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const TBytes publicKey = PublicKeyPacket();
    TBytes input;
    const std::string line = "SSH-1.5-Fuzz\n";
    input.insert(input.end(), line.begin(), line.end());
    if ((data[0] & 1) == 0) input.insert(input.end(), publicKey.begin(), publicKey.end());
    input.insert(input.end(), data + 1, data + size);

    TNvSSHClient client;
    client.Versions = qxSSH1;
    client.AuthenticationTypes = 0xF;
    client.UserName = "user";
    client.Password = "pw";
    const uint8_t seed[] = {1};
    client.SeedRandom(seed, 1);
    TNvSSHTunnelList list;
    TNvShellSSHTunnel shell;
    TNvRemotePortForwardSSHTunnel forward;
    shell.SetTunnelList(&list);
    forward.SetTunnelList(&list);
    client.SetTunnelList(&list);
    size_t pos = 0;
    client.OnReceive = [&](TNvSSHClient*, uint8_t* buf, int max, int& written) {
        const size_t n = std::min(size_t(max), input.size() - pos);
        std::copy(input.data() + pos, input.data() + pos + n, buf);
        pos += n;
        written = int(n);
    };
    client.Open();
    for (int i = 0; i < 10000 && pos < input.size(); ++i) client.ReceiveData();
    client.ReceiveData();
    client.SetTunnelList(nullptr);
    return 0;
}
