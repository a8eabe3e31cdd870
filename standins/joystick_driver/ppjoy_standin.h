/* What the stand-in joystick driver offers besides the state request the
   program sends: a way for tests and camsim to read back what it received. */
#pragma once

#define PPJOY_SET_STATE_IOCTL 0x220000
/* CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS) */
#define STANDIN_READ_LOG_IOCTL 0x222000
/* CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS) */
#define STANDIN_CLEAR_LOG_IOCTL 0x222004

#define STANDIN_MAX_PACKET 64
#define STANDIN_LOG_SIZE 64

#pragma pack(push, 1)
typedef struct StandinPacket {
    long long counter;            /* performance counter when it arrived */
    unsigned long length;         /* bytes the request carried */
    unsigned char bytes[STANDIN_MAX_PACKET];
} StandinPacket;

typedef struct StandinLog {
    long long frequency;          /* performance counter ticks per second */
    unsigned long openHandles;    /* handles open on the device now */
    unsigned long opens;          /* opens since the log was last cleared */
    unsigned long received;       /* state requests ever received */
    unsigned long count;          /* packets below: the newest, oldest first */
    StandinPacket packets[STANDIN_LOG_SIZE];
} StandinLog;
#pragma pack(pop)
