// The listing lines: [DIR]NAME.TYPE;N, the long format, and JSON objects.
#include "odstar/list.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "diag/report.hpp"
#include "ods2/attributes.hpp"
#include "odstar/names.hpp"
#include "odstar/walk.hpp"

namespace odstar {

namespace {

std::string vms_path(const walk_item& item)
{
    return *item.directory_text + std::string(item.entry->name, item.entry->name_length) + ";" +
           std::to_string(item.entry->version);
}

// The long listing shows whole seconds, so that its columns line up; --json
// keeps the fraction.
void drop_fraction(char (&time)[TIME_TEXT])
{
    char* dot = std::strchr(time, '.');
    if (dot != nullptr)
        std::memmove(dot, "Z", 2);
}

void print_long(const walk_item& item)
{
    const file_attributes& a = *item.attributes;
    char prot[PROTECTION_TEXT], owner[UIC_TEXT], format[RECORD_FORMAT_TEXT], revised[TIME_TEXT];
    format_protection(a.protection, prot);
    format_uic(a.owner, owner);
    format_record_format(a, format);
    format_time(a.revised, revised);
    drop_fraction(revised);
    const std::string blocks =
        std::to_string(a.blocks_used) + "/" + std::to_string(a.highest_block);
    std::printf("%-22s %-15s %12" PRIu64 " %13s %-20s %-16s %s\n", prot, owner, a.size_bytes,
                blocks.c_str(), revised, format, terminal_text(vms_path(item)).c_str());
}

std::string json_string(std::string_view bytes)
{
    return "\"" + json_text(bytes) + "\"";
}

std::string json_fid(const file_id& f)
{
    return "[" + std::to_string(f.number) + "," + std::to_string(f.sequence) + "," +
           std::to_string(f.rvn) + "]";
}

std::string json_time(const vms_time& t)
{
    if (!t.known)
        return "null";
    char text[TIME_TEXT];
    format_time(t, text);
    return json_string(text);
}

void print_json(const walk_item& item)
{
    const file_attributes& a = *item.attributes;
    char prot[PROTECTION_TEXT], owner[UIC_TEXT], format[RECORD_FORMAT_TEXT];
    format_protection(a.protection, prot);
    format_uic(a.owner, owner);
    format_record_format(a, format);
    const std::string name(item.entry->name, item.entry->name_length);
    std::string line = "{\"path\":" + json_string(vms_path(item));
    line += ",\"directory\":" + json_string(*item.directory_text);
    line += ",\"name\":" + json_string(name);
    line += ",\"version\":" + std::to_string(item.entry->version);
    line += ",\"newest\":" + std::string(item.newest ? "true" : "false");
    line += ",\"is_directory\":" + std::string(item.is_directory ? "true" : "false");
    line += ",\"fid\":" + json_fid(a.fid);
    line += ",\"back_link\":" + json_fid(a.back_link);
    line += ",\"size\":" + std::to_string(a.size_bytes);
    line += ",\"blocks_used\":" + std::to_string(a.blocks_used);
    line += ",\"blocks_allocated\":" + std::to_string(a.highest_block);
    line += ",\"eof_block\":" + std::to_string(a.eof_block);
    line += ",\"first_free_byte\":" + std::to_string(a.first_free_byte);
    line += ",\"record_format\":" + json_string(format);
    line += ",\"record_type\":" + std::to_string(a.record_format);
    line += ",\"record_attributes\":" + std::to_string(a.record_attributes);
    line += ",\"record_size\":" + std::to_string(a.record_size);
    line += ",\"vfc_size\":" + std::to_string(a.vfc_size);
    line += ",\"file_characteristics\":" + std::to_string(a.file_characteristics);
    line += ",\"owner\":" + json_string(owner);
    line += ",\"owner_group\":" + std::to_string(a.owner.group);
    line += ",\"owner_member\":" + std::to_string(a.owner.member);
    line += ",\"protection\":" + json_string(prot);
    line += ",\"protection_mask\":" + std::to_string(a.protection);
    line += ",\"header_name\":" +
            (a.ident_known ? json_string(std::string_view(a.name, a.name_length)) : "null");
    line += ",\"revision_count\":" + std::to_string(a.revision_count);
    line += ",\"created\":" + json_time(a.created);
    line += ",\"revised\":" + json_time(a.revised);
    line += ",\"expires\":" + json_time(a.expires);
    line += ",\"backup\":" + json_time(a.backup);
    line += "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

class lister : public walk_visitor {
  public:
    lister(const run_options& opts, const selection& chosen) : opts_(opts), chosen_(chosen) {}

    bool file(const walk_item& item) override
    {
        candidate c{item.directories, std::string_view(item.entry->name, item.entry->name_length),
                    item.entry->version, item.newest};
        if (!chosen_.selects(c))
            return true;
        if (opts_.json)
            print_json(item);
        else if (opts_.verbose)
            print_long(item);
        else
            std::printf("%s\n", terminal_text(vms_path(item)).c_str());
        return true;
    }

    bool wanted_below(const std::vector<std::string>& directories) override
    {
        return chosen_.may_select_below(directories);
    }

  private:
    const run_options& opts_;
    const selection& chosen_;
};

} // namespace

int list_volume(const run_options& opts, const selection& chosen)
{
    lister l(opts, chosen);
    walk_volume({.enforce_protection = !opts.device.empty()}, l);
    set_report_subject("odstar");
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        report("write error on standard output");
        return EXIT_SOME_FAILED;
    }
    return report_count > 0 ? EXIT_SOME_FAILED : EXIT_OK;
}

} // namespace odstar
