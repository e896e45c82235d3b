// Lays out whole ODS-2 volumes for tests, fuzz seeds and benchmarks: the home block,
// the index file, the system files, directories and files with a chosen placement;
// afterwards it tells where everything lies and lets any byte be changed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "volume_builder/directory.hpp"
#include "volume_builder/file_header.hpp"
#include "volume_builder/image.hpp"
#include "volume_builder/layout.hpp"
#include "volume_builder/pointer.hpp"
#include "volume_builder/records.hpp"

namespace volbuild {

struct volume_options {
    std::string volume_name = "ODSCPTEST";
    std::string owner_name = "ODSCP";
    std::uint16_t cluster = 1;
    // Index file VBNs 1-4 are the boot block (LBN 0), the home block (LBN 1), the
    // alternate home block and the backup index file header; the bitmap follows.
    std::uint16_t ibmap_vbn = 5;
    std::uint32_t ibmap_lbn = 16;   // at least 2
    std::uint16_t ibmap_size = 0;   // 0: one bit for every header slot
    std::uint32_t header_slots = 0; // headers the index file maps; 0: the highest file in use
    std::uint32_t primary_header_slots = 0; // of those, right after the bitmap; 0: all. The rest
                                            // lie in a separate extent after the files' data
    std::uint64_t device_blocks = 0;        // 0: up to the last block the volume uses
    std::uint16_t owner_group = 1;          // owner of the volume and its system files
    std::uint16_t owner_member = 1;
    std::uint16_t system_protection = PROT_SYSTEM;
};

enum class layout { contiguous, fragmented, explicit_map };

// Where a file's blocks go and how its map is written.
struct placement {
    layout kind = layout::contiguous;
    std::uint32_t fragments = 2;     // fragmented: this many extents, no two adjacent
    std::vector<pointer> pointers{}; // explicit_map: the map exactly as given
    int format = FORMAT_AUTO;        // contiguous, fragmented: every pointer in this format
    std::uint32_t leading_placement_words = 0; // contiguous, fragmented: format 0 words first
    bool placement_between = false;  // contiguous, fragmented: a format 0 word between pointers
    std::uint32_t max_map_words = 0; // per header, 0: the whole map area; the map goes on in
                                     // extension headers, whose file numbers the builder picks
    std::uint32_t headers = 0;       // contiguous, fragmented: spread the pointers evenly over this
                                     // many headers (the primary and headers - 1 extensions); 0: as
                                     // max_map_words gives. At most one header per pointer
    std::uint8_t map_offset = DEFAULT_MAP_OFFSET;
};

struct file_options {
    std::vector<std::uint8_t> data{}; // the file's bytes from VBN 1 on
    std::uint16_t version = 1;
    std::uint32_t file_number = 0; // 0: the lowest free number from FIRST_USER_FILE_NUMBER
    std::uint16_t sequence = 1;
    std::uint16_t owner_group = 1;
    std::uint16_t owner_member = 1;
    std::uint16_t protection = PROT_DEFAULT;
    std::uint8_t record_type = RT_FIXED; // RT_*
    std::uint8_t record_attributes = 0;  // RA_*
    std::uint16_t record_size = 512;
    std::uint8_t vfc_size = 0;    // fixed control bytes of VFC records
    std::uint16_t max_record = 0; // longest record, as the header states it
    file_dates dates{};
    std::uint16_t revision_count = 1;
    std::optional<std::string> ident_name{};          // default "NAME.TYPE;VERSION"
    std::uint8_t ident_offset = DEFAULT_IDENT_OFFSET; // words
    std::optional<file_id> back_link{};               // default the directory's file id
    std::optional<std::uint64_t> size_bytes{};        // default data.size(); past the data: zeros
    std::optional<std::uint32_t>
        allocated_blocks{};                // at least this many; default what the size needs
    std::optional<std::uint32_t> efblk{};  // default size / 512 + 1
    std::optional<std::uint16_t> ffbyte{}; // default size % 512
    placement place{};
};

// A text file of variable-length records, one per line, with carriage-return control.
[[nodiscard]] file_options text_file(const std::vector<std::string>& lines,
                                     const record_options& records = {});
// A file of fixed 512-byte records.
[[nodiscard]] file_options binary_file(std::vector<std::uint8_t> bytes);

struct directory_options {
    std::uint16_t version = 1;
    std::uint32_t file_number = 0;
    std::uint16_t sequence = 1;
    std::uint16_t owner_group = 1;
    std::uint16_t owner_member = 1;
    std::uint16_t protection = PROT_DEFAULT;
    file_dates dates{};
    std::uint16_t version_limit = 0;        // written in each of its records
    std::size_t max_entries_per_record = 0; // 0: as many as fit a block
    std::optional<std::uint32_t> allocated_blocks{};
    std::optional<std::uint32_t> efblk{};  // default: blocks holding records + 1
    std::optional<std::uint16_t> ffbyte{}; // default 0
    placement place{};
};

// A run of logical blocks.
struct extent {
    std::uint64_t lbn = 0;
    std::uint64_t count = 0;
};

// The LBN that VBN vbn of a file with these runs lies at; none for VBN 0 and past the
// runs. Every VBN-to-LBN walk of the builder goes through it.
[[nodiscard]] std::optional<std::uint64_t> lbn_in_runs(const std::vector<extent>& runs,
                                                       std::uint64_t vbn);

// Index file VBN of header n: n + ibmap_vbn + ibmap_size - 1.
[[nodiscard]] constexpr std::uint64_t
index_vbn_of(std::uint32_t file_number, std::uint16_t ibmap_vbn, std::uint16_t ibmap_size)
{
    return std::uint64_t{file_number} + ibmap_vbn + ibmap_size - 1;
}

// Where the layout put one file.
struct file_layout {
    std::vector<extent> runs{};           // the blocks mapped, VBN 1 onward
    std::vector<std::uint32_t> headers{}; // primary header's file number, then extensions
    std::uint32_t used_blocks = 0;        // blocks that hold data or directory records
};

// A laid-out volume: the image, and where its parts lie. Changes made to the image
// afterwards are not reflected in the layout.
class built_volume {
  public:
    block_image image;

    [[nodiscard]] std::uint16_t ibmap_vbn() const { return ibmap_vbn_; }
    [[nodiscard]] std::uint32_t ibmap_lbn() const { return ibmap_lbn_; }
    [[nodiscard]] std::uint16_t ibmap_size() const { return ibmap_size_; }
    // Index file VBN of header n: n + ibmap_vbn + ibmap_size - 1.
    [[nodiscard]] std::uint64_t header_vbn(std::uint32_t file_number) const;
    // That VBN through the index file's map; throws std::out_of_range past the map.
    [[nodiscard]] std::uint64_t header_lbn(std::uint32_t file_number) const;
    [[nodiscard]] const file_layout& file(std::uint32_t file_number) const;
    [[nodiscard]] const std::vector<std::uint32_t>& header_chain(std::uint32_t file_number) const
    {
        return file(file_number).headers;
    }
    [[nodiscard]] const std::vector<extent>& extents(std::uint32_t file_number) const
    {
        return file(file_number).runs;
    }
    // LBN of each mapped VBN of the file, VBN 1 first.
    [[nodiscard]] std::vector<std::uint64_t> block_lbns(std::uint32_t file_number) const;
    // Throws std::out_of_range past the file's map.
    [[nodiscard]] std::uint64_t lbn_of_vbn(std::uint32_t file_number, std::uint64_t vbn) const;
    // One past the last block the layout allocated itself, explicit placements apart.
    [[nodiscard]] std::uint64_t layout_end() const { return layout_end_; }

    // Header n as it is now, and changes to it that keep its checksum right (unless
    // the change is to the checksum word itself).
    [[nodiscard]] block header(std::uint32_t file_number) const;
    void set_header_u8(std::uint32_t file_number, std::size_t offset, std::uint8_t value);
    void set_header_u16(std::uint32_t file_number, std::size_t offset, std::uint16_t value);
    void set_header_u32(std::uint32_t file_number, std::size_t offset, std::uint32_t value);
    void set_header_efblk(std::uint32_t file_number, std::uint32_t efblk);

    [[nodiscard]] std::vector<std::uint8_t> bytes() const { return image.bytes(); }
    void write_to(const std::string& path) const { image.write_to(path); }

  private:
    friend class volume_builder;
    void refresh_checksum(std::uint32_t file_number, std::size_t offset, std::size_t width);

    std::uint16_t ibmap_vbn_ = 0;
    std::uint32_t ibmap_lbn_ = 0;
    std::uint16_t ibmap_size_ = 0;
    std::uint64_t layout_end_ = 0;
    std::map<std::uint32_t, file_layout> files_;
};

// One file or directory as the builder holds it until the layout.
struct file_node {
    std::uint32_t number = 0;
    std::string name{}; // "NAME.TYPE"
    std::uint32_t parent = 0;
    bool directory = false;
    file_options file{};
    std::uint32_t file_characteristics = 0;
    std::uint16_t version_limit = 0;
    std::size_t max_entries_per_record = 0;
    std::map<std::string, dir_record> entries{}; // directories: by name
};

// Collects the volume's files, then lays them out. Typical use:
//
//     volbuild::volume_builder v({.ibmap_lbn = 10, .ibmap_size = 2});
//     auto user = v.add_directory(volbuild::MFD_FILE_NUMBER, "USER", {.protection = 0x1000});
//     auto notes = v.add_file(user, "NOTES.TXT", volbuild::text_file({"one", "two"}));
//     v.add_file(user, "NOTES.TXT", {.data = bytes, .version = 2});
//     auto vol = v.build();
//     vol.set_header_u16(notes, volbuild::FH_FFBYTE, 600);   // damage, checksum kept
//     vol.image.resize(vol.header_lbn(volbuild::MFD_FILE_NUMBER));  // a short device
//     vol.write_to(path);
//
// The same calls give the same bytes.
// Misuse (a file number taken twice, a parent that is no directory, a map that does
// not fit) throws std::invalid_argument.
class volume_builder {
  public:
    explicit volume_builder(volume_options options = {});

    // Adds a file and its entry in `directory` (no entry when directory is 0).
    std::uint32_t add_file(std::uint32_t directory, const std::string& name,
                           file_options options = {});
    // Adds NAME.DIR to `parent` (MFD_FILE_NUMBER for a top-level directory).
    std::uint32_t add_directory(std::uint32_t parent, const std::string& name,
                                directory_options options = {});
    // A directory entry alone, e.g. one naming a file number that has no header.
    void add_entry(std::uint32_t directory, const std::string& name, const dir_entry& entry);

    [[nodiscard]] built_volume build() const;
    [[nodiscard]] const volume_options& options() const { return options_; }

  private:
    std::uint32_t add_node(file_node node);
    std::uint32_t free_number();

    volume_options options_;
    std::map<std::uint32_t, file_node> nodes_;
    std::uint32_t lowest_free_ = FIRST_USER_FILE_NUMBER;
};

} // namespace volbuild
