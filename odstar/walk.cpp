// Walking every directory of the volume once, from the MFD down.
#include "odstar/walk.hpp"

#include <cstring>
#include <string_view>

#include "diag/report.hpp"
#include "ods2/volume.hpp"
#include "ods2/walk.hpp"
#include "odstar/names.hpp"

namespace odstar {

namespace {

constexpr std::uint32_t FILE_NUMBERS = 1u << 24;

// One directory being walked: its scan (large, so on the heap, one a level)
// and what its entry was.
struct level {
    std::unique_ptr<dir_scan_state> scan = std::make_unique<dir_scan_state>();
    file_header dir{};
    file_attributes dir_attributes{};
    dir_entry dir_entry_copy{};
    std::string dir_subject{};
    bool dir_newest = true;
};

class walker {
  public:
    walker(const walk_settings& settings, walk_visitor& visitor)
        : settings_(settings), visitor_(visitor), entered_(FILE_NUMBERS, false)
    {
    }

    void run();

  private:
    void walk_level(std::size_t depth);
    void take_entry(std::size_t depth, const dir_entry& e, bool newest);
    [[nodiscard]] bool read_header(const dir_entry& e, file_header& h, file_attributes& a);
    [[nodiscard]] bool may_enter(const walk_item& item, const file_header& h);
    walk_item item_for(const dir_entry& e, bool newest, const file_header& h,
                       const file_attributes& a, bool is_directory, const std::string& subject);

    const walk_settings& settings_;
    walk_visitor& visitor_;
    std::vector<bool> entered_; // one bit a file number: 2 MiB, whatever the volume
    std::vector<std::unique_ptr<level>> levels_;
    std::vector<std::string> path_;
    std::string path_text_;
    // Scratch for the entry in hand; an entered directory's is copied to its level.
    file_header header_{};
    file_attributes attributes_{};
};

bool names_directory(const dir_entry& e, const file_attributes& a)
{
    const std::string_view name(e.name, e.name_length);
    return a.directory && e.version == 1 && name.size() > 4 &&
           name.substr(name.size() - 4) == ".DIR";
}

void walker::run()
{
    levels_.push_back(std::make_unique<level>());
    levels_[0]->dir = volume.mfd_header;
    read_file_attributes(levels_[0]->dir, levels_[0]->dir_attributes);
    entered_[MFD_FILE_NUMBER] = true;
    path_text_ = directory_text(path_);
    walk_level(0);
}

walk_item walker::item_for(const dir_entry& e, bool newest, const file_header& h,
                           const file_attributes& a, bool is_directory, const std::string& subject)
{
    walk_item item;
    item.directories = &path_;
    item.directory_text = &path_text_;
    item.entry = &e;
    item.newest = newest;
    item.header = &h;
    item.attributes = &a;
    item.is_directory = is_directory;
    item.subject = &subject;
    return item;
}

void walker::walk_level(std::size_t depth)
{
    level& here = *levels_[depth];
    const std::string dir_subject = terminal_text(path_text_);
    set_report_subject(dir_subject.c_str());
    dir_entry_cursor at{};
    dir_entry e{};
    std::string last_name;
    std::size_t last_length = static_cast<std::size_t>(-1);
    while (next_dir_entry(*here.scan, here.dir, at, e)) {
        const bool newest = e.name_length != last_length ||
                            std::memcmp(last_name.data(), e.name, e.name_length) != 0;
        if (newest) {
            last_name.assign(e.name, e.name_length);
            last_length = e.name_length;
        }
        take_entry(depth, e, newest);
        set_report_subject(dir_subject.c_str());
    }
}

bool walker::read_header(const dir_entry& e, file_header& h, file_attributes& a)
{
    const std::uint64_t before = report_count;
    if (e.fid.number == 0 || !read_file_header(e.fid.number, h)) {
        if (report_count == before)
            report("no file header for file number %u", e.fid.number);
        return false;
    }
    read_file_attributes(h, a);
    if (a.fid.number != e.fid.number || a.fid.sequence != e.fid.sequence) {
        report("the header of file (%u,%u) belongs to another file (%u,%u): a stale entry",
               e.fid.number, e.fid.sequence, a.fid.number, a.fid.sequence);
        return false;
    }
    return true;
}

bool walker::may_enter(const walk_item& item, const file_header& h)
{
    const std::uint32_t number = item.entry->fid.number;
    if (number >= FILE_NUMBERS || entered_[number])
        return false; // 000000.DIR;1 naming the MFD, a loop, a second link
    if (path_.size() + 1 > MAX_DIRECTORY_DEPTH) {
        report("directory nested deeper than %zu levels, not entered", MAX_DIRECTORY_DEPTH);
        return false;
    }
    if (settings_.enforce_protection && !may_read(h)) {
        report("no access to the directory under the VMS protection");
        return false;
    }
    return true;
}

void walker::take_entry(std::size_t depth, const dir_entry& e, bool newest)
{
    const std::string subject = terminal_text(path_text_ + std::string(e.name, e.name_length)) +
                                ";" + std::to_string(e.version);
    set_report_subject(subject.c_str());
    if (!read_header(e, header_, attributes_))
        return;
    const bool is_directory = names_directory(e, attributes_);
    walk_item item = item_for(e, newest, header_, attributes_, is_directory, subject);
    const bool wanted = visitor_.file(item);
    if (!is_directory || !wanted || !may_enter(item, header_))
        return;
    std::vector<std::string> below = path_;
    below.emplace_back(directory_part(std::string_view(e.name, e.name_length)));
    if (!visitor_.wanted_below(below))
        return;
    entered_[e.fid.number] = true;
    if (levels_.size() <= depth + 1)
        levels_.push_back(std::make_unique<level>());
    level& next = *levels_[depth + 1];
    next.dir = header_;
    next.dir_attributes = attributes_;
    next.dir_entry_copy = e;
    next.dir_subject = subject;
    next.dir_newest = newest;
    const walk_item entered = item_for(next.dir_entry_copy, newest, next.dir, next.dir_attributes,
                                       true, next.dir_subject);
    visitor_.enter(entered);
    path_.push_back(below.back());
    path_text_ = directory_text(path_);
    walk_level(depth + 1);
    path_.pop_back();
    path_text_ = directory_text(path_);
    set_report_subject(next.dir_subject.c_str());
    visitor_.leave(entered);
}

} // namespace

std::string directory_text(const std::vector<std::string>& directories)
{
    if (directories.empty())
        return "[000000]";
    std::string text = "[";
    for (std::size_t i = 0; i < directories.size(); ++i) {
        if (i > 0)
            text += '.';
        text += directories[i];
    }
    return text + "]";
}

void walk_volume(const walk_settings& settings, walk_visitor& visitor)
{
    walker w(settings, visitor);
    w.run();
}

} // namespace odstar
