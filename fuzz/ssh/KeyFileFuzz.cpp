// One private key file's text into the key-file reader. A passphrase is always offered, so the
// encrypted paths (bcrypt-pbkdf with its rounds bounded, DEK-Info ciphers) are reached too.
#include "ssh/KeyFile.h"

#include <string_view>

using namespace Varnello::Ssh;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TNvPassphraseEvent ask = [](const std::string&, int attempt, std::string& pass) {
        pass = "fuzz";
        return attempt < 2;
    };
    try {
        const TNvSSHKey key = ParsePrivateKey(text, "fuzz", ask);
        (void)PublicKeyBlob(key);
    } catch (const ENvKeyFileError&) {
    }
    return 0;
}
