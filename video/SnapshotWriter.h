#pragma once
// Writes a 24-bit picture to a BMP file in the documents folder, named after
// the local date and time: "image_%04d%02d%02d-%02d%02d%02d.bmp" for the
// whole picture, "image_view_..." for the part a zoomed view shows.
//
// An existing file is never replaced: when the name is taken, "-2", "-3", ...
// go before ".bmp". The folder is not created when missing (the write fails).
// Rows take a multiple of four bytes as BMP readers require: for widths that
// are multiples of 4 the pixel data is the 24-bit picture byte for byte; other
// widths get zero bytes at the end of each row, and the header sizes count
// them.

#include <array>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

namespace kavrel {

inline constexpr size_t kBmpHeaderBytes = 54;

// What a snapshot holds: the whole decoded picture, or the part of it the
// view shows (the digital zoom's part, at the decoded resolution).
enum class SnapshotKind { kPicture, kView };

// Bytes per row in the file: 3 * width rounded up to a multiple of 4.
size_t BmpRowStride(int width);

// The 14-byte file header and the 40-byte information header, little-endian.
// width and height must be positive and the file must stay below 4 GiB
// (see FitsInBmp).
std::array<uint8_t, kBmpHeaderBytes> MakeBmpHeader(int width, int height);
bool FitsInBmp(int width, int height);

// "image_20121105-093007.bmp" for 09:30:07 on 5 November 2012; with
// `sequence` >= 2, "image_20121105-093007-2.bmp" and so on; of a view,
// "image_view_20121105-093007.bmp".
std::string SnapshotFileName(const std::tm& localTime, int sequence = 1,
                             SnapshotKind kind = SnapshotKind::kPicture);

// The documents folder of the user (XDG), not created here.
std::filesystem::path DefaultSnapshotFolder();

// Threads: SetFolder and SetClock may be called from any thread while another
// thread writes; the folder and the clock are guarded by m_mutex.
class SnapshotWriter {
  public:
    using Clock = std::function<std::tm()>;  // local time of the moment of writing

    SnapshotWriter();

    void SetFolder(std::filesystem::path folder);
    std::filesystem::path Folder() const;
    // Tests fix the time to provoke name clashes; an empty clock restores local time.
    void SetClock(Clock clock);
    // Runs on the writing thread once the file is created, before its bytes go
    // out: tests and benches make the write slow (a folder on a network) or
    // hold it. Empty: none.
    void SetWriteHook(std::function<void()> hook);

    // Writes the 3 * width * height bytes of `rgb` (blue green red, bottom row
    // first) behind the headers. True only when the whole file was written and
    // closed; a partly written file is removed. `path` receives the file's
    // path, or the first name tried when none could be created.
    bool WriteSnapshot(int width, int height, const uint8_t* rgb, std::string* path,
                       SnapshotKind kind = SnapshotKind::kPicture) const;

  private:
    mutable std::mutex m_mutex;
    std::filesystem::path m_folder;     // guarded by m_mutex
    Clock m_clock;                      // guarded by m_mutex; empty: the C library's local time
    std::function<void()> m_writeHook;  // guarded by m_mutex
};

}  // namespace kavrel
