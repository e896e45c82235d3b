// Writes the fuzz seed corpora: sound ODS-2 volumes for volume_fuzz, built with
// the volume builder, and typical arguments for filespec_fuzz.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "volume_builder/volume_builder.hpp"

namespace vb = volbuild;

namespace {

std::vector<std::uint8_t> patterned(std::size_t n)
{
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
    return bytes;
}

std::vector<std::string> numbered_lines(std::size_t count, std::size_t width)
{
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < count; ++i)
        lines.push_back(std::to_string(i) + std::string(i % width, 'x'));
    return lines;
}

// Directories two deep, files in the MFD and below, several versions.
vb::built_volume nested_volume()
{
    vb::volume_builder b;
    b.add_file(vb::MFD_FILE_NUMBER, "README.TXT", vb::text_file({"first line", "", "odd"}));
    b.add_file(vb::MFD_FILE_NUMBER, "DATA.BIN", vb::binary_file(patterned(3 * 512)));
    const auto user = b.add_directory(vb::MFD_FILE_NUMBER, "USER");
    for (std::uint16_t v = 1; v <= 3; ++v) {
        auto f = vb::text_file({"version " + std::to_string(v)});
        f.version = v;
        b.add_file(user, "NOTES.TXT", f);
    }
    const auto sub = b.add_directory(user, "SUB");
    b.add_file(sub, "A.DAT", {.data = patterned(700)});
    b.add_directory(vb::MFD_FILE_NUMBER, "EMPTY");
    return b.build();
}

// Maps in several pieces: fragments, every pointer format, placement words and
// maps continued in extension headers.
vb::built_volume fragmented_volume()
{
    vb::volume_builder b;
    vb::file_options frag{.data = patterned(6 * 512 + 17)};
    frag.place = {.kind = vb::layout::fragmented, .fragments = 4, .placement_between = true};
    b.add_file(vb::MFD_FILE_NUMBER, "FRAG.DAT", frag);
    vb::file_options ext = vb::text_file(numbered_lines(120, 40));
    ext.place = {.kind = vb::layout::fragmented, .fragments = 6, .max_map_words = 4};
    b.add_file(vb::MFD_FILE_NUMBER, "EXT.TXT", ext);
    for (int format = 1; format <= 3; ++format) {
        vb::file_options f{.data = patterned(2 * 512 + 5)};
        f.place = {.format = format, .leading_placement_words = 1};
        b.add_file(vb::MFD_FILE_NUMBER, "F" + std::to_string(format) + ".DAT", f);
    }
    const auto d = b.add_directory(
        vb::MFD_FILE_NUMBER, "FRAGDIR",
        {.max_entries_per_record = 2, .place = {.kind = vb::layout::fragmented, .fragments = 2}});
    for (int i = 0; i < 12; ++i)
        b.add_file(d, "N" + std::to_string(i) + ".TXT", vb::text_file({"n"}));
    return b.build();
}

// Text files: control bytes, odd lengths, empty records, records across blocks.
vb::built_volume text_volume()
{
    vb::volume_builder b;
    b.add_file(vb::MFD_FILE_NUMBER, "CTRL.LIS",
               vb::text_file({"ab", "abc", "", "x"}, {.control_bytes = true}));
    b.add_file(vb::MFD_FILE_NUMBER, "LONG.TXT", vb::text_file({std::string(700, 'L'), "tail"}));
    b.add_file(vb::MFD_FILE_NUMBER, "PAD.TXT", vb::text_file({"a", "bcd", "efghi"}, {.pad = 0xFF}));
    return b.build();
}

// Many versions and records: a directory of several blocks, a volume whose
// bitmap and headers lie elsewhere, some headers in a second extent.
vb::built_volume crowded_volume()
{
    vb::volume_builder b(
        {.ibmap_vbn = 5, .ibmap_lbn = 10, .ibmap_size = 2, .primary_header_slots = 12});
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "MANY", {.max_entries_per_record = 3});
    for (int n = 0; n < 20; ++n) {
        for (std::uint16_t v = 1; v <= 4; ++v) {
            vb::file_options f{.data = {static_cast<std::uint8_t>(n)}};
            f.version = v;
            b.add_file(d, "FILE" + std::to_string(n) + ".DAT", f);
        }
    }
    b.add_file(vb::MFD_FILE_NUMBER, "HIDDEN.TXT", {.data = patterned(10), .protection = 0xFF00});
    return b.build();
}

// Damaged on purpose: a file whose header names itself as its extension; its
// map must end where the chain comes back to it, not repeat.
vb::built_volume looping_volume()
{
    vb::volume_builder b;
    const auto f = b.add_file(vb::MFD_FILE_NUMBER, "LOOP.DAT", {.data = patterned(64 * 512)});
    vb::built_volume v = b.build();
    v.set_header_u16(f, vb::FH_EXT_FILE_NUMBER, static_cast<std::uint16_t>(f));
    return v;
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void write_volume_seeds(const std::string& dir)
{
    write_bytes(dir + "/nested.img", nested_volume().bytes());
    write_bytes(dir + "/fragmented.img", fragmented_volume().bytes());
    write_bytes(dir + "/text.img", text_volume().bytes());
    write_bytes(dir + "/crowded.img", crowded_volume().bytes());
    write_bytes(dir + "/looping.img", looping_volume().bytes());
}

void write_filespec_seeds(const std::string& dir)
{
    const char* const args[] = {
        "DKA0:[USER.SUB]NOTES.TXT;2",
        "disk$users:[000000]",
        "dka0:",
        "[a.b.c.d.e.f.g.h]x.y;1",
        "readme.txt",
        "name.typ;65537",
        "x;",
        "-tTiIbsdflc",
        "-zq",
        "[]a",
        "\xC3\xA9t\xC3\xA9.txt",
        "ABCDEFGHIJ.DATA;00012",
    };
    int i = 0;
    for (const char* a : args) {
        const std::string text = a;
        write_bytes(dir + "/arg" + std::to_string(i++), {text.begin(), text.end()});
    }
    const std::string long_arg = "DKA0:[" + std::string(96, 'D') + "]F.T";
    write_bytes(dir + "/arg_long", {long_arg.begin(), long_arg.end()});
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s VOLUME_SEED_DIR FILESPEC_SEED_DIR\n", argv[0]);
        return 2;
    }
    write_volume_seeds(argv[1]);
    write_filespec_seeds(argv[2]);
    return 0;
}
