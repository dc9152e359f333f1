#include "DebugOutputReader.h"

namespace OrbaTools {

struct DebugOutputReader::Impl {};

DebugOutputReader::DebugOutputReader(std::function<void(const std::string&)>) {}
DebugOutputReader::~DebugOutputReader() = default;
bool DebugOutputReader::serving() const { return false; }
void DebugOutputReader::stop() {}

}  // namespace OrbaTools
