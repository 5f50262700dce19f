#include "files/le_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "files/file_text.h"
#include "files/le_bytes.h"

namespace lapquill {

namespace {
constexpr std::int64_t kFileBufferSize = 64 * 1024;
}

LeReader::LeReader(std::span<const std::uint8_t> data)
    : open_(true),
      data_(data.data()),
      windowSize_(data.size()),
      size_(static_cast<std::int64_t>(data.size())) {}

namespace {
LoadFailureKind KindOfErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return LoadFailureKind::Missing;
        case EACCES:
        case EPERM: return LoadFailureKind::PermissionDenied;
        case EISDIR: return LoadFailureKind::NotRegularFile;
        default: return LoadFailureKind::Unreadable;
    }
}
}  // namespace

LeReader::LeReader(const std::string& path) {
    // Only regular files: their size bounds every allocation a loader makes. A pipe or a
    // device could claim any count and feed bytes forever, and opening a FIFO without
    // O_NONBLOCK waits for a writer that may never come. The type is checked on the opened
    // descriptor, so nothing can swap the file between the check and the reads.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        openError_ = KindOfErrno(errno);
        return;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        openError_ = LoadFailureKind::NotRegularFile;
        ::close(fd);
        return;
    }
    file_ = fdopen(fd, "rb");
    if (!file_) {
        openError_ = KindOfErrno(errno);
        ::close(fd);
        return;
    }
    size_ = static_cast<std::int64_t>(st.st_size);
    // A small file gets a small buffer: reading it never costs much more than its size.
    bufferSize_ = static_cast<std::size_t>(std::clamp<std::int64_t>(size_, 1, kFileBufferSize));
    buffer_ = new std::uint8_t[bufferSize_];
    data_ = buffer_;
    open_ = true;
}

LeReader::~LeReader() {
    if (file_) std::fclose(file_);
    delete[] buffer_;
}

bool LeReader::Fill() {
    if (!file_) return false;
    windowSize_ = std::fread(buffer_, 1, bufferSize_, file_);
    windowPos_ = 0;
    if (windowSize_ == 0) {
        // The file ended earlier than its size said (it shrank while open): trust the data.
        size_ = offset_;
        return false;
    }
    return true;
}

std::size_t LeReader::ReadAvailable(void* out, std::size_t n) {
    auto* dst = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    while (done < n) {
        if (windowPos_ == windowSize_ && !Fill()) break;
        const std::size_t take = std::min(n - done, windowSize_ - windowPos_);
        std::memcpy(dst + done, data_ + windowPos_, take);
        windowPos_ += take;
        done += take;
        offset_ += static_cast<std::int64_t>(take);
    }
    return done;
}

bool LeReader::ReadBytes(void* out, std::size_t n) {
    if (windowSize_ - windowPos_ >= n) {
        std::memcpy(out, data_ + windowPos_, n);
        windowPos_ += n;
        offset_ += static_cast<std::int64_t>(n);
        return true;
    }
    return ReadAvailable(out, n) == n;
}

bool LeReader::Skip(std::int64_t n) {
    if (n <= 0) return true;
    while (n > 0) {
        if (windowPos_ == windowSize_ && !Fill()) return false;
        const std::size_t inWindow = windowSize_ - windowPos_;
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::int64_t>(n, static_cast<std::int64_t>(inWindow)));
        windowPos_ += take;
        offset_ += static_cast<std::int64_t>(take);
        n -= static_cast<std::int64_t>(take);
    }
    return true;
}

template <typename T, std::size_t N, T (*Load)(const std::uint8_t*)>
bool LeReader::ReadLittle(T* out) {
    std::uint8_t b[N];
    if (!ReadBytes(b, N)) return false;
    *out = Load(b);
    return true;
}

bool LeReader::ReadI16(std::int16_t* out) { return ReadLittle<std::int16_t, 2, LoadLeI16>(out); }
bool LeReader::ReadU16(std::uint16_t* out) { return ReadLittle<std::uint16_t, 2, LoadLeU16>(out); }
bool LeReader::ReadI32(std::int32_t* out) { return ReadLittle<std::int32_t, 4, LoadLeI32>(out); }
bool LeReader::ReadU32(std::uint32_t* out) { return ReadLittle<std::uint32_t, 4, LoadLeU32>(out); }
bool LeReader::ReadF32(float* out) { return ReadLittle<float, 4, LoadLeF32>(out); }

namespace {
thread_local LoadFailure tLastFailure;
}

const LoadFailure& LastLoadFailure() { return tLastFailure; }

bool Fail(const LeReader& r, const char* step) {
    return Fail(r, step, LoadFailureKind::Truncated);
}

bool Fail(const LeReader& r, const char* step, LoadFailureKind kind, std::string note) {
    tLastFailure.kind = kind;
    tLastFailure.step = step;
    tLastFailure.offset = r.Offset();
    tLastFailure.size = r.IsOpen() ? r.Size() : -1;
    tLastFailure.note = std::move(note);
    return false;
}

bool FailOpen(const LeReader& r) {
    tLastFailure = LoadFailure{};
    tLastFailure.kind = r.OpenError() == LoadFailureKind::None ? LoadFailureKind::Unreadable
                                                                : r.OpenError();
    tLastFailure.step = r.NotRegular() ? "not a regular file" : "open";
    return false;
}

bool Fail(const char* step) {
    tLastFailure = LoadFailure{};
    tLastFailure.kind = LoadFailureKind::Unreadable;
    tLastFailure.step = step;
    return false;
}

bool ReadMarkedHeader(LeReader& r, std::uint8_t* header, int size, std::string_view magic,
                      std::uint8_t version, const char* kind, bool shortIsForeign) {
    if (!r.IsOpen()) return FailOpen(r);
    const bool whole = r.ReadBytes(header, kFileMarkerSize);
    if ((whole || shortIsForeign) && !MagicMatches(header, magic)) {
        return Fail(r, "magic", LoadFailureKind::WrongType, kind);
    }
    if (!whole) return Fail(r, "magic");
    if (header[kFileVersionAt] != version) {
        return Fail(r, "version", LoadFailureKind::WrongVersion,
                    "version " + std::to_string(header[kFileVersionAt]) + ", this program reads version " +
                        std::to_string(version));
    }
    if (!r.ReadBytes(header + kFileMarkerSize, static_cast<std::size_t>(size - kFileMarkerSize))) {
        return Fail(r, "header");
    }
    return true;
}

std::string LoadFailure::Reason() const {
    const std::string at = " at byte " + std::to_string(offset);
    const std::string sizeText =
        size >= 0 ? " (the file has " + std::to_string(size) + " bytes)" : std::string();
    switch (kind) {
        case LoadFailureKind::None: return {};
        case LoadFailureKind::Missing: return "The file does not exist.";
        case LoadFailureKind::NotRegularFile:
            return "It is not a regular file: it is a folder, a pipe or a device.";
        case LoadFailureKind::PermissionDenied: return "Permission to read the file is denied.";
        case LoadFailureKind::WrongType:
            return "It is not " + (note.empty() ? std::string("a file of this kind") : note) +
                   ": it does not start with the right marker.";
        case LoadFailureKind::WrongVersion:
            return "It has the wrong version" + (note.empty() ? std::string() : " (" + note + ")") +
                   ".";
        case LoadFailureKind::Truncated:
            return "The file is cut short: it ends inside the " + step + at + sizeText + ".";
        case LoadFailureKind::CountTooLarge:
            return "The " + step + (note.empty() ? std::string() : " (" + note + ")") +
                   " needs more bytes than the file holds" + sizeText + "; read up to byte " +
                   std::to_string(offset) + ".";
        case LoadFailureKind::Invalid:
            return "The " + step + at + " has a value the format does not allow" +
                   (note.empty() ? std::string() : " (" + note + ")") + ".";
        case LoadFailureKind::Unreadable: return "The file could not be read.";
    }
    return {};
}

void ClearLoadFailure() { tLastFailure = LoadFailure{}; }

bool MulSizes(std::int64_t a, std::int64_t b, std::int64_t* out) {
    if (a < 0 || b < 0) return false;
    if (a != 0 && b > std::numeric_limits<std::int64_t>::max() / a) return false;
    *out = a * b;
    return true;
}

bool AddSizes(std::int64_t a, std::int64_t b, std::int64_t* out) {
    if (a < 0 || b < 0) return false;
    if (a > std::numeric_limits<std::int64_t>::max() - b) return false;
    *out = a + b;
    return true;
}

}  // namespace lapquill
