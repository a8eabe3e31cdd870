// Finding the camera's capture filter among the video input devices and
// taking the driver's private interface from it.
#pragma once
#include "camera/video_device.h"
#include <strmif.h>

extern const char* const KnownCameraNames[16];
extern const char DefaultCameraName[];

IDriverProperties* OpenVideoDevice(VideoDevice* device);
int ReadTwainSourceName(char* ansiName, WCHAR* wideName);
IDriverProperties* AttachDriverInterface(VideoDevice* device, const char* wanted);
IBaseFilter* FindKnownCamera(VideoDevice* device);
IBaseFilter* FindVideoInputDevice(VideoDevice* device, const char* wanted);
IBaseFilter* FindDeviceFilter(VideoDevice* device, REFCLSID category, const char* wanted);
