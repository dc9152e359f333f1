// The intake of an outbox: a fixed-size area of a file mapped into memory, where the host's thread
// stores a request by copying its bytes, with no system call. A library thread later writes each
// request out as the request file of its own that the outbox sends from, and marks it written.
// What a process stored and did not write out survives its end in the file, and the next process
// that sends for the app id writes it out.
//
// Layout (numbers little-endian as the machine keeps them; the file never leaves the machine):
//   header, 64 bytes: "ORBA intake 1\n" padded with NUL to 16 bytes, then the 32-bit generation
//   records from byte 64 on, each starting at a multiple of 8:
//     32-bit state (0 none, 1 stored, 2 written out), 32-bit generation, 64-bit text length,
//     64-bit checksum, the 52-character request id, 4 bytes of padding, then the text (the request
//     file's content), padded to a multiple of 8.
// A record counts only while its generation is the header's: starting the area over takes a new
// generation, so that what an earlier one left behind ends the walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ORBA {

class OutboxIntake {
public:
    static constexpr std::size_t kHeaderSize = 64;
    static constexpr std::size_t kIdSize = 52;

    struct Record {
        std::size_t offset = 0;
        std::string id;
        std::string text;
        bool written = false;  // already written out as a request file
    };

    // Works on `size` bytes at `bytes`, which outlive this object.
    OutboxIntake(unsigned char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    // Makes the bytes an empty intake.
    void format();
    // Whether the bytes start with an intake's header.
    bool formatted() const;

    // Stores one request after the last. False when it does not fit in what is left; `id` must be
    // kIdSize characters. The record is whole before it counts: a process that dies meanwhile
    // leaves nothing half-stored.
    bool append(std::string_view id, std::string_view text);
    // The records from `from` (an offset append returned records at) up to the end of what was
    // stored, oldest first. `damaged` is set when a record failed its checksum: the walk stops there,
    // as its length cannot be trusted either.
    std::vector<Record> records(std::size_t from, bool* damaged = nullptr) const;
    void markWritten(std::size_t offset);
    // Where the next record goes.
    std::size_t end() const { return end_; }
    // Starts over at the beginning: for when every record is written out.
    void restart();

    // The bytes one record of `textSize` takes.
    static std::size_t recordSize(std::size_t textSize);

private:
    std::uint32_t generation() const;

    unsigned char* bytes_;
    std::size_t size_;
    std::size_t end_ = kHeaderSize;
};

}  // namespace ORBA
