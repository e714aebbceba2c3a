#include "sftp/SftpFileInfo.h"

#include "ssh/SshWire.h"

#include <cmath>

namespace Varnello::Sftp {

namespace {
constexpr uint32_t FlagSize = 0x00000001;
constexpr uint32_t FlagUidGid = 0x00000002;
constexpr uint32_t FlagPermissions = 0x00000004;
constexpr uint32_t FlagACModTime = 0x00000008;
constexpr uint32_t FlagExtended = 0x80000000;
} // namespace

uint32_t TNvSftpFileAttributes::DateTimeToUnix(double dateTime) {
    double seconds = std::nearbyint((dateTime - 25569.0) * 86400.0); // default rounding: ties to even
    if (!(seconds >= 0.0)) return 0;
    if (seconds > 4294967295.0) return 0xFFFFFFFFu;
    return uint32_t(seconds);
}

void TNvSftpFileAttributes::Encode(Ssh::TSshWriter& w) const {
    uint32_t flags = 0;
    if (Includes(AttrSize)) flags |= FlagSize;
    if (Includes(AttrUID) || Includes(AttrGID)) flags |= FlagUidGid;
    if (Includes(AttrPermissions)) flags |= FlagPermissions;
    if (Includes(AttrATime) || Includes(AttrMTime)) flags |= FlagACModTime;
    w.Uint32(flags);
    if (flags & FlagSize) w.Uint64(uint64_t(Size));
    if (flags & FlagUidGid) w.Uint32(UID).Uint32(GID);
    if (flags & FlagPermissions) w.Uint32(Permissions);
    if (flags & FlagACModTime) w.Uint32(ATime).Uint32(MTime);
}

size_t TNvSftpFileAttributes::Decode(Ssh::TSshReader& r) {
    const size_t start = r.Position();
    IncludedAttributes = 0;
    ExtendedAttributes.clear();
    ExtendedCount = 0;
    uint32_t flags = r.Uint32();
    if (flags & FlagSize) {
        Size = int64_t(r.Uint64());
        Include(AttrSize);
    }
    if (flags & FlagUidGid) {
        UID = r.Uint32();
        GID = r.Uint32();
        Include(AttrUID);
        Include(AttrGID);
    }
    if (flags & FlagPermissions) {
        Permissions = r.Uint32();
        Include(AttrPermissions);
    }
    if (flags & FlagACModTime) {
        ATime = r.Uint32();
        MTime = r.Uint32();
        Include(AttrATime);
        Include(AttrMTime);
    }
    if (flags & FlagExtended) {
        Include(AttrExtended);
        ExtendedCount = r.Uint32();
        // Every pair takes at least 8 bytes, so the count is bounded by what the reply holds.
        for (uint32_t i = 0; i < ExtendedCount; ++i) {
            std::string type = r.String();
            std::string data = r.String();
            ExtendedAttributes.emplace_back(std::move(type), std::move(data));
        }
    }
    return r.Position() - start;
}

void TNvSftpFileInfo::CopyTo(TNvSftpFileInfo& target) const {
    target.Name = Name;
    target.LongName = LongName;
    target.Attributes.Size = Attributes.Size;
    target.Attributes.UID = Attributes.UID;
    target.Attributes.GID = Attributes.GID;
    target.Attributes.Permissions = Attributes.Permissions;
    target.Attributes.ATime = Attributes.ATime;
    target.Attributes.MTime = Attributes.MTime;
    target.Attributes.IncludedAttributes = Attributes.IncludedAttributes;
}

} // namespace Varnello::Sftp
