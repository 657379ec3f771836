#pragma once
// One MP4 file being written from received frames, through libavformat, with
// no decoding and no encoding.
//
// The file is fragmented at key frames with an empty index at its start
// (frag_keyframe+empty_moov+default_base_moof): each finished fragment is a
// playable part on its own, so a crash loses at most the fragment being
// written. Each fragment is handed to the kernel and synced to the disk when
// the next key frame closes it. Frames go in as received (start codes and
// all); the muxer turns them into the file's length-prefixed form.
//
// Thread: one thread at a time (the recorder's writer thread).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "record/AnnexB.h"

struct AVFormatContext;

namespace kavrel::record {

// Why a file could not be made or written.
enum class WriteFailure {
    None,
    FolderUnwritable,  // the folder cannot be made or no file can be created in it
    DiskFull,          // no space left, over a quota or over the file-size limit
    WriteFailed,       // any other error of the file or the library
};
// The failure that an errno value stands for when writing.
WriteFailure FailureOfErrno(int error);

// What the file's codec description is made from.
struct ClipFormat {
    VideoCodec codec = VideoCodec::kUnknown;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> parameterSets;  // with start codes, as ParameterSets() gives them
};

// The picture size that the parameter sets and first slice of a key frame
// give; false when libavcodec's parser finds none.
bool ProbePictureSize(VideoCodec codec, std::span<const uint8_t> keyFrame, int* width, int* height);

class ClipMuxer {
  public:
    static constexpr int kTimeBase = 90000;  // ticks per second of every time stamp

    // Creates `path` (never replacing a file: an existing one fails with
    // errno EEXIST in `*error`), mode 0600, and writes the file's header.
    // Null on failure, with the reason in `*failure` and errno in `*error`.
    static std::unique_ptr<ClipMuxer> Create(const std::filesystem::path& path,
                                             const ClipFormat& format, WriteFailure* failure,
                                             int* error);
    // Closes the file as it is (no trailer) when Finish was not called.
    ~ClipMuxer();
    ClipMuxer(const ClipMuxer&) = delete;
    ClipMuxer& operator=(const ClipMuxer&) = delete;

    // Appends one frame at `pts` lasting `duration` (both in kTimeBase ticks
    // from the file's start). False once any write has failed: Failure() says why.
    bool Write(std::span<const uint8_t> frame, int64_t pts, int64_t duration, bool keyFrame);
    // Writes the last fragment and the trailer and closes the file.
    bool Finish();

    WriteFailure Failure() const { return m_failure; }
    int64_t BytesWritten() const { return m_bytes; }

  private:
    ClipMuxer() = default;
    static int WritePacket(void* opaque, uint8_t* bytes, int size);
    bool Check(int result);
    void Close();

    int m_fd = -1;
    AVFormatContext* m_context = nullptr;  // owned; with its custom I/O context
    int64_t m_bytes = 0;                   // handed to the kernel so far
    int64_t m_wholeBytes = 0;              // of them: the header and whole fragments
    int m_errno = 0;                       // of the first failed write
    WriteFailure m_failure = WriteFailure::None;
};

}  // namespace kavrel::record
