// The HMAC-based MACs of the table and the table itself.
#include "ssh/crypto/MacSuite.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/Hmac.h"
#include "ssh/crypto/Md5.h"
#include "ssh/crypto/Sha1.h"

#include <cstring>

namespace Varnello::Crypto {

bool TMac::Verify(uint32_t sequence, const uint8_t* packet, size_t len, const uint8_t* mac) {
    uint8_t expected[64];
    const size_t n = MacSize();
    if (n == 0) return true;
    Compute(sequence, packet, len, expected);
    const bool ok = ConstTimeEqual(expected, mac, n);
    SecureWipe(expected, sizeof(expected));
    return ok;
}

namespace {

template <class THash, size_t Truncated> class THmacMac : public TMac {
    static_assert(Truncated <= THash::DigestSize && THash::DigestSize <= 64);

public:
    THmacMac(const uint8_t* key, size_t keyLen) : FHmac(key, keyLen) {}
    size_t MacSize() const override { return Truncated; }
    void Compute(uint32_t sequence, const uint8_t* packet, size_t len, uint8_t* mac) override {
        uint8_t seq[4];
        StoreBe32(seq, sequence);
        FHmac.Update(seq, 4);
        FHmac.Update(packet, len);
        uint8_t full[THash::DigestSize];
        FHmac.Final(full);
        std::memcpy(mac, full, Truncated);
        SecureWipe(full, sizeof(full));
    }

private:
    THmac<THash> FHmac;
};

class TNoMac : public TMac {
public:
    size_t MacSize() const override { return 0; }
    void Compute(uint32_t, const uint8_t*, size_t, uint8_t*) override {}
};

template <class THash, size_t Truncated> std::unique_ptr<TMac> MakeHmac(const uint8_t* key) {
    return std::make_unique<THmacMac<THash, Truncated>>(key, THash::DigestSize);
}

std::unique_ptr<TMac> MakeNone(const uint8_t*) {
    return std::make_unique<TNoMac>();
}

const TMacInfo Table[] = {
    {"hmac-sha1", 20, 20, true, &MakeHmac<TSha1, 20>},
    {"hmac-sha1-96", 20, 12, true, &MakeHmac<TSha1, 12>},
    {"hmac-md5", 16, 16, true, &MakeHmac<TMd5, 16>},
    {"hmac-md5-96", 16, 12, true, &MakeHmac<TMd5, 12>},
    {"none", 0, 0, true, &MakeNone},
};

} // namespace

std::span<const TMacInfo> MacTable() {
    return Table;
}

const TMacInfo* FindMac(std::string_view name) {
    for (const TMacInfo& info : Table)
        if (info.Name == name) return &info;
    return nullptr;
}

} // namespace Varnello::Crypto
