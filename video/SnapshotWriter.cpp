#include "video/SnapshotWriter.h"

#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

namespace kavrel {
namespace {

// Gives up after this many taken names within one second.
constexpr int kMaxSequence = 1000;

void PutU16(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

void PutU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool WriteBody(std::FILE* file, int width, int height, const uint8_t* rgb) {
    const auto header = MakeBmpHeader(width, height);
    if (std::fwrite(header.data(), 1, header.size(), file) != header.size())
        return false;
    const size_t rowBytes = 3 * size_t(width);
    const size_t stride = BmpRowStride(width);
    if (stride == rowBytes) {
        const size_t total = rowBytes * size_t(height);
        return std::fwrite(rgb, 1, total, file) == total;
    }
    static constexpr uint8_t kZeros[3] = {0, 0, 0};
    for (int row = 0; row < height; ++row) {
        if (std::fwrite(rgb + size_t(row) * rowBytes, 1, rowBytes, file) != rowBytes)
            return false;
        if (std::fwrite(kZeros, 1, stride - rowBytes, file) != stride - rowBytes)
            return false;
    }
    return true;
}

}  // namespace

size_t BmpRowStride(int width) {
    return (3 * size_t(width) + 3) & ~size_t(3);
}

bool FitsInBmp(int width, int height) {
    if (width <= 0 || height <= 0)
        return false;
    return BmpRowStride(width) * size_t(height) + kBmpHeaderBytes <=
           std::numeric_limits<uint32_t>::max();
}

std::array<uint8_t, kBmpHeaderBytes> MakeBmpHeader(int width, int height) {
    std::array<uint8_t, kBmpHeaderBytes> header{};
    const uint32_t pixelBytes = uint32_t(BmpRowStride(width) * size_t(height));
    header[0] = 'B';
    header[1] = 'M';
    PutU32(&header[2], uint32_t(kBmpHeaderBytes) + pixelBytes);
    PutU32(&header[10], uint32_t(kBmpHeaderBytes));
    PutU32(&header[14], 40);
    PutU32(&header[18], uint32_t(width));
    PutU32(&header[22], uint32_t(height));  // positive: bottom row first
    PutU16(&header[26], 1);
    PutU16(&header[28], 24);
    PutU32(&header[34], pixelBytes);
    return header;
}

std::string SnapshotFileName(const std::tm& localTime, int sequence, SnapshotKind kind) {
    char name[96];
    const int length = std::snprintf(
        name, sizeof name, "image_%s%04d%02d%02d-%02d%02d%02d",
        kind == SnapshotKind::kView ? "view_" : "", localTime.tm_year + 1900, localTime.tm_mon + 1,
        localTime.tm_mday, localTime.tm_hour, localTime.tm_min, localTime.tm_sec);
    std::string result(name, size_t(length > 0 ? length : 0));
    if (sequence >= 2)
        result += "-" + std::to_string(sequence);
    return result + ".bmp";
}

std::filesystem::path DefaultSnapshotFolder() {
    return std::filesystem::path(
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString());
}

SnapshotWriter::SnapshotWriter() : m_folder(DefaultSnapshotFolder()) {}

void SnapshotWriter::SetFolder(std::filesystem::path folder) {
    std::lock_guard lock(m_mutex);
    m_folder = std::move(folder);
}

std::filesystem::path SnapshotWriter::Folder() const {
    std::lock_guard lock(m_mutex);
    return m_folder;
}

void SnapshotWriter::SetClock(Clock clock) {
    std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

void SnapshotWriter::SetWriteHook(std::function<void()> hook) {
    std::lock_guard lock(m_mutex);
    m_writeHook = std::move(hook);
}

bool SnapshotWriter::WriteSnapshot(int width, int height, const uint8_t* rgb, std::string* path,
                                   SnapshotKind kind) const {
    std::filesystem::path folder;
    std::tm localTime{};
    std::function<void()> hook;
    {
        std::lock_guard lock(m_mutex);
        folder = m_folder;
        localTime = m_clock ? m_clock() : LocalTimeNow();
        hook = m_writeHook;
    }
    path->assign((folder / SnapshotFileName(localTime, 1, kind)).string());
    if (rgb == nullptr || !FitsInBmp(width, height))
        return false;

    for (int sequence = 1; sequence <= kMaxSequence; ++sequence) {
        const std::filesystem::path candidate =
            folder / SnapshotFileName(localTime, sequence, kind);
        // "x": exclusive creation, so an existing file is never replaced.
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(candidate.c_str(), "wbx"));
        if (!file) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        path->assign(candidate.string());
        if (hook)
            hook();
        const bool written = WriteBody(file.get(), width, height, rgb);
        const bool closed = std::fclose(file.release()) == 0;
        if (written && closed)
            return true;
        std::error_code ignored;
        std::filesystem::remove(candidate, ignored);
        return false;
    }
    return false;
}

}  // namespace kavrel
