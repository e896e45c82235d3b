// Writes the benchmark's volume images into a directory, with the host files that
// hold the same bytes, so that each copy can be timed against cat or cp moving them.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "volume_builder/volume_builder.hpp"

namespace vb = volbuild;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t DATA_BYTES = std::size_t{256} << 20; // the large file
constexpr std::size_t SMALL_BYTES = std::size_t{1} << 20;  // the memory check's small file
constexpr std::size_t TEXT_BYTES = std::size_t{256} << 20; // record stream, at most
constexpr std::size_t LONGEST_RECORD = 300;
constexpr std::size_t SHORT_LINE = 80; // the short-line text: 1 to 80 bytes, as most text is
constexpr std::uint32_t FRAGMENTS = 4096;
// Eight format 1 pointers per header: the 4096 extents need 511 extension headers.
constexpr std::uint32_t EXTENSION_MAP_WORDS = 16;
constexpr std::size_t NAMED_FILE_BYTES = vb::BLOCK_SIZE;
constexpr int SMALL_DIRECTORY = 10000;
constexpr int LARGE_DIRECTORY = 20000;

// xorshift64: the same volumes on every run, and data that no block repeats.
class generator {
  public:
    explicit generator(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }

  private:
    std::uint64_t state_;
};

std::vector<std::uint8_t> random_bytes(std::size_t n, std::uint64_t seed)
{
    generator g(seed);
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(g.next() >> 32);
    return out;
}

// Bytes a record takes in the file: length word, data, pad byte after an odd length.
std::size_t encoded_size(std::size_t length)
{
    return 2 + length + (length & 1);
}

// Printable lines of 1 to LONGEST_RECORD characters whose records fill at most limit bytes.
std::vector<std::string> random_lines(std::size_t limit, std::uint64_t seed,
                                      std::size_t longest = LONGEST_RECORD)
{
    generator g(seed);
    std::vector<std::string> lines;
    std::size_t used = 0;
    for (;;) {
        const std::size_t length = 1 + g.next() % longest;
        if (used + encoded_size(length) > limit)
            return lines;
        used += encoded_size(length);
        std::string line(length, ' ');
        for (auto& c : line)
            c = static_cast<char>('!' + g.next() % 94);
        lines.push_back(std::move(line));
    }
}

void write_bytes(const fs::path& path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

// The text a text-mode copy produces: each record's data and a newline, written at
// once like every other file here.
void write_text(const fs::path& path, const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += '\n';
    }
    write_bytes(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// The image goes out in one write, as the host files do: written block by block it
// would sit in the page cache in small pages, which cost more to read back than the
// baselines' files and would tilt every comparison against odscp.
vb::built_volume write_volume(const fs::path& path, const vb::volume_builder& builder)
{
    vb::built_volume built = builder.build();
    write_bytes(path, built.bytes());
    std::printf("%s: %llu blocks\n", path.c_str(),
                static_cast<unsigned long long>(built.image.device_blocks()));
    return built;
}

void describe_file(const vb::built_volume& built, std::uint32_t file, const char* name)
{
    const auto& runs = built.extents(file);
    std::printf("  %s: %zu extents from LBN %llu, %zu headers\n", name, runs.size(),
                static_cast<unsigned long long>(runs.front().lbn), built.header_chain(file).size());
}

// Where the file lies, for odscp_read_extents: one "LBN COUNT" line per extent.
void write_extents(const fs::path& path, const std::vector<vb::extent>& runs)
{
    std::ofstream out(path, std::ios::trunc);
    for (const vb::extent& e : runs)
        out << e.lbn << ' ' << e.count << '\n';
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

vb::file_options binary_file(std::vector<std::uint8_t> bytes, const vb::placement& place)
{
    vb::file_options f = vb::binary_file(std::move(bytes));
    f.place = place;
    return f;
}

// [BENCH]DATA.BIN laid out as asked; the contiguous volume also holds SMALL.BIN.
void make_data_volume(const fs::path& path, const std::vector<std::uint8_t>& data,
                      const vb::placement& place, const std::vector<std::uint8_t>* small)
{
    vb::volume_builder v;
    const auto dir = v.add_directory(vb::MFD_FILE_NUMBER, "BENCH");
    const auto file = v.add_file(dir, "DATA.BIN", binary_file(data, place));
    if (small != nullptr)
        v.add_file(dir, "SMALL.BIN", binary_file(*small, {}));
    const vb::built_volume built = write_volume(path, v);
    describe_file(built, file, "DATA.BIN");
    write_extents(fs::path(path).replace_extension(".extents"), built.extents(file));
}

void make_text_volume(const fs::path& path, const std::vector<std::string>& lines)
{
    vb::volume_builder v;
    const auto dir = v.add_directory(vb::MFD_FILE_NUMBER, "BENCH");
    const auto file = v.add_file(dir, "TEXT.TXT", vb::text_file(lines));
    describe_file(write_volume(path, v), file, "TEXT.TXT");
}

std::string named_file(int i)
{
    char name[16];
    std::snprintf(name, sizeof name, "F%05d.DAT", i);
    return name;
}

// One block per file, different for every name, the same in both directories.
std::vector<std::uint8_t> named_file_bytes(int i)
{
    return random_bytes(NAMED_FILE_BYTES, 0x9E3779B97F4A7C15ULL + static_cast<std::uint64_t>(i));
}

// File numbers are handed out here: the builder's own search for the lowest free
// number takes time in proportion to the files already added.
void add_named_directory(vb::volume_builder& v, const std::string& name, int files,
                         std::uint32_t& number)
{
    vb::directory_options d;
    d.file_number = number++;
    const auto dir = v.add_directory(vb::MFD_FILE_NUMBER, name, d);
    for (int i = 1; i <= files; ++i) {
        vb::file_options f = vb::binary_file(named_file_bytes(i));
        f.file_number = number++;
        v.add_file(dir, named_file(i), std::move(f));
    }
}

// [D10K] and [D20K], holding F00001.DAT upwards.
void make_directory_volume(const fs::path& path)
{
    vb::volume_builder v;
    std::uint32_t number = vb::FIRST_USER_FILE_NUMBER;
    add_named_directory(v, "D10K", SMALL_DIRECTORY, number);
    add_named_directory(v, "D20K", LARGE_DIRECTORY, number);
    static_cast<void>(write_volume(path, v));
}

// The host side of the directory rows: the same files, and the listing of [D20K].
void make_host_directory(const fs::path& dir, const fs::path& listing)
{
    fs::create_directories(dir);
    std::ofstream list(listing, std::ios::trunc);
    for (int i = 1; i <= LARGE_DIRECTORY; ++i) {
        write_bytes(dir / named_file(i), named_file_bytes(i));
        list << named_file(i) << ";1\n";
    }
    if (!list.flush())
        throw std::runtime_error("cannot write " + listing.string());
}

vb::placement fragmented(std::uint32_t map_words)
{
    vb::placement p;
    p.kind = vb::layout::fragmented;
    p.fragments = FRAGMENTS;
    p.max_map_words = map_words;
    return p;
}

void make_binary_set(const fs::path& dir)
{
    const auto data = random_bytes(DATA_BYTES, 1);
    const auto small = random_bytes(SMALL_BYTES, 2);
    write_bytes(dir / "data.bin", data);
    write_bytes(dir / "small.bin", small);
    make_data_volume(dir / "contig.img", data, {}, &small);
    make_data_volume(dir / "frag.img", data, fragmented(0), nullptr);
    make_data_volume(dir / "ext.img", data, fragmented(EXTENSION_MAP_WORDS), nullptr);
}

void make_text_set(const fs::path& dir)
{
    const auto lines = random_lines(TEXT_BYTES, 3);
    write_text(dir / "text.txt", lines);
    make_text_volume(dir / "text.img", lines);
    const auto short_lines = random_lines(TEXT_BYTES, 4, SHORT_LINE);
    write_text(dir / "short.txt", short_lines);
    make_text_volume(dir / "short.img", short_lines);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    try {
        const fs::path dir = argv[1];
        fs::create_directories(dir);
        make_binary_set(dir);
        make_text_set(dir);
        make_directory_volume(dir / "dirs.img");
        make_host_directory(dir / "hostdir", dir / "listing.txt");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
