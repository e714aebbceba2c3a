// RC4-based generator: keying, seeding from the OS and output.
#include "ssh/crypto/Random.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/ConstTime.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/random.h>
#include <unistd.h>

namespace Varnello::Crypto {

namespace {

// getrandom may be interrupted or return short reads; /dev/urandom covers kernels without it.
void ReadEntropy(uint8_t* out, size_t len) {
    size_t done = 0;
    while (done < len) {
        ssize_t n = getrandom(out + done, len - done, 0);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (done == len) return;
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("No source of random numbers available");
    while (done < len) {
        ssize_t n = read(fd, out + done, len - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            close(fd);
            throw std::runtime_error("No source of random numbers available");
        }
    }
    close(fd);
}

} // namespace

TRandom::~TRandom() {
    SecureWipe(FS, sizeof(FS));
}

void TRandom::Schedule(const uint8_t* key, size_t len) {
    for (int i = 0; i < 256; ++i) FS[i] = uint8_t(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = uint8_t(j + FS[i] + key[size_t(i) % len]);
        uint8_t t = FS[i];
        FS[i] = FS[j];
        FS[j] = t;
    }
    FI = 0;
    FJ = 0;
    for (size_t i = 0; i < DroppedBytes; ++i) Step();
    FSeeded = true;
}

void TRandom::Seed() {
    uint8_t key[KeyBytes];
    ReadEntropy(key, sizeof(key));
    Schedule(key, sizeof(key));
    SecureWipe(key, sizeof(key));
}

void TRandom::SeedWith(const uint8_t* key, size_t len) {
    if (len == 0 || len > KeyBytes) throw std::invalid_argument("Random seed must be 1 to 256 bytes");
    Schedule(key, len);
}

uint8_t TRandom::NextByte() {
    if (!FSeeded) Seed();
    return Step();
}

void TRandom::Fill(uint8_t* out, size_t len) {
    if (!FSeeded) Seed();
    for (size_t i = 0; i < len; ++i) out[i] = Step();
}

uint32_t TRandom::NextUint32() {
    uint8_t b[4];
    Fill(b, 4);
    return LoadBe32(b);
}

TRandom& TRandom::Shared() {
    thread_local TRandom shared;
    return shared;
}

} // namespace Varnello::Crypto
