// ChaCha20 stream cipher (RFC 8439) in both nonce layouts.
//
// RFC 8439 splits the last four state words into a 32-bit block counter and a 96-bit nonce; the
// original layout, which "chacha20-poly1305@openssh.com" uses, has a 64-bit counter and a 64-bit
// nonce. One type serves both: the layout is fixed by the nonce setter. Bulk data runs sixteen
// blocks at a time on AVX-512, eight on AVX2, one block at a time otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

class TChaCha20 {
public:
    static constexpr size_t KeySize = 32;
    static constexpr size_t BlockSize = 64;

    TChaCha20() = default;
    ~TChaCha20();
    TChaCha20(const TChaCha20&) = default;
    TChaCha20& operator=(const TChaCha20&) = default;

    void SetKey(const uint8_t key[KeySize]);
    // RFC 8439 layout. The 32-bit counter wraps after 256 GiB; callers never go that far.
    void SetNonce96(const uint8_t nonce[12], uint32_t counter = 0);
    // Original layout: the counter carries into its high word.
    void SetNonce64(const uint8_t nonce[8], uint64_t counter = 0);

    // XORs the keystream over len bytes; consecutive calls continue the stream at any byte
    // position. in and out may be the same buffer.
    void Crypt(const uint8_t* in, uint8_t* out, size_t len);
    // Writes raw keystream (Crypt over zeros).
    void Keystream(uint8_t* out, size_t len);

private:
    void NextBlocks(uint8_t* out, size_t blocks);
    void Advance(uint64_t blocks);

    uint32_t FState[16] = {};
    bool FCounter64 = false;
    uint8_t FLeftover[BlockSize] = {}; // keystream of the block last cut short
    size_t FLeftoverPos = BlockSize;   // next unused byte of FLeftover
};

// The block function on a full state: 64 bytes of keystream. Exposed for the tests.
void ChaCha20Block(const uint32_t state[16], uint8_t out[64]);

} // namespace Varnello::Crypto
