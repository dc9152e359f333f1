// Reads arbitrary bytes as a stored request file, as a damaged or foreign file in the outbox would
// be read, and checks that a file read as a request is exactly the one writing that request makes,
// and that any request written reads back as it was. A broken property aborts the run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <fuzzer/FuzzedDataProvider.h>

#include "tracker/RequestFile.h"
#include "Property.h"

namespace {

using ORBA::EventKind;
using ORBA::HttpRequest;

bool sameRequest(const HttpRequest& a, const HttpRequest& b) {
    return a.url == b.url && a.body == b.body && a.authorization == b.authorization &&
           a.userAgent == b.userAgent && a.caFile == b.caFile;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace RequestFile = ORBA::RequestFile;
    // A buffer of its own, so that a read past the bytes is caught rather than landing in the
    // fuzzer's.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const RequestFile::Decoded found = RequestFile::decode(bytes);
    if (found.problem == nullptr) {
        // Only one spelling of a request is accepted, so that what is read is what gets sent.
        check(RequestFile::encode(found.appId, found.kind, found.request) == bytes,
              "a file read as a request is the one its request writes");
    }

    FuzzedDataProvider provider(data, size);
    const EventKind kind =
        provider.PickValueInArray({EventKind::FirstOpen, EventKind::Session, EventKind::InApp});
    const std::string appId = provider.ConsumeRandomLengthString(64);
    HttpRequest request;
    request.url = provider.ConsumeRandomLengthString(256);
    request.userAgent = provider.ConsumeRandomLengthString(128);
    request.authorization = provider.ConsumeRandomLengthString(128);
    request.caFile = provider.ConsumeRandomLengthString(128);
    request.body = provider.ConsumeRemainingBytesAsString();
    const RequestFile::Decoded decoded =
        RequestFile::decode(RequestFile::encode(appId, kind, request));
    check(decoded.problem == nullptr, "a written request reads back");
    check(decoded.appId == appId && decoded.kind == kind && sameRequest(decoded.request, request),
          "a written request reads back as it was");
    return 0;
}
