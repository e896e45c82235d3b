// The mounted volume: a VMS device name mapped to its /dev path, opened
// read-only, with its home block and the index file and MFD headers.
#pragma once

#include "ods2/file_header.hpp"
#include "ods2/layout.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

// The longest device name accepted, in characters.
inline constexpr std::size_t MAX_DEVICE_NAME = 20;
// The longest host path of a volume accepted, in bytes.
inline constexpr std::size_t MAX_VOLUME_PATH = 4095;

struct home_block {
    block bytes{};
};

struct volume_record {
    int fd = -1;                         // -1 while no volume is mounted
    char path[MAX_VOLUME_PATH + 1] = {}; // the device path, for messages
    home_block home;                     // LBN 1
    file_header index_header;            // file 1, INDEXF.SYS
    file_header mfd_header;              // file 4, the master file directory
    // Whole blocks the device holds, from its size when it was opened; 0 when
    // the device does not tell.
    std::uint64_t device_blocks = 0;
    // Set by a program that reads whole volumes: LBN 0, the boot block, which
    // the index file's first extent maps on every volume VMS initialises, is
    // read like any other block. odscp refuses it ("Bad block in file").
    bool boot_block_readable = false;
    // Set by a program that wants its read errors to say which block and why
    // (past the end of the device, or the system's error); odscp says "Read error".
    bool detailed_read_errors = false;
};

extern volume_record volume;

// Maps name to /dev/vms..., opens it read-only and reads the three blocks every
// later step starts from. 1, or 0 after reporting; on 0 no volume is mounted,
// except when the name was too long, which changes nothing.
int open_volume(const char* name);

// Opens the host path (an image file or a device) read-only and mounts it as
// open_volume does, with the same checks and messages. 1, or 0 after
// reporting; on 0 no volume is mounted, except when the path was too long,
// which changes nothing.
int open_volume_path(const char* path);

// Whether the host path holds an ODS-2 volume that open_volume_path can
// mount, for a program to say why not before it tries: a directory, a special
// file (neither a regular file nor a block or character device), a file it cannot open or
// read (the system's reason), one too short for a home block, a home block
// without the DECFILE11B identification, a structure level other than ODS-2
// (ODS-5 is named as not supported yet), a device smaller than its index file
// needs. Opens the path itself, read-only and without waiting, and changes no
// state; the mounted volume stays as it is. True when nothing was found
// wrong (message empty); false with the reason in message (NUL-terminated,
// cut to size).
[[nodiscard]] bool diagnose_volume(const char* path, char* message, std::size_t size);

// Reads logical block lbn of the mounted volume into buffer; 1, or 0 after reporting.
int read_lblock(std::uint64_t lbn, std::span<std::uint8_t, BLOCK_SIZE> buffer);

// Reads count consecutive logical blocks from lbn with one system call, and
// returns how many came back whole, from the first on. Reports nothing: a block
// that did not come back whole is read again with read_lblock, which does.
[[nodiscard]] std::size_t read_lblocks(std::uint64_t lbn, std::size_t count, std::uint8_t* buffer);

// Home block fields.
[[nodiscard]] std::uint16_t ibmap_vbn(const home_block& home);
[[nodiscard]] std::uint32_t ibmap_lbn(const home_block& home);
[[nodiscard]] std::uint16_t ibmap_size(const home_block& home);

// The index file VBN that holds the header of file number n.
[[nodiscard]] std::uint64_t header_vbn(std::uint32_t file_number);
