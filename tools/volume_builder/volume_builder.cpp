// The volume builder's file table and the queries on a laid-out volume.
#include "volume_builder/volume_builder.hpp"

#include <algorithm>
#include <stdexcept>

namespace volbuild {

namespace {

file_node system_node(std::uint32_t number, const char* name, const volume_options& v)
{
    file_node n;
    n.number = number;
    n.name = name;
    n.parent = MFD_FILE_NUMBER;
    n.file.sequence = static_cast<std::uint16_t>(number);
    n.file.owner_group = v.owner_group;
    n.file.owner_member = v.owner_member;
    n.file.protection = v.system_protection;
    return n;
}

// Directories hold variable-length records that never cross a block.
void mark_directory(file_node& n)
{
    n.directory = true;
    n.file.record_type = RT_VARIABLE;
    n.file.record_attributes = RA_NOSPAN;
    n.file.record_size = BLOCK_SIZE;
    n.file_characteristics = FCH_DIRECTORY;
}

file_node directory_node(const std::string& name, const directory_options& o)
{
    file_node n;
    n.name = name + ".DIR";
    mark_directory(n);
    n.file.version = o.version;
    n.file.file_number = o.file_number;
    n.file.sequence = o.sequence;
    n.file.owner_group = o.owner_group;
    n.file.owner_member = o.owner_member;
    n.file.protection = o.protection;
    n.file.dates = o.dates;
    n.file.allocated_blocks = o.allocated_blocks;
    n.file.efblk = o.efblk;
    n.file.ffbyte = o.ffbyte;
    n.file.place = o.place;
    n.version_limit = o.version_limit;
    n.max_entries_per_record = o.max_entries_per_record;
    return n;
}

std::uint16_t longest_record(const std::vector<std::string>& lines, const record_options& r)
{
    std::size_t longest = 0;
    for (const auto& line : lines)
        longest = std::max(longest, line.size() + (r.control_bytes ? 2 : 0));
    return static_cast<std::uint16_t>(std::min<std::size_t>(longest, 0xFFFF));
}

} // namespace

file_options text_file(const std::vector<std::string>& lines, const record_options& records)
{
    file_options f;
    f.data = encode_records(lines, records);
    f.record_type = RT_VARIABLE;
    f.record_attributes = RA_CR;
    f.record_size = longest_record(lines, records);
    return f;
}

file_options binary_file(std::vector<std::uint8_t> bytes)
{
    file_options f;
    f.data = std::move(bytes);
    return f;
}

volume_builder::volume_builder(volume_options options) : options_(std::move(options))
{
    const std::pair<std::uint32_t, const char*> system_files[] = {
        {INDEX_FILE_NUMBER, "INDEXF.SYS"},  {BITMAP_FILE_NUMBER, "BITMAP.SYS"},
        {BADBLK_FILE_NUMBER, "BADBLK.SYS"}, {MFD_FILE_NUMBER, "000000.DIR"},
        {CORIMG_FILE_NUMBER, "CORIMG.SYS"},
    };
    for (const auto& [number, name] : system_files)
        nodes_.emplace(number, system_node(number, name, options_));
    mark_directory(nodes_.at(MFD_FILE_NUMBER));
    for (const auto& [number, name] : system_files)
        add_entry(MFD_FILE_NUMBER, name,
                  dir_entry{1, number, static_cast<std::uint16_t>(number), 0});
}

// Numbers are never given back, so the lowest free one only moves up: every number from
// FIRST_USER_FILE_NUMBER below lowest_free_ is taken, and finding it stays linear in the
// files added (a scan from FIRST_USER_FILE_NUMBER per file made 20,000 files quadratic).
std::uint32_t volume_builder::free_number()
{
    while (nodes_.count(lowest_free_) != 0)
        ++lowest_free_;
    return lowest_free_;
}

std::uint32_t volume_builder::add_node(file_node node)
{
    const std::uint32_t number = node.file.file_number != 0 ? node.file.file_number : free_number();
    if (number > MAX_FILE_NUMBER || nodes_.count(number) != 0)
        throw std::invalid_argument("file number in use or beyond 24 bits");
    if (node.parent != 0) {
        const auto parent = nodes_.find(node.parent);
        if (parent == nodes_.end() || !parent->second.directory)
            throw std::invalid_argument("parent is not a directory");
    }
    node.number = number;
    node.file.file_number = number;
    const std::uint32_t parent = node.parent;
    const dir_entry entry{node.file.version, number, node.file.sequence, 0};
    const std::string name = node.name;
    if (parent != 0)
        add_entry(parent, name, entry);
    nodes_.emplace(number, std::move(node));
    return number;
}

std::uint32_t volume_builder::add_file(std::uint32_t directory, const std::string& name,
                                       file_options options)
{
    file_node node;
    node.name = name;
    node.parent = directory;
    node.file = std::move(options);
    return add_node(std::move(node));
}

std::uint32_t volume_builder::add_directory(std::uint32_t parent, const std::string& name,
                                            directory_options options)
{
    file_node node = directory_node(name, options);
    node.parent = parent;
    return add_node(std::move(node));
}

void volume_builder::add_entry(std::uint32_t directory, const std::string& name,
                               const dir_entry& entry)
{
    const auto dir = nodes_.find(directory);
    if (dir == nodes_.end() || !dir->second.directory)
        throw std::invalid_argument("entries go into directories only");
    dir_record& record = dir->second.entries[name];
    record.name = name;
    record.version_limit = dir->second.version_limit;
    const auto same = [&](const dir_entry& e) { return e.version == entry.version; };
    if (std::any_of(record.entries.begin(), record.entries.end(), same))
        throw std::invalid_argument("that name and version is in the directory already");
    record.entries.push_back(entry);
}

std::uint64_t built_volume::header_vbn(std::uint32_t file_number) const
{
    return index_vbn_of(file_number, ibmap_vbn_, ibmap_size_);
}

std::optional<std::uint64_t> lbn_in_runs(const std::vector<extent>& runs, std::uint64_t vbn)
{
    if (vbn == 0)
        return std::nullopt;
    for (const auto& r : runs) {
        if (vbn <= r.count)
            return r.lbn + vbn - 1;
        vbn -= r.count;
    }
    return std::nullopt;
}

std::uint64_t built_volume::header_lbn(std::uint32_t file_number) const
{
    const auto lbn = lbn_in_runs(file(INDEX_FILE_NUMBER).runs, header_vbn(file_number));
    if (!lbn)
        throw std::out_of_range("no header slot for that file number");
    return *lbn;
}

const file_layout& built_volume::file(std::uint32_t file_number) const
{
    const auto it = files_.find(file_number);
    if (it == files_.end())
        throw std::out_of_range("no such file on the volume");
    return it->second;
}

std::vector<std::uint64_t> built_volume::block_lbns(std::uint32_t file_number) const
{
    std::vector<std::uint64_t> out;
    for (const auto& r : extents(file_number))
        for (std::uint64_t i = 0; i < r.count; ++i)
            out.push_back(r.lbn + i);
    return out;
}

std::uint64_t built_volume::lbn_of_vbn(std::uint32_t file_number, std::uint64_t vbn) const
{
    const auto lbn = lbn_in_runs(extents(file_number), vbn);
    if (!lbn)
        throw std::out_of_range(vbn == 0 ? "VBNs start at 1" : "VBN past the file's map");
    return *lbn;
}

block built_volume::header(std::uint32_t file_number) const
{
    return image.read(header_lbn(file_number));
}

void built_volume::set_header_u8(std::uint32_t file_number, std::size_t offset, std::uint8_t value)
{
    put_u8(image.at(header_lbn(file_number)), offset, value);
    refresh_checksum(file_number, offset, 1);
}

void built_volume::set_header_u16(std::uint32_t file_number, std::size_t offset,
                                  std::uint16_t value)
{
    put_u16(image.at(header_lbn(file_number)), offset, value);
    refresh_checksum(file_number, offset, 2);
}

void built_volume::set_header_u32(std::uint32_t file_number, std::size_t offset,
                                  std::uint32_t value)
{
    put_u32(image.at(header_lbn(file_number)), offset, value);
    refresh_checksum(file_number, offset, 4);
}

void built_volume::set_header_efblk(std::uint32_t file_number, std::uint32_t efblk)
{
    put_efblk(image.at(header_lbn(file_number)), efblk);
    refresh_checksum(file_number, FH_EFBLK_HIGH, 4);
}

// A change that writes the checksum word itself is left as written.
void built_volume::refresh_checksum(std::uint32_t file_number, std::size_t offset,
                                    std::size_t width)
{
    if (offset + width <= FH_CHECKSUM)
        put_block_checksum(image.at(header_lbn(file_number)));
}

} // namespace volbuild
