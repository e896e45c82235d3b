// Encoding of directory records and directory blocks.
#include "volume_builder/directory.hpp"

#include <algorithm>
#include <stdexcept>

namespace volbuild {

namespace {

constexpr std::size_t MAX_NAME = 255;

std::size_t padded(std::size_t name_count)
{
    return name_count + (name_count & 1);
}

void put_entry(std::span<std::uint8_t> b, std::size_t at, const dir_entry& e)
{
    if (e.file_number > MAX_FILE_NUMBER)
        throw std::invalid_argument("file numbers have 24 bits");
    put_u16(b, at + DE_VERSION, e.version);
    put_u16(b, at + DE_FILE_NUMBER, static_cast<std::uint16_t>(e.file_number & 0xFFFF));
    put_u16(b, at + DE_FILE_SEQUENCE, e.sequence);
    put_u8(b, at + DE_FILE_RVN, e.rvn);
    put_u8(b, at + DE_FILE_NUMBER_EXT, static_cast<std::uint8_t>(e.file_number >> 16));
}

// Splits one name's entries, highest version first, into records that fit a block.
std::vector<dir_record> split_record(dir_record r, std::size_t max_entries)
{
    std::stable_sort(r.entries.begin(), r.entries.end(),
                     [](const dir_entry& a, const dir_entry& b) { return a.version > b.version; });
    const std::size_t fit = (BLOCK_SIZE - DR_NAME - padded(r.name.size())) / DIR_ENTRY_SIZE;
    const std::size_t per = max_entries == 0 ? fit : std::min(fit, max_entries);
    if (per == 0)
        throw std::invalid_argument("directory record holds no entry");
    std::vector<dir_record> out;
    for (std::size_t i = 0; i == 0 || i < r.entries.size(); i += per) {
        dir_record part{r.name, r.version_limit, r.flags, {}};
        const std::size_t end = std::min(r.entries.size(), i + per);
        part.entries.assign(r.entries.begin() + static_cast<std::ptrdiff_t>(i),
                            r.entries.begin() + static_cast<std::ptrdiff_t>(end));
        out.push_back(std::move(part));
    }
    return out;
}

void end_block(std::vector<block>& blocks, std::size_t used)
{
    if (used + 2 <= BLOCK_SIZE)
        put_u16(blocks.back(), used, DIR_END_MARK);
}

} // namespace

std::vector<std::uint8_t> encode_dir_record(const dir_record& r)
{
    if (r.name.size() > MAX_NAME)
        throw std::invalid_argument("directory names hold at most 255 bytes");
    const std::size_t entries_at = DR_NAME + padded(r.name.size());
    const std::size_t size = entries_at + DIR_ENTRY_SIZE * r.entries.size();
    if (size > BLOCK_SIZE)
        throw std::invalid_argument("directory record larger than a block");
    std::vector<std::uint8_t> out(size, 0);
    put_u16(out, DR_SIZE, static_cast<std::uint16_t>(size - 2));
    put_u16(out, DR_VERSION_LIMIT, r.version_limit);
    out[DR_FLAGS] = r.flags;
    out[DR_NAME_COUNT] = static_cast<std::uint8_t>(r.name.size());
    std::copy(r.name.begin(), r.name.end(), out.begin() + DR_NAME);
    for (std::size_t i = 0; i < r.entries.size(); ++i)
        put_entry(out, entries_at + DIR_ENTRY_SIZE * i, r.entries[i]);
    return out;
}

std::vector<block> encode_directory(std::vector<dir_record> records,
                                    std::size_t max_entries_per_record)
{
    std::stable_sort(records.begin(), records.end(),
                     [](const dir_record& a, const dir_record& b) { return a.name < b.name; });
    std::vector<block> blocks(1, block{});
    std::size_t used = 0;
    for (auto& name : records) {
        for (const auto& part : split_record(std::move(name), max_entries_per_record)) {
            const auto bytes = encode_dir_record(part);
            if (used + bytes.size() > BLOCK_SIZE) {
                end_block(blocks, used);
                blocks.emplace_back();
                used = 0;
            }
            std::copy(bytes.begin(), bytes.end(), blocks.back().begin() + static_cast<long>(used));
            used += bytes.size();
        }
    }
    end_block(blocks, used);
    return blocks;
}

} // namespace volbuild
