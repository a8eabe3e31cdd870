// Finding the camera's capture filter among the video input devices and
// taking the driver's private interface from it.
#pragma once
#include "camera/video_device.h"
#include <strmif.h>

extern const char* const KnownCameraNames[16];
extern const char DefaultCameraName[];

IDriverProperties* OpenVideoDevice(VideoDevice* device);
// The driver's TWAIN data-source name: ansiName takes at least 257 bytes (a
// name of up to 256 bytes and its terminator), wideName 260 characters;
// either may be null. 1 when a name was read.
int ReadTwainSourceName(char* ansiName, WCHAR* wideName);
IDriverProperties* AttachDriverInterface(VideoDevice* device, const char* wanted);
IBaseFilter* FindKnownCamera(VideoDevice* device);
IBaseFilter* FindVideoInputDevice(VideoDevice* device, const char* wanted);
IBaseFilter* FindDeviceFilter(VideoDevice* device, REFCLSID category, const char* wanted);
