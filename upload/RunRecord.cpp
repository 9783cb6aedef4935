#include "upload/RunRecord.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "rtl/Utf8Path.h"

namespace {

// A label value: backslash, double quote and line feed escaped; other
// control characters dropped (a server's reply is hostile text).
std::string LabelValue(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
    }
    return out;
}

void Metric(std::ostringstream& out, const char* name, const char* help, const std::string& labels, std::int64_t value) {
    out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << " gauge\n"
        << name << '{' << labels << "} " << value << '\n';
}

}  // namespace

bool IsSuccessStatus(int status) { return status == 0 || status == 9; }

std::string FormatRunRecord(const TRunRecord& r) {
    const std::string folder = "folder=\"" + LabelValue(r.Folder) + "\"";
    std::ostringstream out;
    Metric(out, "qelzav_upload_last_run_timestamp_seconds", "When the last upload run ended.", folder, r.RunTime);
    Metric(out, "qelzav_upload_last_status", "Exit status of the last upload run (0 finished, 9 finished with files left out).",
           folder, r.Status);
    Metric(out, "qelzav_upload_last_files_sent", "Files the last upload run sent.", folder, r.FilesSent);
    Metric(out, "qelzav_upload_last_bytes_sent", "Bytes the last upload run sent.", folder, r.BytesSent);
    if (r.LastSuccess)
        Metric(out, "qelzav_upload_last_success_timestamp_seconds", "When the last successful upload run ended.", folder,
               *r.LastSuccess);
    Metric(out, "qelzav_upload_last_message_info", "The last message of the last upload run.",
           folder + ",message=\"" + LabelValue(r.Message) + "\"", 1);
    return out.str();
}

std::optional<std::int64_t> LastSuccessIn(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    const std::string name = "qelzav_upload_last_success_timestamp_seconds";
    while (std::getline(in, line)) {
        if (line.compare(0, name.size(), name) != 0) continue;
        const auto space = line.rfind(' ');
        if (space == std::string::npos) continue;
        try {
            return std::stoll(line.substr(space + 1));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void WriteRunRecord(const std::string& path, TRunRecord record) {
    const std::filesystem::path file = PathFromUtf8(path);
    if (IsSuccessStatus(record.Status)) {
        record.LastSuccess = record.RunTime;
    } else if (!record.LastSuccess) {
        std::ifstream before(file, std::ios::binary);
        std::ostringstream text;
        text << before.rdbuf();
        record.LastSuccess = LastSuccessIn(text.str());
    }
    std::filesystem::path temporary = file;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << FormatRunRecord(record);
        out.close();
        if (!out) throw std::runtime_error(path + ": the monitoring record cannot be written");
    }
    // No secret in it: readable by the monitoring agent's account whatever
    // the umask of the run (the service's keeps others out).
    std::error_code ec;
    using std::filesystem::perms;
    std::filesystem::permissions(temporary, perms::owner_read | perms::owner_write | perms::group_read | perms::others_read, ec);
    std::filesystem::rename(temporary, file, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        throw std::runtime_error(path + ": the monitoring record cannot be written");
    }
}
