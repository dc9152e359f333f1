#include "tracker/OutboxIntake.h"

#include <cstring>

namespace ORBA {
namespace {

constexpr char kMagic[16] = "ORBA intake 1\n";
constexpr std::size_t kGenerationOffset = 16;
constexpr std::size_t kRecordHeaderSize = 80;  // state, generation, length, checksum, id, padding
constexpr std::uint32_t kStored = 1;
constexpr std::uint32_t kWritten = 2;

std::size_t roundUp(std::size_t size) { return (size + 7) & ~static_cast<std::size_t>(7); }

template <typename T>
T load(const unsigned char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T>
void put(unsigned char* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

// The state word is written last and read first: a record whose state says "stored" is whole, for
// a library thread of this process and for whoever reads the file after this process died.
std::uint32_t loadState(const unsigned char* at) {
    return __atomic_load_n(reinterpret_cast<const std::uint32_t*>(at), __ATOMIC_ACQUIRE);
}

void storeState(unsigned char* at, std::uint32_t state) {
    __atomic_store_n(reinterpret_cast<std::uint32_t*>(at), state, __ATOMIC_RELEASE);
}

std::uint64_t checksum(std::uint32_t generation, std::uint64_t length, std::string_view id,
                       std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    const auto mix = [&hash](const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ULL;
    };
    mix(&generation, sizeof generation);
    mix(&length, sizeof length);
    mix(id.data(), id.size());
    mix(text.data(), text.size());
    return hash;
}

}  // namespace

std::size_t OutboxIntake::recordSize(std::size_t textSize) {
    return kRecordHeaderSize + roundUp(textSize);
}

void OutboxIntake::format() {
    std::memset(bytes_, 0, kHeaderSize);
    std::memcpy(bytes_, kMagic, sizeof kMagic);
    put<std::uint32_t>(bytes_ + kGenerationOffset, 1);
    end_ = kHeaderSize;
}

bool OutboxIntake::formatted() const {
    return size_ >= kHeaderSize && std::memcmp(bytes_, kMagic, sizeof kMagic) == 0;
}

std::uint32_t OutboxIntake::generation() const {
    return load<std::uint32_t>(bytes_ + kGenerationOffset);
}

bool OutboxIntake::append(std::string_view id, std::string_view text) {
    if (id.size() != kIdSize || end_ > size_ || size_ - end_ < recordSize(text.size())) {
        return false;
    }
    unsigned char* record = bytes_ + end_;
    // What an earlier generation left here must not pass for this record while it is written.
    storeState(record, 0);
    const std::uint32_t current = generation();
    const std::uint64_t length = text.size();
    put<std::uint32_t>(record + 4, current);
    put<std::uint64_t>(record + 8, length);
    put<std::uint64_t>(record + 16, checksum(current, length, id, text));
    std::memcpy(record + 24, id.data(), kIdSize);
    std::memcpy(record + kRecordHeaderSize, text.data(), text.size());
    storeState(record, kStored);
    end_ += recordSize(text.size());
    return true;
}

std::vector<OutboxIntake::Record> OutboxIntake::records(std::size_t from, bool* damaged) const {
    std::vector<Record> found;
    if (damaged != nullptr) *damaged = false;
    const std::uint32_t current = generation();
    std::size_t offset = from;
    while (offset <= size_ && size_ - offset >= kRecordHeaderSize) {
        const unsigned char* record = bytes_ + offset;
        const std::uint32_t state = loadState(record);
        if ((state != kStored && state != kWritten) || load<std::uint32_t>(record + 4) != current) {
            break;
        }
        const std::uint64_t length = load<std::uint64_t>(record + 8);
        const std::string_view id(reinterpret_cast<const char*>(record + 24), kIdSize);
        // Padding included, as append() leaves it; the first test keeps the rounding in range.
        const std::size_t room = size_ - offset - kRecordHeaderSize;
        const bool fits = length <= room && roundUp(static_cast<std::size_t>(length)) <= room;
        const std::string_view text(reinterpret_cast<const char*>(record + kRecordHeaderSize),
                                    fits ? static_cast<std::size_t>(length) : 0);
        if (!fits || load<std::uint64_t>(record + 16) != checksum(current, length, id, text)) {
            if (damaged != nullptr) *damaged = true;
            break;
        }
        found.push_back({offset, std::string(id), std::string(text), state == kWritten});
        offset += recordSize(text.size());
    }
    return found;
}

void OutboxIntake::markWritten(std::size_t offset) { storeState(bytes_ + offset, kWritten); }

void OutboxIntake::restart() {
    // The first record's state goes first: a process dying between the two steps leaves an area
    // whose walk ends at once rather than one showing written-out records as new.
    if (size_ - kHeaderSize >= kRecordHeaderSize) storeState(bytes_ + kHeaderSize, 0);
    put<std::uint32_t>(bytes_ + kGenerationOffset, generation() + 1);
    end_ = kHeaderSize;
}

}  // namespace ORBA
