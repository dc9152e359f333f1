// The hardware, locale and advertising functions of orba/misc/DeviceIdentity.h. The front
// (DeviceInfo.cpp) caches and locks; the readers below, one implementation per OS, ask the
// system afresh on each call.
#pragma once

#include <mutex>
#include <string>

#include "platform/DeviceCaches.h"

namespace ORBA {
namespace Platform {

// Held for the whole device-model query and for each read of the advertising identifier.
extern std::mutex platformQueryMutex;

// --- Implemented once per OS -------------------------------------------------------------------

// The computer model of every computer-system object the system lists (Windows: WMI
// Win32_ComputerSystem "Model", in the ANSI code page; Linux: the DMI product name). No entries
// when the query cannot run, among others on a Windows thread of a single-threaded apartment.
PropertyReads queryDeviceModels();

// The name of every graphics adapter, in the system's order (Windows: WMI Win32_VideoController
// "Name", in the ANSI code page; Linux: the PCI display controllers).
PropertyReads queryGpuNames();

// The DNS host name in UTF-8, or empty. Throws std::range_error("bad conversion") on a name that
// is not well-formed.
std::string queryDeviceName();

// The name of the user the thread runs as, in UTF-8, or empty. Throws as queryDeviceName.
std::string queryUserName();

// The normalised tag of the first preferred language. Windows: throws the hresult_error family.
std::string queryLanguage();

// The two-letter code of the home region. Windows: throws the hresult_error family.
std::string queryCountry();

// The advertising identifier, empty when switched off or absent. Windows: throws the
// hresult_error family.
std::string queryAdvertisingId();

}  // namespace Platform
}  // namespace ORBA
