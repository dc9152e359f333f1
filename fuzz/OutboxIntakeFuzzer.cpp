// Reads arbitrary bytes as an intake left by a process that ended, as a damaged or foreign file
// would be read, and checks that every record found lies inside the bytes and that records
// appended to an intake read back exactly and in order. A broken property aborts the run.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "tracker/OutboxIntake.h"
#include "Property.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using ORBA::OutboxIntake;
    // As a file's bytes are: a buffer of their own, aligned as a mapping or an allocation is.
    std::vector<std::uint64_t> words(size / 8 + 1);
    auto* bytes = reinterpret_cast<unsigned char*>(words.data());
    std::memcpy(bytes, data, size);
    const OutboxIntake found(bytes, size);
    if (found.formatted()) {
        bool damaged = false;
        std::size_t end = OutboxIntake::kHeaderSize;
        for (const OutboxIntake::Record& record : found.records(end, &damaged)) {
            check(record.offset == end, "records follow one another");
            check(record.id.size() == OutboxIntake::kIdSize, "an id has its size");
            end += OutboxIntake::recordSize(record.text.size());
            check(end <= size, "a record lies inside the bytes");
        }
    }

    // The same bytes as requests: appended until the intake is full, then read back.
    FuzzedDataProvider provider(data, size);
    std::vector<std::uint64_t> areaWords(512);
    OutboxIntake area(reinterpret_cast<unsigned char*>(areaWords.data()), areaWords.size() * 8);
    area.format();
    std::vector<std::string> texts;
    while (provider.remaining_bytes() > 0) {
        std::string text = provider.ConsumeRandomLengthString(1024);
        const std::string id(OutboxIntake::kIdSize, static_cast<char>('0' + texts.size() % 10));
        if (!area.append(id, text)) break;
        texts.push_back(std::move(text));
    }
    const std::vector<OutboxIntake::Record> records = area.records(OutboxIntake::kHeaderSize);
    check(records.size() == texts.size(), "every record appended is found");
    for (std::size_t i = 0; i < records.size() && i < texts.size(); ++i) {
        check(records[i].text == texts[i] && !records[i].written, "a record reads back as stored");
    }
    area.restart();
    check(area.records(OutboxIntake::kHeaderSize).empty(), "an intake started over is empty");
    return 0;
}
