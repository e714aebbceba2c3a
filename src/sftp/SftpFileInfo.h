// Directory entries and file attributes as SFTP version 3 carries them
// (draft-ietf-secsh-filexfer-02, section 5).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Varnello::Ssh {
class TSshReader;
class TSshWriter;
} // namespace Varnello::Ssh

namespace Varnello::Sftp {

enum TNvSftpAttribute : uint8_t {
    AttrSize,
    AttrUID,
    AttrGID,
    AttrPermissions,
    AttrATime,
    AttrMTime,
    AttrExtended
};

class TNvSftpFileAttributes {
public:
    int64_t Size = 0;
    uint32_t UID = 0;
    uint32_t GID = 0;
    uint32_t Permissions = 0;
    uint32_t ATime = 0;
    uint32_t MTime = 0;
    uint8_t IncludedAttributes = 0; // one bit per TNvSftpAttribute
    uint32_t ExtendedCount = 0;
    std::vector<std::pair<std::string, std::string>> ExtendedAttributes;

    bool Includes(TNvSftpAttribute a) const { return IncludedAttributes & (1u << a); }
    void Include(TNvSftpAttribute a) { IncludedAttributes = uint8_t(IncludedAttributes | (1u << a)); }
    void Exclude(TNvSftpAttribute a) { IncludedAttributes = uint8_t(IncludedAttributes & ~(1u << a)); }

    bool IsDirectory() const { return Permissions & 0x4000; }
    bool UserRead() const { return Permissions & 0x100; }
    bool UserWrite() const { return Permissions & 0x080; }
    bool UserExecute() const { return Permissions & 0x040; }
    bool GroupRead() const { return Permissions & 0x020; }
    bool GroupWrite() const { return Permissions & 0x010; }
    bool GroupExecute() const { return Permissions & 0x008; }
    bool OtherRead() const { return Permissions & 0x004; }
    bool OtherWrite() const { return Permissions & 0x002; }
    bool OtherExecute() const { return Permissions & 0x001; }

    // A calendar date-time counts days since 1899-12-30 (1970-01-01 is 25569.0); stored as Unix
    // seconds rounded to the nearest, ties to even. Values outside 32 bits are clamped.
    void SetATimeFromDateTime(double dateTime) { ATime = DateTimeToUnix(dateTime); }
    void SetMTimeFromDateTime(double dateTime) { MTime = DateTimeToUnix(dateTime); }
    static uint32_t DateTimeToUnix(double dateTime);

    // The version 3 block; extended pairs are never sent.
    void Encode(Ssh::TSshWriter& w) const;
    // Reads one block at the reader's position; throws "Invalid size" when a field is missing.
    // Returns the number of bytes consumed.
    size_t Decode(Ssh::TSshReader& r);
};

class TNvSftpFileInfo {
public:
    std::string Name;
    std::string LongName;
    TNvSftpFileAttributes Attributes;

    // Name, long name and the attribute values; the extended pairs stay behind.
    void CopyTo(TNvSftpFileInfo& target) const;
};

} // namespace Varnello::Sftp
