// Faults a hostile or unlucky setting provokes: a closed pipe, closed standard
// descriptors, an output file that is the volume itself, set-id installs,
// maps larger than the volume and directories that claim the whole device.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/volume_e2e_support.hpp"

namespace {

class reliability : public volume_e2e {};

// [D]F.DAT holding data, laid out last, so that cutting the image short cuts
// the file.
vb::volume_builder one_file(const std::string& data)
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE, "D");
    b.add_file(d, "F.DAT", {.data = bytes_of(data)});
    return b;
}

constexpr std::uint32_t F_DAT = 7; // file number of [D]F.DAT (the directory is 6)

} // namespace

TEST_F(reliability, a_closed_pipe_is_a_write_error_and_the_run_goes_on)
{
    const std::string data = patterned(600 * 1024);
    const auto r = run(one_file(data).build(), {"-si", "[d]f.dat", "-d", "[d]f.dat"},
                       {.stdout_to_closed_pipe = true});
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "[d]f.dat -- write error\n");
    ASSERT_EQ(r.files.count("f.dat"), 1u);
    EXPECT_EQ(r.files.at("f.dat").contents, data);
}

TEST_F(reliability, closed_standard_descriptors_take_nothing_the_run_opens)
{
    const std::string data = patterned(2 * 512);
    auto v = one_file(data).build();
    {
        // standard output closed: the device must not become standard output
        const auto r = run(v, {"-si", "[d]f.dat"}, {.close_stdout = true});
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exit_status, 0);
    }
    {
        // both closed, and a read error while the host file is open: the
        // diagnostic must not be written into the copy
        v.image.resize(v.lbn_of_vbn(F_DAT, 2));
        const auto r = run(v, {"-i", "[d]f.dat"}, {.close_stdout = true, .close_stderr = true});
        EXPECT_EQ(r.exit_status, 0);
        ASSERT_EQ(r.files.count("f.dat"), 1u);
        EXPECT_EQ(r.files.at("f.dat").contents, data.substr(0, 512));
    }
}

TEST_F(reliability, the_volume_is_never_the_output_file)
{
    // The device is ./disk.img of the working directory; the volume holds
    // [ARCHIVE]DISK.IMG, and COPY.IMG, a hard link to the image in the
    // working directory. Copying either would empty the volume being read.
    vb::volume_builder b;
    const auto archive = b.add_directory(vb::MFD_FILE, "ARCHIVE");
    b.add_file(archive, "DISK.IMG", {.data = bytes_of(patterned(3 * 512))});
    b.add_file(archive, "COPY.IMG", {.data = bytes_of(patterned(3 * 512))});
    const auto v = b.build();
    const std::string work = scratch.path("work");
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
    const std::string disk = work + "/disk.img";
    v.write_to(disk);
    ASSERT_EQ(::link(disk.c_str(), (work + "/copy.img").c_str()), 0);
    for (const char* spec : {"[archive]disk.img", "[archive]copy.img"}) {
        SCOPED_TRACE(spec);
        for (const char* mode : {"-t", "-i", "-I"}) {
            SCOPED_TRACE(mode);
            const auto r =
                run_odscp({.images = {{"users", disk}}, .args = {mode, spec}, .workdir = work});
            EXPECT_EQ(r.err, std::string(spec) + " -- Can't open output file\n");
            EXPECT_TRUE(r.images_unchanged);
        }
    }
    const vb::block_image& image = v.image;
    std::ifstream in(disk, std::ios::binary);
    const std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(now.size(), image.device_blocks() * 512);
}

TEST_F(reliability, a_map_cut_at_the_extension_header_limit_says_so)
{
    // one block per header: the primary header and 1100 extension headers
    const std::string data = patterned(1101 * 512);
    vb::volume_builder b({.header_slots = 1200});
    const auto d = b.add_directory(vb::MFD_FILE, "D");
    const auto f = b.add_file(
        d, "LONG.DAT",
        {.data = bytes_of(data),
         .place = {.kind = vb::layout::fragmented, .fragments = 1101, .max_map_words = 2}});
    b.add_file(d, "SHORT.DAT", {.data = bytes_of("short")});
    const auto v = b.build();
    ASSERT_EQ(v.header_chain(f).size(), 1101u);
    const auto r = run(v, {"-si", "[d]long.dat", "short.dat", "-I", "long.dat"});
    const std::string cut = data.substr(0, 1025 * 512);
    EXPECT_EQ(r.out, cut + "short" + cut);
    EXPECT_EQ(r.err, "[d]long.dat -- File map too long\nlong.dat -- File map too long\n");
}

TEST_F(reliability, a_copy_ends_after_as_many_blocks_as_the_device_holds)
{
    // the map names LBNs 1-999 four times over, on a device of little more
    // than 1000 blocks
    constexpr std::uint32_t RUN = 999;
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE, "D");
    const vb::pointer again = vb::run(RUN, 1);
    b.add_file(
        d, "HUGE.DAT",
        {.efblk = 4 * RUN + 1,
         .place = {.kind = vb::layout::explicit_map, .pointers = {again, again, again, again}}});
    const auto v = b.build();
    const std::uint64_t blocks = v.image.device_blocks();
    ASSERT_LT(blocks, 2 * RUN);
    const std::vector<std::uint8_t> bytes = v.bytes();
    const std::string device(bytes.begin(), bytes.end());
    // as many blocks as the device holds: LBNs 1-999, then from LBN 1 again
    const std::string cut =
        device.substr(512, RUN * 512) + device.substr(512, (blocks - RUN) * 512);
    for (const char* mode : {"-sI", "-si"}) {
        SCOPED_TRACE(mode);
        const auto r = run(v, {mode, "[d]huge.dat"});
        EXPECT_EQ(r.out.size(), cut.size());
        EXPECT_TRUE(r.out == cut);
        EXPECT_EQ(r.err, "[d]huge.dat -- File map larger than the volume\n");
    }
}
