// The volume as a library, in process: volumes opened by path and diagnosed,
// directory entries walked as data, files exported through a sink.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "diag/report.hpp"
#include "ods2/attributes.hpp"
#include "ods2/directory.hpp"
#include "ods2/file_header.hpp"
#include "ods2/volume.hpp"
#include "output/export.hpp"
#include "volume_builder/volume_builder.hpp"

namespace vb = volbuild;

namespace {

const char* const VAX_VOLUME = ODSCP_SOURCE_DIR "/../shared/volumes/vax-diags-2018.dsk";

class volume_library : public testing::Test {
  protected:
    void SetUp() override
    {
        std::strcpy(dir_, "/tmp/odscp-library-XXXXXX");
        ASSERT_NE(::mkdtemp(dir_), nullptr);
        volume = volume_record{};
        set_report_subject("t");
    }

    void TearDown() override
    {
        if (volume.fd >= 0)
            ::close(volume.fd);
        volume = volume_record{};
        for (const std::string& p : made_)
            ::remove(p.c_str());
        ::rmdir(dir_);
    }

    std::string path(const std::string& name)
    {
        const std::string p = std::string(dir_) + "/" + name;
        made_.push_back(p);
        return p;
    }

    std::string write(const vb::built_volume& v, const std::string& name = "volume.img")
    {
        const std::string p = path(name);
        v.write_to(p);
        return p;
    }

    // Mounts the volume; its messages on standard error into err.
    int mount(const std::string& p, std::string& err)
    {
        testing::internal::CaptureStderr();
        const int mounted = open_volume_path(p.c_str());
        err = testing::internal::GetCapturedStderr();
        return mounted;
    }

    const char* dir() const { return dir_; }

  private:
    char dir_[32];
    std::vector<std::string> made_;
};

struct entry {
    std::string name;
    std::uint16_t version;
    std::uint32_t number;
    std::uint16_t sequence;
    std::uint8_t rvn;
    bool operator==(const entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const entry& e)
{
    return os << e.name << ";" << e.version << " (" << e.number << "," << e.sequence << ","
              << int(e.rvn) << ")";
}

std::vector<entry> entries_of(const file_header& dir)
{
    auto scan = std::make_unique<dir_scan_state>();
    std::vector<entry> out;
    dir_entry_cursor at;
    dir_entry e;
    while (next_dir_entry(*scan, dir, at, e) && out.size() < 10000)
        out.push_back({std::string(e.name, e.name_length), e.version, e.fid.number, e.fid.sequence,
                       e.fid.rvn});
    return out;
}

file_header header(std::uint32_t number)
{
    file_header h;
    EXPECT_EQ(read_file_header(number, h), 1);
    return h;
}

} // namespace

TEST_F(volume_library, directory_entries_come_as_data_in_directory_order)
{
    vb::volume_builder b;
    const std::uint32_t d = b.add_directory(vb::MFD_FILE_NUMBER, "D", {.max_entries_per_record = 2});
    b.add_file(d, "B.TXT", {.version = 3, .file_number = 20, .sequence = 5});
    b.add_file(d, "B.TXT", {.version = 1, .file_number = 21, .sequence = 6});
    b.add_file(d, "B.TXT", {.version = 2, .file_number = 22, .sequence = 7});
    b.add_file(d, "A.DAT", {.version = 32767, .file_number = 23});
    b.add_entry(d, "C.LIS", {.version = 9, .file_number = 0x12345A, .sequence = 0xBEEF, .rvn = 3});
    const auto v = b.build();
    std::string err;
    ASSERT_EQ(mount(write(v), err), 1) << err;
    const std::vector<entry> want = {
        {"A.DAT", 32767, 23, 1, 0},
        {"B.TXT", 3, 20, 5, 0},
        {"B.TXT", 2, 22, 7, 0},
        {"B.TXT", 1, 21, 6, 0},            // a second record of the same name
        {"C.LIS", 9, 0x12345A, 0xBEEF, 3}, // the file number's high byte, the RVN
    };
    EXPECT_EQ(entries_of(header(d)), want);
    // an empty cursor starts over; an ended one stays ended
    auto scan = std::make_unique<dir_scan_state>();
    dir_entry_cursor at;
    dir_entry e;
    for (std::size_t i = 0; i < want.size(); ++i)
        ASSERT_TRUE(next_dir_entry(*scan, header(d), at, e));
    EXPECT_FALSE(next_dir_entry(*scan, header(d), at, e));
    EXPECT_FALSE(next_dir_entry(*scan, header(d), at, e));
}

TEST_F(volume_library, two_walks_at_once_keep_their_own_places)
{
    vb::volume_builder b;
    const std::uint32_t d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    const std::uint32_t e = b.add_directory(vb::MFD_FILE_NUMBER, "E");
    for (int i = 0; i < 60; ++i) { // several blocks each
        const std::string n = "FILE" + std::to_string(100 + i) + ".TXT";
        b.add_file(d, n, {});
        b.add_file(e, "OTHER" + n, {});
    }
    const auto v = b.build();
    std::string err;
    ASSERT_EQ(mount(write(v), err), 1) << err;
    const file_header hd = header(d);
    const file_header he = header(e);
    auto sd = std::make_unique<dir_scan_state>();
    auto se = std::make_unique<dir_scan_state>();
    dir_entry_cursor ad, ae;
    dir_entry xd, xe;
    int n = 0;
    while (next_dir_entry(*sd, hd, ad, xd)) {
        ASSERT_TRUE(next_dir_entry(*se, he, ae, xe));
        EXPECT_EQ("OTHER" + std::string(xd.name, xd.name_length),
                  std::string(xe.name, xe.name_length));
        ++n;
    }
    EXPECT_EQ(n, 60);
    EXPECT_GT(v.file(d).used_blocks, 1u);
}

TEST_F(volume_library, a_damaged_block_ends_its_records_and_the_walk_goes_on)
{
    vb::volume_builder b;
    const std::uint32_t d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    for (int i = 0; i < 40; ++i)
        b.add_file(d, "NAME" + std::to_string(10 + i) + ".TXT", {});
    auto v = b.build();
    ASSERT_GE(v.file(d).used_blocks, 2u);
    // a record past the middle of block 1 names more bytes than the block holds
    const std::uint64_t lbn = v.lbn_of_vbn(d, 1);
    std::size_t at = 0;
    std::size_t before = 0; // records before it
    for (; at <= 260; ++before)
        at += std::size_t{v.image.get_u16(lbn, at)} + 2;
    const std::uint64_t second = v.lbn_of_vbn(d, 2);
    const std::string first_of_block_2(
        reinterpret_cast<const char*>(v.image.read(second).data()) + 6, v.image.get_u8(second, 5));
    v.image.set_u8(lbn, at + 5, 255);
    std::string err;
    ASSERT_EQ(mount(write(v), err), 1) << err;
    const std::vector<entry> got = entries_of(header(d));
    ASSERT_GT(got.size(), before);
    for (std::size_t i = 0; i < before; ++i)
        EXPECT_EQ(got[i].name, "NAME" + std::to_string(10 + i) + ".TXT");
    EXPECT_EQ(got[before].name, first_of_block_2);
    EXPECT_EQ(got.back().name, "NAME49.TXT");
    // a directory whose end-of-file block is far past its map ends with its map
    v.set_header_efblk(d, 0x7FFFFFFF);
    ASSERT_EQ(mount(write(v, "efblk.img"), err), 1) << err;
    EXPECT_EQ(entries_of(header(d)).size(), got.size());
}

TEST_F(volume_library, open_by_path_and_diagnosis_name_what_is_wrong)
{
    vb::volume_builder b;
    b.add_file(vb::MFD_FILE_NUMBER, "A.TXT", vb::text_file({"a"}));
    const vb::built_volume sound = b.build();
    const auto with_home = [&](std::size_t offset, std::uint16_t value) {
        vb::built_volume v = sound;
        v.image.set_u16(vb::HOME_LBN, offset, value);
        return v;
    };
    const std::string fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string empty = path("empty");
    std::fclose(std::fopen(empty.c_str(), "w"));
    vb::built_volume short_device = sound;
    short_device.image.resize(short_device.header_lbn(vb::MFD_FILE_NUMBER));
    const std::string vax = path("vax.dsk");
    {
        FILE* in = std::fopen(VAX_VOLUME, "rb");
        if (in != nullptr) {
            FILE* out = std::fopen(vax.c_str(), "wb");
            char buf[4096];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;)
                std::fwrite(buf, 1, n, out);
            std::fclose(out);
            std::fclose(in);
        }
    }
    struct row {
        const char* what;
        std::string path;
        std::string diagnosis; // empty: sound
        int mounts;            // -1: not tried (an open without O_NONBLOCK would wait)
    };
    const std::vector<row> rows = {
        {"a sound volume", write(sound), "", 1},
        {"a directory", dir(), "Is a directory, not a volume", 0},
        {"a FIFO", fifo, "Not a regular file or device", -1},
        {"no such file", path("missing"), "Can't open: No such file or directory", 0},
        {"an empty file", empty, "Too short for a home block: 0 bytes", 0},
        {"no identification", write(with_home(496, 0x4141), "id.img"),
         "Not an ODS-2 volume: the home block lacks \"DECFILE11B\"", 1},
        {"ODS-5", write(with_home(12, 0x0501), "ods5.img"), "ODS-5 volume: not supported yet", 1},
        {"structure level 1", write(with_home(12, 0x0101), "ods1.img"),
         "Not an ODS-2 volume: structure level 0x0101", 1},
        {"structure level 2, version 2", write(with_home(12, 0x0202), "v2.img"), "", 1},
        {"a device too small for the index file", write(short_device, "short.img"),
         "Device too small: " + std::to_string(short_device.image.device_blocks()) +
             " blocks, but the index file needs block " +
             std::to_string(short_device.header_lbn(vb::MFD_FILE_NUMBER)),
         0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        char message[200] = "stale";
        EXPECT_EQ(diagnose_volume(r.path.c_str(), message, sizeof message), r.diagnosis.empty());
        EXPECT_EQ(message, r.diagnosis);
        if (r.mounts < 0)
            continue;
        std::string err;
        EXPECT_EQ(mount(r.path, err), r.mounts);
        // the mount's own messages (odscp's) name the path when it fails
        if (r.mounts == 1) {
            EXPECT_EQ(err, "");
        } else {
            EXPECT_NE(err.find(r.path + "\n"), std::string::npos) << err;
        }
        EXPECT_EQ(volume.fd >= 0, r.mounts == 1);
    }
    char tiny[8];
    EXPECT_FALSE(diagnose_volume(dir(), tiny, sizeof tiny));
    EXPECT_EQ(std::string(tiny), "Is a di"); // cut to size, NUL-terminated
    if (std::FILE* f = std::fopen(VAX_VOLUME, "rb")) {
        std::fclose(f);
        char message[200] = "stale";
        EXPECT_TRUE(diagnose_volume(vax.c_str(), message, sizeof message)) << message;
        std::string err;
        ASSERT_EQ(mount(vax, err), 1) << err;
        const std::vector<entry> mfd = entries_of(volume.mfd_header);
        ASSERT_FALSE(mfd.empty());
        EXPECT_EQ(mfd.front(), (entry{"000000.DIR", 1, 4, 4, 0}));
        bool has_index = false;
        for (const entry& e : mfd)
            has_index = has_index || e == entry{"INDEXF.SYS", 1, 1, 1, 0};
        EXPECT_TRUE(has_index);
    } else {
        std::printf("skipped the VAX volume: none at %s\n", VAX_VOLUME);
    }
}

namespace {

struct collected {
    std::string bytes;
    int calls = 0;
    int stop_after = -1; // calls before the sink stops the export
};

int collect(void* context, const std::uint8_t* bytes, std::size_t n)
{
    auto* c = static_cast<collected*>(context);
    if (c->calls++ == c->stop_after)
        return 0;
    c->bytes.append(reinterpret_cast<const char*>(bytes), n);
    return 1;
}

} // namespace

TEST_F(volume_library, export_hands_over_what_each_mode_makes_of_a_file)
{
    vb::volume_builder b;
    std::vector<std::string> lines;
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        lines.push_back("line " + std::to_string(i) + std::string(i % 13, '.'));
        text += lines.back() + "\n";
    }
    vb::file_options fragmented = vb::text_file(lines);
    fragmented.place = {.kind = vb::layout::fragmented, .fragments = 7, .max_map_words = 4};
    fragmented.allocated_blocks = 200;
    const std::uint32_t f = b.add_file(vb::MFD_FILE_NUMBER, "LINES.TXT", fragmented);
    const std::uint32_t cut = b.add_file(vb::MFD_FILE_NUMBER, "CUT.TXT", vb::text_file({"ab", "cd"}));
    std::string stream = "x\r\ny\r\n";
    const std::uint32_t s = b.add_file(
        vb::MFD_FILE_NUMBER, "S.TXT",
        {.data = {stream.begin(), stream.end()}, .record_type = RECFMT_STREAM, .record_size = 0});
    auto v = b.build();
    v.set_header_u16(cut, vb::FH_FFBYTE, 7); // the end of file inside "cd"
    ASSERT_GT(v.header_chain(f).size(), 1u);
    std::string err;
    ASSERT_EQ(mount(write(v), err), 1) << err;
    const std::string raw(fragmented.data.begin(), fragmented.data.end());

    collected c;
    EXPECT_EQ(export_file(header(f), CONVERT_AUTO, collect, &c), 1);
    EXPECT_EQ(c.bytes, text);
    c = {};
    EXPECT_EQ(export_file(header(f), CONVERT_RAW, collect, &c), 1);
    EXPECT_EQ(c.bytes, raw);
    c = {};
    EXPECT_EQ(export_file(header(f), EXPORT_BLOCKS, collect, &c), 1);
    EXPECT_EQ(c.bytes.size(), 200u * 512);
    EXPECT_EQ(c.bytes.substr(0, raw.size()), raw);
    c = {};
    EXPECT_EQ(export_file(header(s), CONVERT_AUTO, collect, &c), 1);
    EXPECT_EQ(c.bytes, "x\ny\n");

    // a record cut short: reported once, what came before kept
    c = {};
    testing::internal::CaptureStderr();
    EXPECT_EQ(export_file(header(cut), CONVERT_AUTO, collect, &c), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "t -- Last record cut short by the end of file\n");
    EXPECT_EQ(c.bytes, "ab\nc\n");

    // a sink that stops the export
    c = {.stop_after = 1};
    EXPECT_EQ(export_file(header(f), CONVERT_AUTO, collect, &c), 0);
    EXPECT_EQ(c.calls, 2);
}

TEST_F(volume_library, export_reports_a_map_or_a_device_that_ends_early)
{
    vb::volume_builder b;
    const std::string data = std::string(3000, 'd');
    const std::uint32_t f =
        b.add_file(vb::MFD_FILE_NUMBER, "D.BIN", vb::binary_file({data.begin(), data.end()}));
    auto v = b.build();
    v.set_header_efblk(f, 9); // past the six blocks it has
    std::string err;
    ASSERT_EQ(mount(write(v), err), 1) << err;
    collected c;
    testing::internal::CaptureStderr();
    EXPECT_EQ(export_file(header(f), CONVERT_AUTO, collect, &c), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "t -- File ends at block 6, before its end-of-file block 9\n");
    EXPECT_EQ(c.bytes, data + std::string(72, '\0'));

    // the device ends inside the file: the read error is reported by the volume
    auto cut = b.build();
    cut.image.resize(cut.lbn_of_vbn(f, 3));
    ASSERT_EQ(mount(write(cut, "cut.img"), err), 1) << err;
    volume.detailed_read_errors = true;
    c = {};
    testing::internal::CaptureStderr();
    EXPECT_EQ(export_file(header(f), CONVERT_RAW, collect, &c), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "t -- Read error at block " +
                                                          std::to_string(cut.lbn_of_vbn(f, 3)) +
                                                          ": past the end of the device\n");
    EXPECT_EQ(c.bytes, data.substr(0, 1024));
}
