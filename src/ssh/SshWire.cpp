// Bounds-checked reads and ceiling-checked writes of the SSH wire types.
#include "ssh/SshWire.h"

#include "ssh/crypto/BigInt.h"
#include "ssh/crypto/ByteOrder.h"

#include <cstring>

namespace Varnello::Ssh {

namespace {
[[noreturn]] void InvalidSize() {
    throw ENvSSHException("Invalid size");
}
} // namespace

void TSshReader::Need(size_t n) const {
    if (n > FLen - FPos) InvalidSize();
}

uint8_t TSshReader::Byte() {
    Need(1);
    return FData[FPos++];
}

bool TSshReader::Boolean() {
    if (AtEnd()) return false;
    return FData[FPos++] != 0;
}

uint32_t TSshReader::Uint32() {
    Need(4);
    uint32_t v = Crypto::LoadBe32(FData + FPos);
    FPos += 4;
    return v;
}

uint64_t TSshReader::Uint64() {
    Need(8);
    uint64_t v = Crypto::LoadBe64(FData + FPos);
    FPos += 8;
    return v;
}

std::string_view TSshReader::StringView() {
    Need(4);
    uint32_t len = Crypto::LoadBe32(FData + FPos);
    if (len > FLimit || len > FLen - FPos - 4) InvalidSize();
    FPos += 4;
    std::string_view s(reinterpret_cast<const char*>(FData + FPos), len);
    FPos += len;
    return s;
}

TBytes TSshReader::StringBytes() {
    std::string_view s = StringView();
    return TBytes(s.begin(), s.end());
}

TBytes TSshReader::Mpint() {
    std::string_view s = StringView();
    if (!s.empty() && s[0] == 0) s.remove_prefix(1);
    return TBytes(s.begin(), s.end());
}

Crypto::TBigInt TSshReader::MpintValue() {
    std::string_view s = StringView();
    if (!s.empty() && (static_cast<uint8_t>(s[0]) & 0x80)) InvalidSize(); // negative: never valid here
    try {
        return Crypto::TBigInt::FromBytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    } catch (const Crypto::EBigIntOverflow&) {
        InvalidSize();
    }
}

std::vector<std::string> TSshReader::NameList() {
    std::string_view s = StringView();
    std::vector<std::string> names;
    if (s.empty()) return names;
    size_t start = 0;
    for (;;) {
        size_t comma = s.find(',', start);
        if (comma == std::string_view::npos) {
            names.emplace_back(s.substr(start));
            break;
        }
        names.emplace_back(s.substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

const uint8_t* TSshReader::Raw(size_t n) {
    Need(n);
    const uint8_t* p = FData + FPos;
    FPos += n;
    return p;
}

void TSshReader::ExpectEnd() const {
    if (!AtEnd()) InvalidSize();
}

void TSshWriter::Reserve(size_t n) {
    if (n > FCeiling - FData.size()) throw ENvSSHException("Invalid size");
}

TSshWriter& TSshWriter::Byte(uint8_t v) {
    Reserve(1);
    FData.push_back(v);
    return *this;
}

TSshWriter& TSshWriter::Uint32(uint32_t v) {
    Reserve(4);
    uint8_t b[4];
    Crypto::StoreBe32(b, v);
    FData.insert(FData.end(), b, b + 4);
    return *this;
}

TSshWriter& TSshWriter::Uint64(uint64_t v) {
    Reserve(8);
    uint8_t b[8];
    Crypto::StoreBe64(b, v);
    FData.insert(FData.end(), b, b + 8);
    return *this;
}

TSshWriter& TSshWriter::String(const uint8_t* data, size_t len) {
    if (len > 0xFFFFFFFFu) throw ENvSSHException("Invalid size");
    Reserve(4);
    Reserve(4 + len);
    Uint32(static_cast<uint32_t>(len));
    if (len) FData.insert(FData.end(), data, data + len);
    return *this;
}

TSshWriter& TSshWriter::Mpint(const uint8_t* magnitude, size_t len) {
    while (len > 0 && *magnitude == 0) {
        ++magnitude;
        --len;
    }
    const bool pad = len > 0 && (magnitude[0] & 0x80);
    Reserve(4 + len + (pad ? 1 : 0));
    Uint32(static_cast<uint32_t>(len + (pad ? 1 : 0)));
    if (pad) FData.push_back(0);
    if (len) FData.insert(FData.end(), magnitude, magnitude + len);
    return *this;
}

TSshWriter& TSshWriter::Mpint(const Crypto::TBigInt& value) {
    TBytes m = value.ToMinimalBytes();
    return Mpint(m.data(), m.size());
}

TSshWriter& TSshWriter::NameList(const std::vector<std::string>& names) {
    return String(JoinNames(names));
}

TSshWriter& TSshWriter::Raw(const uint8_t* data, size_t len) {
    Reserve(len);
    if (len) FData.insert(FData.end(), data, data + len);
    return *this;
}

size_t TSshWriter::BeginLength() {
    size_t mark = FData.size();
    Uint32(0);
    return mark;
}

void TSshWriter::PatchLength(size_t mark) {
    Crypto::StoreBe32(FData.data() + mark, static_cast<uint32_t>(FData.size() - mark - 4));
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string s;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) s += ',';
        s += names[i];
    }
    return s;
}

} // namespace Varnello::Ssh
