# Sources and settings of this area; included by the top-level CMakeLists.txt.

# Device identity, graphics adapters, locale and advertising.
target_sources(orba_objects PRIVATE
  src/platform/DeviceCaches.cpp
  src/platform/DeviceIdentity.cpp
  src/platform/HresultError.cpp
  src/platform/LocaleTag.cpp
  src/platform/WinRtActivation.cpp
  src/platform/${ORBA_PLATFORM_DIR}/DeviceQueries.cpp
)
if(WIN32)
  # WMI through COM; the Windows Runtime is loaded from combase.dll at run time, so that the
  # library still loads on systems without it.
  target_sources(orba_objects PRIVATE src/platform/win32/WinRtProjection.cpp)
  target_link_libraries(orba_objects PUBLIC ole32 oleaut32 wbemuuid)
else()
  # The /sys and pci.ids readers serve the Linux queries only.
  target_sources(orba_objects PRIVATE src/platform/SysfsDevices.cpp)
endif()
