// Cipher contexts: one small class per algorithm and mode over the block functions, sharing the
// block-length rules through TBlockContext.
#include "ssh/crypto/CipherSuite.h"

#include "ssh/crypto/Aes.h"
#include "ssh/crypto/Blowfish.h"
#include "ssh/crypto/Cast128.h"
#include "ssh/crypto/Des.h"
#include "ssh/crypto/Idea.h"
#include "ssh/crypto/Rc4.h"
#include "ssh/crypto/Serpent.h"
#include "ssh/crypto/Twofish.h"

#include <cstring>
#include <vector>

namespace Varnello::Crypto {

namespace {

constexpr const char* OutputTooSmall = "Output buffer too small";

inline void Wipe(void* p, size_t n) {
    volatile uint8_t* b = static_cast<volatile uint8_t*>(p);
    while (n--) *b++ = 0;
}

// Length rules of a block cipher context. Either the incomplete tail is held for the next call
// (SizeError == nullptr) or a length that is not a whole number of blocks is refused.
class TBlockContext : public TNvCipher {
public:
    TBlockContext(size_t block, const char* sizeError, const char* outError)
        : FBlock(block), FSizeError(sizeError), FOutError(outError) {}
    ~TBlockContext() override {
        Wipe(FHeld, sizeof(FHeld));
        Wipe(FIv, sizeof(FIv));
    }

    size_t BlockSize() const override { return FBlock; }

    size_t Process(const uint8_t* in, size_t len, uint8_t* out, size_t outSize) override {
        if (FSizeError) {
            if (len % FBlock) throw ENvCipherError(FSizeError);
            if (outSize < len) throw ENvCipherError(FOutError);
            Blocks(in, out, len / FBlock);
            return len;
        }
        const size_t total = FHeldLen + len;
        const size_t produce = total - total % FBlock;
        if (outSize < produce) throw ENvCipherError(FOutError);
        const size_t tail = total - produce;
        if (FHeldLen == 0) {
            uint8_t keep[16];
            std::memcpy(keep, in + produce, tail);
            Blocks(in, out, produce / FBlock);
            std::memcpy(FHeld, keep, tail);
        } else {
            // Held bytes shift the data against the block grid; work from a copy so that an
            // in-place call cannot overwrite input it has not read yet.
            std::vector<uint8_t> joined(total);
            std::memcpy(joined.data(), FHeld, FHeldLen);
            std::memcpy(joined.data() + FHeldLen, in, len);
            Blocks(joined.data(), out, produce / FBlock);
            std::memcpy(FHeld, joined.data() + produce, tail);
            Wipe(joined.data(), joined.size());
        }
        FHeldLen = tail;
        return produce;
    }

protected:
    virtual void Blocks(const uint8_t* in, uint8_t* out, size_t blocks) = 0;

    uint8_t FIv[16] = {};

private:
    size_t FBlock;
    const char* FSizeError;
    const char* FOutError;
    uint8_t FHeld[16] = {};
    size_t FHeldLen = 0;
};

// ---- protocol 2 contexts -------------------------------------------------------------------------

// CBC over one algorithm's chaining functions; the factory sets the key up.
template <class TKey, auto Encrypt, auto Decrypt> class TCbcContext : public TBlockContext {
public:
    TCbcContext(bool encrypt, size_t block, const char* sizeError, const char* outError, const uint8_t* iv)
        : TBlockContext(block, sizeError, outError), FEncrypt(encrypt) {
        std::memcpy(FIv, iv, block);
    }
    TKey Key;

protected:
    void Blocks(const uint8_t* in, uint8_t* out, size_t n) override {
        if (FEncrypt)
            Encrypt(Key, FIv, in, out, n);
        else
            Decrypt(Key, FIv, in, out, n);
    }

private:
    bool FEncrypt;
};

using TAesCbc = TCbcContext<TAesKey, AesCbcEncrypt, AesCbcDecrypt>;
using TDesCbc = TCbcContext<TDesKey, DesCbcEncrypt, DesCbcDecrypt>;
using TDes3Cbc = TCbcContext<TDes3Key, Des3CbcEncrypt, Des3CbcDecrypt>;
using TTwofishCbc = TCbcContext<TTwofishKey, TwofishCbcEncrypt, TwofishCbcDecrypt>;
using TSerpentCbc = TCbcContext<TSerpentKey, SerpentCbcEncrypt, SerpentCbcDecrypt>;
using TCast128Cbc = TCbcContext<TCast128Key, Cast128CbcEncrypt, Cast128CbcDecrypt>;

class TBlowfishCbc : public TBlockContext {
public:
    TBlowfishCbc(bool encrypt, const uint8_t* key, size_t keyLen, const uint8_t* iv, bool littleEndianWords)
        : TBlockContext(8, "Invalid chunk size", OutputTooSmall), FEncrypt(encrypt),
          FLittle(littleEndianWords) {
        FKey.SetKey(key, keyLen);
        std::memcpy(FIv, iv, 8);
    }

protected:
    void Blocks(const uint8_t* in, uint8_t* out, size_t n) override {
        if (FEncrypt)
            BlowfishCbcEncrypt(FKey, FIv, in, out, n, FLittle);
        else
            BlowfishCbcDecrypt(FKey, FIv, in, out, n, FLittle);
    }

private:
    TBlowfishKey FKey;
    bool FEncrypt;
    bool FLittle;
};

// IDEA in CBC (protocol 2) or 64-bit CFB (protocol 1). CFB uses the encryption key both ways.
class TIdeaContext : public TBlockContext {
public:
    TIdeaContext(bool encrypt, bool cfb, const uint8_t* key, const uint8_t* iv)
        : TBlockContext(8, nullptr, OutputTooSmall), FEncrypt(encrypt), FCfb(cfb) {
        if (encrypt || cfb)
            FKey.SetEncryptKey(key);
        else
            FKey.SetDecryptKey(key);
        std::memcpy(FIv, iv, 8);
    }

protected:
    void Blocks(const uint8_t* in, uint8_t* out, size_t n) override {
        if (FCfb) {
            if (FEncrypt)
                IdeaCfbEncrypt(FKey, FIv, in, out, n);
            else
                IdeaCfbDecrypt(FKey, FIv, in, out, n);
        } else {
            if (FEncrypt)
                IdeaCbcEncrypt(FKey, FIv, in, out, n);
            else
                IdeaCbcDecrypt(FKey, FIv, in, out, n);
        }
    }

private:
    TIdeaKey FKey;
    bool FEncrypt;
    bool FCfb;
};

class TRc4Context : public TNvCipher {
public:
    TRc4Context(const uint8_t* key, size_t len) { FRc4.SetKey(key, len); }
    size_t BlockSize() const override { return 8; }
    size_t Process(const uint8_t* in, size_t len, uint8_t* out, size_t outSize) override {
        if (outSize < len) throw ENvCipherError(OutputTooSmall);
        FRc4.Process(in, out, len);
        return len;
    }

private:
    TRc4 FRc4;
};

class TNoneContext : public TNvCipher {
public:
    size_t BlockSize() const override { return 1; }
    size_t Process(const uint8_t* in, size_t len, uint8_t* out, size_t outSize) override {
        if (outSize < len) throw ENvCipherError(OutputTooSmall);
        if (out != in) std::memmove(out, in, len);
        return len;
    }
};

// ---- protocol 1: three DES-CBC passes, each with its own chaining value ---------------------------

class TDes3Ssh1 : public TBlockContext {
public:
    TDes3Ssh1(bool encrypt, const uint8_t* key24)
        : TBlockContext(8, nullptr, OutputTooSmall), FEncrypt(encrypt) {
        for (int i = 0; i < 3; ++i) FKeys[i].SetKey(key24 + 8 * i);
    }
    ~TDes3Ssh1() override { Wipe(FIvs, sizeof(FIvs)); }

protected:
    void Blocks(const uint8_t* in, uint8_t* out, size_t n) override {
        if (FEncrypt) {
            DesCbcEncrypt(FKeys[0], FIvs[0], in, out, n);
            DesCbcDecrypt(FKeys[1], FIvs[1], out, out, n);
            DesCbcEncrypt(FKeys[2], FIvs[2], out, out, n);
        } else {
            DesCbcDecrypt(FKeys[2], FIvs[2], in, out, n);
            DesCbcEncrypt(FKeys[1], FIvs[1], out, out, n);
            DesCbcDecrypt(FKeys[0], FIvs[0], out, out, n);
        }
    }

private:
    TDesKey FKeys[3];
    uint8_t FIvs[3][8] = {};
    bool FEncrypt;
};

// ---- factories -----------------------------------------------------------------------------------

template <size_t KeyLen> std::unique_ptr<TNvCipher> MakeAes(bool e, const uint8_t* k, const uint8_t* iv) {
    auto c = std::make_unique<TAesCbc>(e, 16, nullptr, OutputTooSmall, iv);
    if (e)
        c->Key.SetEncryptKey(k, KeyLen);
    else
        c->Key.SetDecryptKey(k, KeyLen);
    return c;
}
template <size_t KeyLen> std::unique_ptr<TNvCipher> MakeTwofish(bool e, const uint8_t* k, const uint8_t* iv) {
    auto c = std::make_unique<TTwofishCbc>(e, 16, "The input size must be a multiple of cipher block size",
                                           OutputTooSmall, iv);
    c->Key.SetKey(k, KeyLen);
    return c;
}
template <size_t KeyLen> std::unique_ptr<TNvCipher> MakeSerpent(bool e, const uint8_t* k, const uint8_t* iv) {
    auto c = std::make_unique<TSerpentCbc>(e, 16, "Size must be a multiple of 16", OutputTooSmall, iv);
    c->Key.SetKey(k, KeyLen);
    return c;
}
std::unique_ptr<TNvCipher> Make3Des(bool e, const uint8_t* k, const uint8_t* iv) {
    auto c = std::make_unique<TDes3Cbc>(e, 8, nullptr, OutputTooSmall, iv);
    c->Key.SetKey(k);
    return c;
}
std::unique_ptr<TNvCipher> MakeBlowfish(bool e, const uint8_t* k, const uint8_t* iv) {
    return std::make_unique<TBlowfishCbc>(e, k, 16, iv, false);
}
std::unique_ptr<TNvCipher> MakeRc4(bool, const uint8_t* k, const uint8_t*) {
    return std::make_unique<TRc4Context>(k, 16);
}
std::unique_ptr<TNvCipher> MakeIdea(bool e, const uint8_t* k, const uint8_t* iv) {
    return std::make_unique<TIdeaContext>(e, false, k, iv);
}
std::unique_ptr<TNvCipher> MakeCast128(bool e, const uint8_t* k, const uint8_t* iv) {
    auto c = std::make_unique<TCast128Cbc>(e, 8, "Invalid input size", "Output buffer size too small", iv);
    c->Key.SetKey(k, 16);
    return c;
}
std::unique_ptr<TNvCipher> MakeNone(bool, const uint8_t*, const uint8_t*) {
    return std::make_unique<TNoneContext>();
}
std::unique_ptr<TNvCipher> MakeDes(bool e, const uint8_t* k, const uint8_t* iv) {
    auto c = std::make_unique<TDesCbc>(e, 8, nullptr, OutputTooSmall, iv);
    c->Key.SetKey(k);
    return c;
}

} // namespace

const TNvCipherInfo NvCiphers[NvCipherCount] = {
    {0, "3des-cbc", 24, 8, false, 3, Make3Des},
    {1, "blowfish-cbc", 16, 8, true, 6, MakeBlowfish},
    {2, "twofish256-cbc", 32, 16, true, -1, MakeTwofish<32>},
    {3, "twofish192-cbc", 24, 16, true, -1, MakeTwofish<24>},
    {4, "twofish128-cbc", 16, 16, true, -1, MakeTwofish<16>},
    {5, "aes256-cbc", 32, 16, true, -1, MakeAes<32>},
    {6, "aes192-cbc", 24, 16, true, -1, MakeAes<24>},
    {7, "aes128-cbc", 16, 16, true, -1, MakeAes<16>},
    {8, "serpent256-cbc", 32, 16, true, -1, MakeSerpent<32>},
    {9, "serpent192-cbc", 24, 16, true, -1, MakeSerpent<24>},
    {10, "serpent128-cbc", 16, 16, true, -1, MakeSerpent<16>},
    {11, "arcfour", 16, 8, true, 5, MakeRc4},
    {12, "idea-cbc", 16, 8, true, 1, MakeIdea},
    {13, "cast128-cbc", 16, 8, true, -1, MakeCast128},
    {14, "none", 0, 0, true, 0, MakeNone},
    // Offered with real DES-CBC attached; left bare, packets under it would travel in clear.
    {15, "des-cbc", 8, 8, true, 2, MakeDes},
};

const TNvCipherInfo* FindCipher(std::string_view name) {
    for (const auto& c : NvCiphers)
        if (name == c.Name) return &c;
    return nullptr;
}

std::unique_ptr<TNvCipher> CreateSsh1Cipher(int number, bool encrypt, const uint8_t* sessionKey32) {
    static const uint8_t zeroIv[8] = {};
    switch (number) {
    case 0:
        return std::make_unique<TNoneContext>();
    case 1:
        return std::make_unique<TIdeaContext>(encrypt, true, sessionKey32, zeroIv);
    case 2:
        return MakeDes(encrypt, sessionKey32, zeroIv);
    case 3:
        return std::make_unique<TDes3Ssh1>(encrypt, sessionKey32);
    case 5:
        // Server-to-client (our decryption) uses bytes 0..15, client-to-server bytes 16..31.
        return std::make_unique<TRc4Context>(sessionKey32 + (encrypt ? 16 : 0), 16);
    case 6:
        return std::make_unique<TBlowfishCbc>(encrypt, sessionKey32, 32, zeroIv, true);
    default:
        return nullptr;
    }
}

} // namespace Varnello::Crypto
