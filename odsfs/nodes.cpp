// Files as inodes: numbers from file ids, a bounded cache of headers and
// attributes, stat, extended attributes and the volume's space.
#include "odsfs/nodes.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "diag/report.hpp"
#include "ods2/layout.hpp"
#include "ods2/volume.hpp"
#include "odsfs/cache.hpp"
#include "odsfs/content.hpp"

namespace odsfs {

mount_settings settings;

namespace {

// Files whose headers and attributes are kept; about 1.5 KiB each.
constexpr std::size_t NODE_CACHE_ENTRIES = 4096;
// The I/O size stat suggests: the kernel reads ahead this much at a time.
constexpr blksize_t PREFERRED_IO = blksize_t{128} * 1024;
constexpr std::uint64_t DIRECTORY_BIT = std::uint64_t{1} << 48;
// Set in the one file id whose number would otherwise be the root's.
constexpr std::uint64_t NOT_ROOT_BIT = std::uint64_t{1} << 49;
constexpr std::uint64_t NUMBER_MASK = 0xFFFFFF;
// The read bit of each protection nibble; a set bit denies.
constexpr unsigned PROT_READ_BIT = 1;
constexpr unsigned OWNER_SHIFT = 4, GROUP_SHIFT = 8, WORLD_SHIFT = 12;

bounded_cache<std::uint64_t, node> nodes(NODE_CACHE_ENTRIES);
std::string subject;

struct volume_space {
    std::uint64_t blocks = 0;
    std::uint64_t free_blocks = 0;
} space;

std::string fallback_spec(const node& n)
{
    std::string s = "file " + std::to_string(n.header.file_number);
    if (n.attributes.ident_known && n.attributes.name_length > 0)
        s += " (" + std::string(n.attributes.name, n.attributes.name_length) + ")";
    return s;
}

bool load_node(std::uint64_t inode, const std::string& spec, node& n)
{
    n.inode = inode;
    n.directory = inode == ROOT_INODE || inode_is_directory(inode);
    if (inode == ROOT_INODE) {
        n.header = volume.mfd_header;
        n.spec = "[000000]";
    } else {
        const auto number = static_cast<std::uint32_t>(inode & NUMBER_MASK);
        n.spec = spec.empty() ? "file " + std::to_string(number) : spec;
        report_about(n.spec);
        if (!read_file_header(number, n.header))
            return false;
    }
    read_file_attributes(n.header, n.attributes);
    if (inode != ROOT_INODE && spec.empty())
        n.spec = fallback_spec(n);
    n.text = settings.text && !n.directory && read_as_text(n.attributes);
    n.size = n.attributes.size_bytes;
    report_about(n.spec);
    return !n.text || converted_size(n, n.size);
}

mode_t permission_bits(std::uint16_t protection, bool directory)
{
    const mode_t read_mode = directory ? 05 : 04;
    mode_t mode = 0;
    if ((protection >> OWNER_SHIFT & PROT_READ_BIT) == 0)
        mode |= read_mode << 6;
    if ((protection >> GROUP_SHIFT & PROT_READ_BIT) == 0)
        mode |= read_mode << 3;
    if ((protection >> WORLD_SHIFT & PROT_READ_BIT) == 0)
        mode |= read_mode;
    return mode;
}

struct timespec time_of(const vms_time& t)
{
    struct timespec ts {};
    if (t.known) {
        ts.tv_sec = static_cast<time_t>(t.unix_seconds);
        ts.tv_nsec = static_cast<long>(t.nanoseconds);
    }
    return ts;
}

std::string text_of_fid(const file_id& fid)
{
    return "(" + std::to_string(fid.number) + "," + std::to_string(fid.sequence) + "," +
           std::to_string(fid.rvn) + ")";
}

std::string text_of_time(const vms_time& t)
{
    char text[TIME_TEXT];
    format_time(t, text);
    return text;
}

constexpr const char* ATTRIBUTE_NAMES[] = {
    "user.vms.fileid",  "user.vms.owner",   "user.vms.protection",
    "user.vms.recfmt",  "user.vms.created", "user.vms.revised",
    "user.vms.expires", "user.vms.backup",  "user.vms.revisions",
};

// Counts the set bits of the storage bitmap for the device's clusters.
bool count_free_clusters(std::uint64_t clusters, std::uint64_t& free_clusters)
{
    file_header bitmap;
    report_about("[000000]BITMAP.SYS;1");
    if (!read_file_header(BITMAP_FILE_NUMBER, bitmap))
        return false;
    constexpr std::size_t RUN = 64;
    constexpr std::uint64_t BITS_PER_BLOCK = BLOCK_SIZE * 8;
    std::vector<std::uint8_t> buffer(RUN * BLOCK_SIZE);
    map_cursor cursor;
    const std::uint64_t blocks = (clusters + BITS_PER_BLOCK - 1) / BITS_PER_BLOCK;
    std::uint64_t counted = 0; // clusters looked at
    free_clusters = 0;
    for (std::uint64_t done = 0; done < blocks;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(RUN, blocks - done));
        const std::size_t got = read_vblocks(BITMAP_FIRST_VBN + static_cast<std::int64_t>(done),
                                             want, buffer.data(), bitmap, cursor);
        if (got == 0)
            return false;
        for (std::size_t i = 0; i < got * BLOCK_SIZE && counted < clusters; ++i) {
            const std::uint64_t bits = std::min<std::uint64_t>(8, clusters - counted);
            const auto mask = static_cast<unsigned>((1u << bits) - 1);
            free_clusters += static_cast<unsigned>(std::popcount(buffer[i] & mask));
            counted += bits;
        }
        done += got;
    }
    return true;
}

} // namespace

std::uint64_t inode_of(const file_id& fid, bool directory)
{
    std::uint64_t inode = std::uint64_t{fid.number} | std::uint64_t{fid.sequence} << 24 |
                          std::uint64_t{fid.rvn} << 40 | (directory ? DIRECTORY_BIT : 0);
    return inode == ROOT_INODE ? inode | NOT_ROOT_BIT : inode;
}

bool inode_is_directory(std::uint64_t inode)
{
    return (inode & DIRECTORY_BIT) != 0;
}

node* find_node(std::uint64_t inode, const std::string& spec)
{
    if (node* held = nodes.find(inode))
        return held;
    node n;
    if (!load_node(inode, spec, n))
        return nullptr;
    return &nodes.put(inode, std::move(n));
}

void report_about(const std::string& spec)
{
    subject = "odsfs: " + spec;
    set_report_subject(subject.c_str());
}

void fill_stat(const node& n, struct stat& st)
{
    st = {};
    st.st_ino = n.inode;
    st.st_mode =
        (n.directory ? S_IFDIR : S_IFREG) | permission_bits(n.attributes.protection, n.directory);
    st.st_nlink = n.directory ? 2 : 1;
    st.st_uid = settings.uid;
    st.st_gid = settings.gid;
    st.st_size = static_cast<off_t>(n.size);
    st.st_blocks = static_cast<blkcnt_t>(n.attributes.highest_block);
    st.st_blksize = PREFERRED_IO; // the buffer cp and cat take; a larger one costs them per file
    const vms_time& modified =
        n.attributes.revised.known ? n.attributes.revised : n.attributes.created;
    st.st_mtim = time_of(modified);
    st.st_ctim = st.st_mtim;
    st.st_atim = settings.mount_time;
}

bool vms_attribute(const node& n, const char* name, std::string& value)
{
    const file_attributes& a = n.attributes;
    const std::string key = name;
    if (key == "user.vms.fileid") {
        value = text_of_fid(a.fid);
    } else if (key == "user.vms.owner") {
        char text[UIC_TEXT];
        format_uic(a.owner, text);
        value = text;
    } else if (key == "user.vms.protection") {
        char text[PROTECTION_TEXT];
        format_protection(a.protection, text);
        value = text;
    } else if (key == "user.vms.recfmt") {
        char text[RECORD_FORMAT_TEXT];
        format_record_format(a, text);
        value = text;
    } else if (key == "user.vms.created") {
        value = text_of_time(a.created);
    } else if (key == "user.vms.revised") {
        value = text_of_time(a.revised);
    } else if (key == "user.vms.expires") {
        value = text_of_time(a.expires);
    } else if (key == "user.vms.backup") {
        value = text_of_time(a.backup);
    } else if (key == "user.vms.revisions") {
        value = std::to_string(a.revision_count);
    } else {
        return false;
    }
    return true;
}

std::string vms_attribute_names()
{
    std::string names;
    for (const char* name : ATTRIBUTE_NAMES) {
        names += name;
        names += '\0';
    }
    return names;
}

void measure_volume()
{
    const std::uint16_t cluster = get_u16_le(volume.home.bytes, HB_CLUSTER);
    space.blocks = volume.device_blocks;
    space.free_blocks = 0;
    if (cluster == 0 || space.blocks == 0)
        return;
    const std::uint64_t clusters = (space.blocks + cluster - 1) / cluster;
    std::uint64_t free_clusters = 0;
    if (count_free_clusters(clusters, free_clusters))
        space.free_blocks = std::min(space.blocks, free_clusters * cluster);
}

void fill_statvfs(struct statvfs& st)
{
    st = {};
    st.f_bsize = BLOCK_SIZE;
    st.f_frsize = BLOCK_SIZE;
    st.f_blocks = space.blocks;
    st.f_bfree = space.free_blocks;
    st.f_bavail = space.free_blocks;
    st.f_namemax = 255;
    st.f_flag = ST_RDONLY;
}

} // namespace odsfs
