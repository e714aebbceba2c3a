// The MAC table of the transport, as data: identifier, key bytes, MAC bytes, enabled flag, factory.
//
// Negotiation walks MacTable(); nothing else spells the identifiers. A TMac is made per direction
// with the derived key and computes or checks HMAC(key, uint32 sequence number || packet),
// truncated to the table's MAC bytes (the -96 forms send and check the first 12 bytes).
// Verification compares in constant time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace Varnello::Crypto {

class TMac {
public:
    virtual ~TMac() = default;
    virtual size_t MacSize() const = 0;
    // Writes MacSize() bytes to mac.
    virtual void Compute(uint32_t sequence, const uint8_t* packet, size_t len, uint8_t* mac) = 0;
    // mac holds MacSize() bytes as received. "none" always succeeds.
    virtual bool Verify(uint32_t sequence, const uint8_t* packet, size_t len, const uint8_t* mac);
};

struct TMacInfo {
    std::string_view Name;
    size_t KeyBytes;
    size_t MacBytes;
    bool Enabled;
    // key holds KeyBytes bytes (may be null when KeyBytes is 0).
    std::unique_ptr<TMac> (*Create)(const uint8_t* key);
};

// In table order (the order of the client's offer).
std::span<const TMacInfo> MacTable();
// nullptr when the identifier is not in the table.
const TMacInfo* FindMac(std::string_view name);

} // namespace Varnello::Crypto
