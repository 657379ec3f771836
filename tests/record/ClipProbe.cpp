#include "tests/record/ClipProbe.h"

#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sstream>

namespace kavrel::test {
namespace {

std::string Quoted(const std::filesystem::path& file) {
    return "'" + file.string() + "'";  // test folders hold no quotes
}

std::string Probe(const std::filesystem::path& file, const std::string& options) {
    return RunShell("ffprobe -v error -select_streams v:0 " + options + " " + Quoted(file));
}

}  // namespace

std::string RunShell(const std::string& command, bool withErrors, int* status) {
    const std::string line = command + (withErrors ? " 2>&1" : " 2>/dev/null");
    FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe)
        return {};
    std::string out;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, got);
    const int result = ::pclose(pipe);
    if (status)
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return out;
}

bool ClipToolsPresent() {
    int status = 1;
    RunShell("command -v ffprobe && command -v ffmpeg", false, &status);
    return status == 0;
}

double ClipDuration(const std::filesystem::path& file) {
    const std::string out =
        RunShell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(file));
    try {
        return std::stod(out);
    } catch (...) {
        return -1;
    }
}

int ClipPackets(const std::filesystem::path& file) {
    const std::string out =
        Probe(file, "-count_packets -show_entries stream=nb_read_packets -of csv=p=0");
    try {
        return std::stoi(out);
    } catch (...) {
        return -1;
    }
}

std::string ClipStream(const std::filesystem::path& file) {
    std::string out = Probe(file, "-show_entries stream=codec_name,width,height -of csv=p=0");
    out.erase(std::remove(out.begin(), out.end(), '\n'), out.end());
    return out;
}

std::vector<double> ClipPacketTimes(const std::filesystem::path& file) {
    std::istringstream lines(Probe(file, "-show_entries packet=pts_time -of csv=p=0"));
    std::vector<double> times;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty())
            times.push_back(std::stod(line));
    }
    return times;
}

std::string ClipFirstPacketFlags(const std::filesystem::path& file) {
    std::string out = Probe(file, "-read_intervals %+#1 -show_entries packet=flags -of csv=p=0");
    out.erase(std::remove(out.begin(), out.end(), '\n'), out.end());
    return out;
}

std::string ClipDecodeErrors(const std::filesystem::path& file) {
    // Frames keep the file's own 90 kHz times on the way out: in a time base
    // of the average frame rate, frames of one burst would collide there.
    return RunShell("ffmpeg -nostdin -v error -i " + Quoted(file) +
                        " -enc_time_base -1 -fps_mode passthrough -f null -",
                    true);
}

std::vector<std::filesystem::path> ClipsIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> clips;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".mp4")
            clips.push_back(entry.path());
    }
    std::sort(clips.begin(), clips.end());
    return clips;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &m_saved);
    m_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_saved;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_handler);
}

}  // namespace kavrel::test
