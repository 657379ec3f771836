#pragma once
// What ffprobe and ffmpeg (Debian's ffmpeg package) say about a clip: the
// players' view of a file, independent of the library that wrote it.

#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kavrel::test {

// Runs `command` through the shell; its standard output (and standard error
// too when `withErrors`), and the exit status in `*status` when given.
std::string RunShell(const std::string& command, bool withErrors = false, int* status = nullptr);

// True when both ffprobe and ffmpeg are on the PATH.
bool ClipToolsPresent();

// The container's duration in seconds (negative when ffprobe gives none).
double ClipDuration(const std::filesystem::path& file);
// The number of video packets ffprobe reads.
int ClipPackets(const std::filesystem::path& file);
// "codec,width,height" of the first video stream.
std::string ClipStream(const std::filesystem::path& file);
// Each packet's presentation time in seconds, and its flags ("K__" for a key frame).
std::vector<double> ClipPacketTimes(const std::filesystem::path& file);
std::string ClipFirstPacketFlags(const std::filesystem::path& file);
// What `ffmpeg -v error` prints while decoding the whole clip: empty when clean.
std::string ClipDecodeErrors(const std::filesystem::path& file);

// The .mp4 files in `folder`, sorted by name.
std::vector<std::filesystem::path> ClipsIn(const std::filesystem::path& folder);

// A file-size limit for the whole process while it lives: the disk "fills"
// (writes past it fail with EFBIG; its signal is ignored meanwhile).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

}  // namespace kavrel::test
