#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "system/drivetable.h"
#include "text/utf8.h"

struct DriveTable::Impl {
    std::map<std::wstring, std::wstring> fileSystems;  // mount point -> file-system type
};

DriveTable::DriveTable() : impl_(std::make_unique<Impl>()) {}
DriveTable::~DriveTable() = default;
DriveTable::DriveTable(DriveTable&&) noexcept = default;
DriveTable& DriveTable::operator=(DriveTable&&) noexcept = default;

namespace {

const std::set<std::string> kFixed = {
    "ext2",   "ext3",     "ext4", "xfs",   "btrfs", "f2fs", "zfs",   "overlay", "jfs", "reiserfs",
    "nilfs2", "bcachefs", "vfat", "msdos", "exfat", "ntfs", "ntfs3", "hfsplus", "hfs", "ufs",
};
const std::set<std::string> kRemote = {
    "nfs",       "nfs4",        "cifs",           "smb3",        "smbfs",
    "ncpfs",     "9p",          "ceph",           "afs",         "lustre",
    "glusterfs", "fuse.sshfs",  "fuse.glusterfs", "fuse.rclone", "fuse.s3fs",
    "davfs",     "fuse.davfs2", "fuse.cephfs",
};
const std::set<std::string> kCdrom = {"iso9660", "udf"};
const std::set<std::string> kRam = {"tmpfs", "ramfs"};

// Mount points escape blanks, tabs, new lines and backslashes as \ooo.
std::string unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

// The kernel lists mount points as absolute paths in canonical form: "/" or separator-led
// components, none empty, "." or "..", and no zero byte. Anything else is damage, and would
// give a root that no path lies on.
bool isCanonicalMountPoint(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos)
        return false;
    if (path == "/")
        return true;
    size_t start = 1;
    for (;;) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part(path.data() + start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (end == path.size())
            return true;
        start = end + 1;
    }
}

bool isRemovable(const std::string& sysDevBlock, const std::string& device) {
    // A partition's flag is on its disk, one level up.
    for (const char* rel : {"/removable", "/../removable"}) {
        std::ifstream in(sysDevBlock + "/" + device + rel);
        char c = 0;
        if (in.get(c))
            return c == '1';
    }
    return false;
}

uint32_t typeBitOf(const std::string& fsType, const std::string& device,
                   const std::string& sysDevBlock) {
    if (kFixed.count(fsType)) {
        return isRemovable(sysDevBlock, device) ? DRIVE_TYPE_REMOVABLE : DRIVE_TYPE_FIXED;
    }
    if (kRemote.count(fsType))
        return DRIVE_TYPE_REMOTE;
    if (kCdrom.count(fsType))
        return DRIVE_TYPE_CDROM;
    if (kRam.count(fsType))
        return DRIVE_TYPE_RAMDISK;
    return 0;
}

}  // namespace

bool DriveTable::load(DriveTable& table, size_t* rootsChars, const DriveSource& source) {
    table.entries_.clear();
    table.impl_->fileSystems.clear();
    std::ifstream in(utf8::fromWide(source.mountInfo));
    if (!in)
        return false;
    const std::string sysDevBlock = utf8::fromWide(source.sysDevBlock);

    // mountinfo: id parent major:minor root mountpoint options [optional...] - type source ...
    // A mount point listed twice is covered by the later mount.
    std::map<std::wstring, DriveEntry> byPoint;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point, word;
        if (!(fields >> id >> parent >> device >> root >> point))
            continue;
        while (fields >> word && word != "-") {
        }
        std::string fsType;
        if (word != "-" || !(fields >> fsType))
            continue;
        const std::string path = unescape(point);
        if (!isCanonicalMountPoint(path))
            continue;
        const std::wstring mountPoint = utf8::toWide(path);
        byPoint[mountPoint] = DriveEntry{mountPoint, typeBitOf(fsType, device, sysDevBlock)};
        table.impl_->fileSystems[mountPoint] = utf8::toWide(fsType);
    }
    size_t chars = 1;
    for (auto& [point, entry] : byPoint) {
        chars += point.size() + 1;
        table.entries_.push_back(std::move(entry));
    }
    if (rootsChars)
        *rootsChars = chars;
    return true;
}

std::optional<std::wstring> DriveTable::fileSystemName(const DriveEntry& entry) const {
    auto it = impl_->fileSystems.find(entry.root);
    if (it == impl_->fileSystems.end())
        return std::nullopt;
    return it->second;
}
