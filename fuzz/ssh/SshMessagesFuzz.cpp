// One payload into one decoder: key exchange, user authentication, connection layer, key blobs
// and signatures. The first byte picks the decoder, the rest is the message.
#include "ssh/SshAuth.h"
#include "ssh/SshConnection.h"
#include "ssh/SshError.h"
#include "ssh/SshKex.h"
#include "ssh/SshKey.h"

using namespace Varnello::Ssh;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const TBytes payload(data + 1, data + size);
    Varnello::Crypto::TRandom rng;
    const uint8_t seed[] = {7};
    rng.SeedWith(seed, 1);
    try {
        switch (data[0] % 5) {
        case 0: {
            TSshKex kex;
            kex.Reset("SSH-2.0-a", "SSH-2.0-b");
            kex.OnSendPayload = [](const TBytes&) {};
            kex.Handle(payload);
            break;
        }
        case 1: {
            TSshAuth auth;
            auth.Reset();
            auth.AuthenticationTypes = 0xFF;
            auth.OnSendPayload = [](const TBytes&) {};
            TNvSSHMemoryKeyStorage storage;
            TNvSSHKey key;
            key.KeyType = TNvSSHKey::ktEd25519;
            key.Ed25519Seed.assign(32, 5);
            key.Ed25519PublicKey.assign(32, 6);
            storage.AddKey(key);
            auth.KeyStorage = &storage;
            const TBytes sid(32, 1);
            auth.Handle(payload, 5, sid, rng);
            break;
        }
        case 2: {
            TNvSSHTunnelList list;
            TNvSubsystemSSHTunnel sub;
            TNvRemotePortForwardSSHTunnel fwd;
            TSshConnectionLayer layer; // freed first, while its tunnels still exist
            fwd.Port = 80;
            list.Add(&sub);
            list.Add(&fwd);
            layer.TunnelList = &list;
            layer.Random = &rng;
            layer.OnSendPayload = [](const TBytes&) {};
            layer.OpenNextTunnel(0);
            layer.Handle(payload);
            break;
        }
        case 3: {
            TNvSSHKey key;
            KeyFromBlob(payload, key);
            break;
        }
        case 4: {
            TNvSSHKey key;
            key.KeyType = TNvSSHKey::ktRSA;
            key.RSAPublicExponent = {1, 0, 1};
            key.RSAModulus.assign(128, 0xC3);
            VerifySignature(key, "rsa-sha2-256", data, size, payload);
            break;
        }
        }
    } catch (const ENvSSHError&) {
    } catch (const ENvSSHException&) {
    }
    return 0;
}
