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
#include <string_view>

namespace lapquill {

// What kind of fault stopped a load.
enum class LoadFailureKind {
    None,            // the last load succeeded
    Missing,         // no file at the path
    NotRegularFile,  // a folder, a pipe or a device
    PermissionDenied,
    WrongType,       // the magic at the start is not the loader's
    WrongVersion,
    Truncated,       // the file ends inside a field
    CountTooLarge,   // a count needs more bytes than the file holds
    Invalid,         // a value the format does not allow
    Unreadable       // any other error of the file system
};

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
    // Why the file could not be opened: Missing, NotRegularFile, PermissionDenied or
    // Unreadable; None when it is open.
    LoadFailureKind OpenError() const { return openError_; }
    bool NotRegular() const { return openError_ == LoadFailureKind::NotRegularFile; }

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
    template <typename T, std::size_t N, T (*Load)(const std::uint8_t*)>
    bool ReadLittle(T* out);

    std::FILE* file_ = nullptr;
    bool open_ = false;
    LoadFailureKind openError_ = LoadFailureKind::None;
    const std::uint8_t* data_ = nullptr;  // current window: the memory span, or the file buffer
    std::size_t windowSize_ = 0;          // valid bytes in the window
    std::size_t windowPos_ = 0;           // next byte to read in the window
    std::int64_t offset_ = 0;             // bytes consumed from the start of the source
    std::int64_t size_ = 0;               // total bytes in the source
    std::uint8_t* buffer_ = nullptr;      // file buffer, owned
    std::size_t bufferSize_ = 0;          // bytes in the file buffer
};

// Where the last load on this thread stopped and why, kept beside the loaders' plain
// true/false. The program shows Reason() as the detail of its own message.
struct LoadFailure {
    LoadFailureKind kind = LoadFailureKind::None;
    std::string step;         // the field or part that failed; empty after a success
    std::int64_t offset = 0;  // bytes consumed when it failed
    std::int64_t size = -1;   // the file's size in bytes, when known
    std::string note;         // what the kind alone does not say (a version, a count)

    // One human sentence, e.g. "The file is cut short: it ends inside the record count at
    // byte 1000." Empty after a success.
    std::string Reason() const;
};
const LoadFailure& LastLoadFailure();
// Records a failure and returns false, so loaders can write `return Fail(r, "records");`.
// Without a kind the read of the field ran out of data.
bool Fail(const LeReader& r, const char* step);
bool Fail(const LeReader& r, const char* step, LoadFailureKind kind, std::string note = {});
// A reader that could not open its file records why.
bool FailOpen(const LeReader& r);
bool Fail(const char* step);
void ClearLoadFailure();

// Reads the header of a data file, `size` bytes into `header` (zeroed by the caller): first the
// marker (magic, its zero, a free byte, the version), then the rest. Fails with the reason
// recorded when the file did not open, when the magic or the version is not the given one, or
// when the file ends inside the header. A file too short even for the marker counts as cut,
// or, with shortIsForeign, as not of this kind when the bytes it has do not start the magic.
// `kind` names the file in the reason ("a replay file").
bool ReadMarkedHeader(LeReader& r, std::uint8_t* header, int size, std::string_view magic,
                      std::uint8_t version, const char* kind, bool shortIsForeign = false);

// Overflow-safe size arithmetic for the allocation bounds. Each returns false on overflow
// of a non-negative 64-bit result.
bool MulSizes(std::int64_t a, std::int64_t b, std::int64_t* out);
bool AddSizes(std::int64_t a, std::int64_t b, std::int64_t* out);

}  // namespace lapquill
