// A buffered little-endian sequential reader over a file or a memory span: the one way the
// loaders read their files. Every read returns false when the data run out; values are
// assembled with memcpy and explicit byte order, never by casting into the buffer. It also
// knows how many bytes remain, so that loaders can refuse counts the file cannot hold before
// they allocate for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace lapquill {

class LeReader {
public:
    // Reads from memory; the span must outlive the reader.
    explicit LeReader(std::span<const std::uint8_t> data);
    // Opens a regular file for reading. IsOpen() tells whether that worked.
    explicit LeReader(const std::string& path);
    ~LeReader();
    LeReader(const LeReader&) = delete;
    LeReader& operator=(const LeReader&) = delete;

    bool IsOpen() const { return open_; }
    // True when the path names something other than a regular file (a FIFO, a device, a
    // folder); such a path is never read.
    bool NotRegular() const { return notRegular_; }

    bool ReadU8(std::uint8_t* out) { return ReadBytes(out, 1); }
    bool ReadI16(std::int16_t* out);
    bool ReadU16(std::uint16_t* out);
    bool ReadI32(std::int32_t* out);
    bool ReadU32(std::uint32_t* out);
    bool ReadF32(float* out);

    // Copies the next n bytes. A short read copies what there was, returns false and leaves
    // the reader at the end of the data.
    bool ReadBytes(void* out, std::size_t n);
    // Like ReadBytes, but reports how many bytes arrived (a short read is not an error here).
    std::size_t ReadAvailable(void* out, std::size_t n);

    // Skips n bytes as if they were read one at a time: reaching the end inside the skip
    // fails; n of zero or less does nothing and succeeds.
    bool Skip(std::int64_t n);

    std::int64_t Offset() const { return offset_; }
    std::int64_t Size() const { return size_; }
    std::int64_t Remaining() const { return size_ - offset_; }

private:
    bool Fill();
    template <typename T, std::size_t N>
    bool ReadLittle(T* out);

    std::FILE* file_ = nullptr;
    bool open_ = false;
    bool notRegular_ = false;
    const std::uint8_t* data_ = nullptr;  // current window: the memory span, or the file buffer
    std::size_t windowSize_ = 0;          // valid bytes in the window
    std::size_t windowPos_ = 0;           // next byte to read in the window
    std::int64_t offset_ = 0;             // bytes consumed from the start of the source
    std::int64_t size_ = 0;               // total bytes in the source
    std::uint8_t* buffer_ = nullptr;      // file buffer, owned
    std::size_t bufferSize_ = 0;          // bytes in the file buffer
};

// Where the last load on this thread stopped and why, kept beside the loaders' plain
// true/false for tests and `lapquill-cli info`. Users only ever see the program's messages.
struct LoadFailure {
    std::string step;         // the loader step that failed; empty after a success
    std::int64_t offset = 0;  // bytes consumed when it failed
};
const LoadFailure& LastLoadFailure();
// Records a failure and returns false, so loaders can write `return Fail(r, "records");`.
bool Fail(const LeReader& r, const char* step);
bool Fail(const char* step);
// The failure of a reader that could not open its path: "not a regular file" or "open".
bool FailOpen(const LeReader& r);
void ClearLoadFailure();

// Overflow-safe size arithmetic for the allocation bounds. Each returns false on overflow
// of a non-negative 64-bit result.
bool MulSizes(std::int64_t a, std::int64_t b, std::int64_t* out);
bool AddSizes(std::int64_t a, std::int64_t b, std::int64_t* out);

}  // namespace lapquill
