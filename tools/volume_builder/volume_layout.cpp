// Laying out a volume: block allocation, maps and extension headers, the index file
// and the home block, then the image.
#include "volume_builder/volume_builder.hpp"

#include <algorithm>
#include <limits>
#include <set>
#include <span>
#include <stdexcept>

namespace volbuild {

namespace {

constexpr std::uint64_t BITS_PER_BLOCK = BLOCK_SIZE * 8;
constexpr int MAX_LAYOUT_PASSES = 8;

std::uint64_t blocks_for(std::uint64_t bytes)
{
    return (bytes + BLOCK_SIZE - 1) / BLOCK_SIZE;
}

std::uint32_t to_u32(std::uint64_t value, const char* what)
{
    if (value > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument(what);
    return static_cast<std::uint32_t>(value);
}

// Hands out runs of free blocks in ascending order from a cursor, around runs taken
// by fixed structures and explicit placements.
class lbn_allocator {
  public:
    void reserve(std::uint64_t lbn, std::uint64_t count)
    {
        if (count == 0)
            return;
        std::uint64_t start = lbn;
        std::uint64_t end = lbn + count;
        auto it = taken_.lower_bound(start);
        if (it != taken_.begin() && std::prev(it)->second >= start)
            --it;
        while (it != taken_.end() && it->first <= end) {
            start = std::min(start, it->first);
            end = std::max(end, it->second);
            it = taken_.erase(it);
        }
        taken_.emplace(start, end);
    }

    [[nodiscard]] bool is_free(std::uint64_t lbn, std::uint64_t count) const
    {
        return conflict(lbn, count) == taken_.end();
    }

    std::uint64_t allocate(std::uint64_t count)
    {
        std::uint64_t lbn = cursor_;
        for (auto c = conflict(lbn, count); c != taken_.end(); c = conflict(lbn, count))
            lbn = c->second;
        reserve(lbn, count);
        cursor_ = lbn + count;
        allocated_end_ = std::max(allocated_end_, cursor_);
        return lbn;
    }

    void set_cursor(std::uint64_t lbn) { cursor_ = lbn; }
    void skip(std::uint64_t count) { cursor_ += count; }
    void note_fixed(std::uint64_t end) { allocated_end_ = std::max(allocated_end_, end); }
    [[nodiscard]] std::uint64_t allocated_end() const { return allocated_end_; }
    [[nodiscard]] std::uint64_t end() const
    {
        return std::max(allocated_end_, taken_.empty() ? 0 : std::prev(taken_.end())->second);
    }

  private:
    using run_map = std::map<std::uint64_t, std::uint64_t>; // start -> end, merged

    [[nodiscard]] run_map::const_iterator conflict(std::uint64_t lbn, std::uint64_t count) const
    {
        auto it = taken_.upper_bound(lbn);
        if (it != taken_.begin() && std::prev(it)->second > lbn)
            return std::prev(it);
        if (it != taken_.end() && it->first < lbn + count)
            return it;
        return taken_.end();
    }

    run_map taken_;
    std::uint64_t cursor_ = 0;
    std::uint64_t allocated_end_ = 0;
};

struct planned_file {
    const file_node* node = nullptr;
    std::span<const std::uint8_t> contents; // written from VBN 1 on
    std::vector<extent> runs;
    std::vector<std::vector<std::uint16_t>> segments; // map words of each header
    std::vector<std::uint32_t> headers;
    std::uint32_t used_blocks = 0;
    std::uint32_t hiblk = 0;
    std::uint32_t efblk = 1;
    std::uint16_t ffbyte = 0;
};

struct volume_plan {
    std::uint16_t ibmap_size = 0;
    std::uint32_t header_slots = 0;
    std::uint32_t primary_slots = 0;
    std::uint64_t alternate_lbn = 0; // index VBN 3 on: alternate home block, backup header
    std::uint64_t alternate_count = 0;
    std::map<std::uint32_t, planned_file> files;
    std::vector<std::uint32_t> in_use; // every header number written
    std::size_t extensions_needed = 0;
    std::uint64_t layout_end = 0;
    std::uint64_t device_end = 0;
};

std::vector<pointer> pointers_for(const std::vector<extent>& runs, int format)
{
    if (format == 0)
        throw std::invalid_argument("format 0 maps no blocks");
    std::vector<pointer> out;
    for (const auto& r : runs) {
        std::uint64_t lbn = r.lbn;
        std::uint64_t left = r.count;
        while (left > 0) {
            const auto at = to_u32(lbn, "LBN beyond 32 bits");
            const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 1U << 30));
            const int f = format == FORMAT_AUTO ? smallest_format(want, at) : format;
            const std::uint32_t take = std::min(want, max_count(f));
            out.push_back(run(take, at, f));
            lbn += take;
            left -= take;
        }
    }
    return out;
}

std::vector<pointer> with_placement_words(const std::vector<pointer>& map, const placement& p)
{
    std::vector<pointer> out(p.leading_placement_words, placement_word());
    for (std::size_t i = 0; i < map.size(); ++i) {
        if (i > 0 && p.placement_between)
            out.push_back(placement_word());
        out.push_back(map[i]);
    }
    return out;
}

// The words of each pointer, none larger than one header's map may hold.
std::vector<std::vector<std::uint16_t>> encoded_pointers(const std::vector<pointer>& map,
                                                         std::size_t limit)
{
    std::vector<std::vector<std::uint16_t>> out;
    for (const auto& ptr : map) {
        out.push_back(encode_pointer(ptr));
        if (out.back().size() > limit)
            throw std::invalid_argument("a pointer does not fit in one header's map");
    }
    return out;
}

// The pointers spread evenly over p.headers headers, the first ones taking one more.
std::vector<std::vector<std::uint16_t>>
split_evenly(const std::vector<std::vector<std::uint16_t>>& pointers, const placement& p,
             std::size_t limit)
{
    if (p.headers > pointers.size())
        throw std::invalid_argument("more headers asked for than the map has pointers");
    std::vector<std::vector<std::uint16_t>> segments(p.headers);
    std::size_t next = 0;
    for (std::size_t h = 0; h < segments.size(); ++h) {
        const std::size_t take = pointers.size() / p.headers + (h < pointers.size() % p.headers);
        for (std::size_t i = 0; i < take; ++i, ++next)
            segments[h].insert(segments[h].end(), pointers[next].begin(), pointers[next].end());
        if (segments[h].size() > limit)
            throw std::invalid_argument("the pointers given to one header do not fit its map");
    }
    return segments;
}

// Whole pointers per header, as many as the limit allows, or spread over p.headers.
std::vector<std::vector<std::uint16_t>> split_map(const std::vector<pointer>& map,
                                                  const placement& p)
{
    const std::size_t area = HEADER_WORDS_BEFORE_CHECKSUM -
                             std::min<std::size_t>(p.map_offset, HEADER_WORDS_BEFORE_CHECKSUM);
    const std::size_t limit =
        p.max_map_words == 0 ? area : std::min<std::size_t>(p.max_map_words, area);
    const auto pointers = encoded_pointers(map, limit);
    if (p.headers > 1)
        return split_evenly(pointers, p, limit);
    std::vector<std::vector<std::uint16_t>> segments(1);
    for (const auto& words : pointers) {
        if (segments.back().size() + words.size() > limit)
            segments.emplace_back();
        segments.back().insert(segments.back().end(), words.begin(), words.end());
    }
    return segments;
}

std::vector<extent> merged(const std::vector<extent>& runs)
{
    std::vector<extent> out;
    for (const auto& r : runs) {
        if (r.count == 0)
            continue;
        if (!out.empty() && out.back().lbn + out.back().count == r.lbn)
            out.back().count += r.count;
        else
            out.push_back(r);
    }
    return out;
}

std::uint64_t total_blocks(const std::vector<extent>& runs)
{
    std::uint64_t total = 0;
    for (const auto& r : runs)
        total += r.count;
    return total;
}

class planner {
  public:
    planner(const volume_options& options, const std::map<std::uint32_t, file_node>& nodes,
            const std::map<std::uint32_t, std::vector<std::uint8_t>>& directories)
        : o_(options), nodes_(nodes), directories_(directories)
    {
        if (o_.ibmap_vbn == 0 || o_.ibmap_lbn < 2)
            throw std::invalid_argument("the bitmap needs ibmap_vbn >= 1 and ibmap_lbn >= 2");
    }

    volume_plan plan(std::size_t extensions)
    {
        p_ = volume_plan{};
        a_ = lbn_allocator{};
        tail_lbn_ = 0;
        const auto spare = spare_numbers(extensions);
        size_index(spare);
        place_fixed();
        for (const auto& [number, node] : nodes_)
            if (number != INDEX_FILE_NUMBER && number != BITMAP_FILE_NUMBER)
                p_.files[number] = plan_file(node);
        place_index_tail();
        p_.files[BITMAP_FILE_NUMBER] = plan_storage_bitmap();
        p_.files[INDEX_FILE_NUMBER] = plan_index_file();
        assign_headers(spare);
        p_.layout_end = a_.allocated_end();
        p_.device_end = a_.end();
        return p_;
    }

  private:
    // The lowest numbers not held by files, for extension headers.
    std::vector<std::uint32_t> spare_numbers(std::size_t count) const
    {
        std::vector<std::uint32_t> out;
        for (std::uint32_t n = FIRST_USER_FILE_NUMBER; out.size() < count; ++n)
            if (nodes_.count(n) == 0)
                out.push_back(n);
        return out;
    }

    void size_index(const std::vector<std::uint32_t>& spare)
    {
        std::uint32_t highest = nodes_.rbegin()->first;
        if (!spare.empty())
            highest = std::max(highest, spare.back());
        if (o_.header_slots != 0 && o_.header_slots < highest)
            throw std::invalid_argument("header_slots below the highest file number");
        p_.header_slots = o_.header_slots != 0 ? o_.header_slots : highest;
        const std::uint64_t bitmap =
            std::max<std::uint64_t>(1, (p_.header_slots + BITS_PER_BLOCK - 1) / BITS_PER_BLOCK);
        p_.ibmap_size = o_.ibmap_size != 0 ? o_.ibmap_size : static_cast<std::uint16_t>(bitmap);
        p_.primary_slots = o_.primary_header_slots != 0
                               ? std::min(o_.primary_header_slots, p_.header_slots)
                               : p_.header_slots;
    }

    // Boot and home block, the bitmap with the primary headers, the alternate home
    // block and backup index file header, and every explicit placement.
    void place_fixed()
    {
        a_.reserve(0, 2);
        const std::uint64_t index_end =
            std::uint64_t{o_.ibmap_lbn} + p_.ibmap_size + p_.primary_slots;
        a_.reserve(o_.ibmap_lbn, index_end - o_.ibmap_lbn);
        a_.note_fixed(index_end);
        for (const auto& entry : nodes_)
            reserve_explicit(entry.second);
        p_.alternate_count = o_.ibmap_vbn > 3 ? o_.ibmap_vbn - 3U : 0;
        const bool low = p_.alternate_count != 0 && a_.is_free(2, p_.alternate_count);
        if (low) {
            p_.alternate_lbn = 2;
            a_.reserve(2, p_.alternate_count);
        }
        a_.set_cursor(index_end);
        if (p_.alternate_count != 0 && !low)
            p_.alternate_lbn = a_.allocate(p_.alternate_count);
    }

    void reserve_explicit(const file_node& node)
    {
        if (node.file.place.kind != layout::explicit_map)
            return;
        for (const auto& ptr : node.file.place.pointers)
            if (ptr.format != 0)
                a_.reserve(ptr.lbn, ptr.count);
    }

    // Headers past the primary slots lie in one extent after the data, apart from it.
    void place_index_tail()
    {
        if (p_.header_slots <= p_.primary_slots)
            return;
        a_.skip(1);
        tail_lbn_ = a_.allocate(p_.header_slots - p_.primary_slots);
    }

    std::vector<extent> allocate_runs(const placement& place, std::uint64_t blocks)
    {
        if (blocks == 0)
            return {};
        if (place.kind == layout::contiguous)
            return {extent{a_.allocate(blocks), blocks}};
        const std::uint64_t n = std::clamp<std::uint64_t>(place.fragments, 1, blocks);
        std::vector<extent> runs;
        for (std::uint64_t i = 0; i < n; ++i) {
            const std::uint64_t size = blocks / n + (i < blocks % n ? 1 : 0);
            runs.push_back(extent{a_.allocate(size), size});
            a_.skip(1); // keeps the next fragment from touching this one
        }
        return runs;
    }

    std::vector<extent> explicit_runs(const placement& place) const
    {
        std::vector<extent> runs;
        for (const auto& ptr : place.pointers)
            if (ptr.format != 0 && ptr.count != 0)
                runs.push_back(extent{ptr.lbn, ptr.count});
        return runs;
    }

    std::span<const std::uint8_t> contents_of(const file_node& node) const
    {
        if (node.directory)
            return directories_.at(node.number);
        return node.file.data;
    }

    planned_file plan_file(const file_node& node)
    {
        planned_file f;
        f.node = &node;
        f.contents = contents_of(node);
        const file_options& o = node.file;
        const std::uint64_t length = node.directory ? 0 : o.size_bytes.value_or(o.data.size());
        const std::uint64_t used = std::max(blocks_for(length), blocks_for(f.contents.size()));
        place_blocks(f, o.place, std::max<std::uint64_t>(used, o.allocated_blocks.value_or(0)));
        f.used_blocks = to_u32(blocks_for(f.contents.size()), "file too large");
        if (f.hiblk < f.used_blocks)
            throw std::invalid_argument("the file's data is longer than its map");
        const std::uint64_t eof = node.directory ? f.used_blocks + 1ULL : length / BLOCK_SIZE + 1;
        f.efblk = o.efblk.value_or(to_u32(eof, "file too large"));
        const std::uint64_t last = node.directory ? 0 : length % BLOCK_SIZE;
        f.ffbyte = o.ffbyte.value_or(static_cast<std::uint16_t>(last));
        return f;
    }

    // Allocates the file's runs, or takes them from its explicit map, and cuts the map
    // into the pieces each header holds.
    void place_blocks(planned_file& f, const placement& place, std::uint64_t blocks)
    {
        std::vector<pointer> map = place.pointers;
        if (place.kind == layout::explicit_map) {
            f.runs = explicit_runs(place);
        } else {
            f.runs = allocate_runs(place, blocks);
            map = with_placement_words(pointers_for(f.runs, place.format), place);
        }
        f.segments = split_map(map, place);
        f.hiblk = to_u32(total_blocks(f.runs), "file too large");
    }

    // One storage control block and one bit per cluster of the device.
    planned_file plan_storage_bitmap()
    {
        const file_node& node = nodes_.at(BITMAP_FILE_NUMBER);
        std::uint64_t blocks = 1;
        while (1 + (a_.end() + blocks + BITS_PER_BLOCK - 1) / BITS_PER_BLOCK > blocks)
            ++blocks;
        planned_file f = plan_file(node);
        f.runs = {extent{a_.allocate(blocks), blocks}};
        f.segments = split_map(pointers_for(f.runs, FORMAT_AUTO), node.file.place);
        f.hiblk = to_u32(blocks, "device too large");
        f.efblk = f.hiblk + 1;
        return f;
    }

    // VBN 1 and 2: boot and home block; then the alternate blocks, the bitmap, the
    // headers.
    planned_file plan_index_file()
    {
        const file_node& node = nodes_.at(INDEX_FILE_NUMBER);
        planned_file f = plan_file(node);
        std::vector<extent> runs;
        runs.push_back(extent{0, std::min<std::uint64_t>(2, o_.ibmap_vbn - 1U)});
        runs.push_back(extent{p_.alternate_lbn, p_.alternate_count});
        runs.push_back(extent{o_.ibmap_lbn, std::uint64_t{p_.ibmap_size} + p_.primary_slots});
        runs.push_back(extent{tail_lbn_, p_.header_slots - std::uint64_t{p_.primary_slots}});
        f.runs = merged(runs);
        f.segments = split_map(pointers_for(f.runs, FORMAT_AUTO), node.file.place);
        if (f.segments.size() != 1)
            throw std::invalid_argument("the index file's map does not fit its header");
        f.hiblk = to_u32(total_blocks(f.runs), "index file too large");
        f.efblk = f.hiblk + 1;
        return f;
    }

    void assign_headers(const std::vector<std::uint32_t>& spare)
    {
        std::size_t next = 0;
        for (auto& [number, f] : p_.files) {
            f.headers.push_back(number);
            p_.in_use.push_back(number);
            for (std::size_t i = 1; i < f.segments.size(); ++i, ++next) {
                if (next < spare.size()) {
                    f.headers.push_back(spare[next]);
                    p_.in_use.push_back(spare[next]);
                }
            }
        }
        p_.extensions_needed = next;
    }

    const volume_options& o_;
    const std::map<std::uint32_t, file_node>& nodes_;
    const std::map<std::uint32_t, std::vector<std::uint8_t>>& directories_;
    volume_plan p_;
    lbn_allocator a_;
    std::uint64_t tail_lbn_ = 0;
};

std::map<std::uint32_t, std::vector<std::uint8_t>>
encode_directories(const std::map<std::uint32_t, file_node>& nodes)
{
    std::map<std::uint32_t, std::vector<std::uint8_t>> out;
    for (const auto& [number, node] : nodes) {
        if (!node.directory)
            continue;
        std::vector<dir_record> records;
        for (const auto& entry : node.entries)
            records.push_back(entry.second);
        auto& bytes = out[number];
        for (const auto& b : encode_directory(std::move(records), node.max_entries_per_record))
            bytes.insert(bytes.end(), b.begin(), b.end());
    }
    return out;
}

// Writes the plan into an image.
class renderer {
  public:
    renderer(const volume_options& o, const volume_plan& p, block_image& image)
        : o_(o), p_(p), image_(image)
    {
    }

    void render()
    {
        for (const auto& entry : p_.files)
            write_contents(entry.second);
        for (const auto& entry : p_.files)
            write_headers(entry.second);
        write_index_bitmap();
        const block home = home_block();
        image_.write_block(HOME_LBN, home);
        if (p_.alternate_count >= 1)
            image_.write_block(p_.alternate_lbn, home);
        if (p_.alternate_count >= 2)
            image_.write_block(p_.alternate_lbn + 1, image_.read(header_lbn(INDEX_FILE_NUMBER)));
        image_.resize(o_.device_blocks != 0 ? o_.device_blocks
                                            : std::max(p_.device_end, image_.device_blocks()));
    }

    [[nodiscard]] std::uint64_t header_lbn(std::uint32_t number) const
    {
        const std::uint64_t vbn = index_vbn_of(number, o_.ibmap_vbn, p_.ibmap_size);
        const auto lbn = lbn_in_runs(p_.files.at(INDEX_FILE_NUMBER).runs, vbn);
        if (!lbn)
            throw std::invalid_argument("a header lies past the index file's map");
        return *lbn;
    }

  private:
    // Blocks of zeros stay out of the image.
    void write_contents(const planned_file& f)
    {
        const auto bytes = f.contents;
        for (std::size_t at = 0; at < bytes.size(); at += BLOCK_SIZE) {
            const auto chunk = bytes.subspan(at, std::min(BLOCK_SIZE, bytes.size() - at));
            if (std::all_of(chunk.begin(), chunk.end(), [](std::uint8_t b) { return b == 0; }))
                continue;
            image_.write_block(*lbn_in_runs(f.runs, at / BLOCK_SIZE + 1), chunk);
        }
    }

    file_id id_of(std::uint32_t number) const
    {
        const auto it = p_.files.find(number);
        const std::uint16_t seq = it != p_.files.end() ? it->second.node->file.sequence : 1;
        return file_id{number, seq, 0};
    }

    header_fields fields_for(const planned_file& f, std::size_t segment) const
    {
        const file_node& n = *f.node;
        header_fields h;
        h.id = segment == 0 ? id_of(n.number) : file_id{f.headers[segment], 1, 0};
        h.segment = static_cast<std::uint16_t>(segment);
        if (segment + 1 < f.headers.size())
            h.extension = file_id{f.headers[segment + 1], 1, 0};
        h.record_type = n.file.record_type;
        h.record_attributes = n.file.record_attributes;
        h.record_size = n.file.record_size;
        h.vfc_size = n.file.vfc_size;
        h.max_record = n.file.max_record;
        h.hiblk = f.hiblk;
        h.efblk = f.efblk;
        h.ffbyte = f.ffbyte;
        h.file_characteristics = n.file_characteristics;
        h.owner_member = n.file.owner_member;
        h.owner_group = n.file.owner_group;
        h.protection = n.file.protection;
        h.back_link = segment == 0
                          ? n.file.back_link.value_or(n.parent != 0 ? id_of(n.parent) : file_id{})
                          : id_of(n.number);
        h.ident_name = n.file.ident_name.value_or(n.name + ";" + std::to_string(n.file.version));
        h.dates = n.file.dates;
        h.revision_count = n.file.revision_count;
        h.ident_offset = n.file.ident_offset;
        h.map_offset = n.file.place.map_offset;
        h.map = f.segments[segment];
        return h;
    }

    void write_headers(const planned_file& f)
    {
        for (std::size_t i = 0; i < f.headers.size(); ++i)
            image_.write_block(header_lbn(f.headers[i]), encode_header(fields_for(f, i)));
    }

    // Bit n - 1 for every header in use, as far as the bitmap reaches.
    void write_index_bitmap()
    {
        const std::uint64_t bits = std::uint64_t{p_.ibmap_size} * BITS_PER_BLOCK;
        for (const std::uint32_t n : p_.in_use) {
            const std::uint64_t bit = n - 1ULL;
            if (bit >= bits)
                continue;
            block& b = image_.at(o_.ibmap_lbn + bit / BITS_PER_BLOCK);
            b[(bit % BITS_PER_BLOCK) / 8] |= static_cast<std::uint8_t>(1U << (bit % 8));
        }
    }

    static void put_text(block& b, std::size_t offset, const std::string& text)
    {
        for (std::size_t i = 0; i < HB_TEXT_FIELD; ++i)
            b[offset + i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
    }

    // Where the index file and its copies lie; the checksum covers these fields.
    void put_home_layout(block& b) const
    {
        const bool alt_home = p_.alternate_count >= 1;
        const bool alt_index = p_.alternate_count >= 2;
        put_u32(b, HB_HOME_LBN, static_cast<std::uint32_t>(HOME_LBN));
        put_u32(b, HB_ALT_HOME_LBN, static_cast<std::uint32_t>(alt_home ? p_.alternate_lbn : 0));
        put_u32(b, HB_ALT_INDEX_LBN,
                static_cast<std::uint32_t>(alt_index ? p_.alternate_lbn + 1 : 0));
        put_u16(b, HB_STRUCTURE_LEVEL, STRUCTURE_LEVEL);
        put_u16(b, HB_CLUSTER, o_.cluster);
        put_u16(b, HB_HOME_VBN, o_.ibmap_vbn > 2 ? 2 : 0);
        put_u16(b, HB_ALT_HOME_VBN, alt_home ? 3 : 0);
        put_u16(b, HB_ALT_INDEX_VBN, alt_index ? 4 : 0);
        put_u16(b, HB_IBMAP_VBN, o_.ibmap_vbn);
        put_u32(b, HB_IBMAP_LBN, o_.ibmap_lbn);
        const std::uint64_t max_files = std::uint64_t{p_.ibmap_size} * BITS_PER_BLOCK;
        put_u32(b, HB_MAX_FILES, to_u32(max_files, "bitmap too large"));
        put_u16(b, HB_IBMAP_SIZE, p_.ibmap_size);
        put_u16(b, HB_RESERVED_FILES, static_cast<std::uint16_t>(CORIMG_FILE_NUMBER));
        put_u16(b, HB_OWNER_MEMBER, o_.owner_member);
        put_u16(b, HB_OWNER_GROUP, o_.owner_group);
        put_u16(b, HB_FILE_PROTECTION, PROT_DEFAULT);
        put_u16(b, HB_CHECKSUM1, word_sum(b, HB_CHECKSUM1_WORDS));
    }

    void put_home_labels(block& b) const
    {
        put_u64(b, HB_CREATION_DATE, DEFAULT_DATE);
        b[HB_WINDOW] = 7;
        b[HB_LRU_LIMIT] = 16;
        put_u16(b, HB_EXTEND, 5);
        put_u64(b, HB_REVISION_DATE, DEFAULT_DATE);
        put_u32(b, HB_SERIAL_NUMBER, 0x0D5C0001);
        put_text(b, HB_STRUCTURE_NAME, "");
        put_text(b, HB_VOLUME_NAME, o_.volume_name);
        put_text(b, HB_OWNER_NAME, o_.owner_name);
        put_text(b, HB_FORMAT, "DECFILE11B");
    }

    block home_block() const
    {
        block b{};
        put_home_layout(b);
        put_home_labels(b);
        put_block_checksum(b);
        return b;
    }

    const volume_options& o_;
    const volume_plan& p_;
    block_image& image_;
};

} // namespace

built_volume volume_builder::build() const
{
    const auto directories = encode_directories(nodes_);
    planner plan(options_, nodes_, directories);
    std::size_t extensions = 0;
    for (int pass = 0; pass < MAX_LAYOUT_PASSES; ++pass) {
        const volume_plan p = plan.plan(extensions);
        if (p.extensions_needed > extensions) {
            extensions = p.extensions_needed;
            continue;
        }
        built_volume v;
        renderer(options_, p, v.image).render();
        v.ibmap_vbn_ = options_.ibmap_vbn;
        v.ibmap_lbn_ = options_.ibmap_lbn;
        v.ibmap_size_ = p.ibmap_size;
        v.layout_end_ = p.layout_end;
        for (const auto& [number, f] : p.files)
            v.files_[number] = file_layout{f.runs, f.headers, f.used_blocks};
        return v;
    }
    throw std::invalid_argument("the layout does not settle");
}

} // namespace volbuild
