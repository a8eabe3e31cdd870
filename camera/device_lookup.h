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

const int FriendlyNameSize = 260;
// More video input devices than any PC has; later ones are not looked at.
const int MaxVideoInputDevices = 64;

// The video input devices as one walk found them, in enumeration order: a
// reference to each moniker, and its friendly name where it could be read.
struct VideoInputDevices {
    int count;
    IMoniker* monikers[MaxVideoInputDevices];
    bool named[MaxVideoInputDevices];
    char names[MaxVideoInputDevices][FriendlyNameSize];
};

// Walks the video input category once; false when it could not be walked
// (nothing is then held). An empty category is an empty list.
bool ListVideoInputDevices(VideoDevice* device, VideoInputDevices* list);
void ReleaseVideoInputDevices(VideoInputDevices* list);
// The first listed device whose name begins with wanted and whose filter
// binds; a reference owned by the caller, or null.
IBaseFilter* FindDeviceFilter(VideoDevice* device, const VideoInputDevices& list, const char* wanted);
// The known names in their order, each through FindDeviceFilter.
IBaseFilter* FindKnownCamera(VideoDevice* device, const VideoInputDevices& list);
