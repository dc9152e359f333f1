// Reads arbitrary bytes as an identity file, as a damaged or hand-edited file would be read, and
// checks that writing it out and reading it back changes nothing, and that a value set is the
// value found, before and after a write. A broken property aborts the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "platform/IdentityStoreFile.h"
#include "Property.h"

namespace {

using ORBA::Platform::IdentityStoreFile;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string name = provider.ConsumeRandomLengthString(64);
    const std::string value = provider.ConsumeRandomLengthString(64);
    const std::string text = provider.ConsumeRemainingBytesAsString();

    IdentityStoreFile file = IdentityStoreFile::parse(text);
    const std::string written = file.serialise();
    const IdentityStoreFile reread = IdentityStoreFile::parse(written);
    check(reread.serialise() == written, "a written file reads back as it was");
    check(reread.find(name) == file.find(name), "a written file finds the same values");

    if (ORBA::Platform::isStorableName(name) && ORBA::Platform::isStorableValue(value)) {
        file.set(name, value);
        check(file.find(name) == value, "a value set is found");
        check(IdentityStoreFile::parse(file.serialise()).find(name) == value, "a value set is written");
    }
    return 0;
}
