// What the joystick mode can do, shared by both drivers' code.
#pragma once

// What the joystick mode can do now, for the balloon, the tray's status, the
// log and the report.
enum JoystickStatus {
    JoystickReady,          // PPJoy's device open, or vJoy's device 1 held (or
                            // given back when the mode was left)
    JoystickNoDriver,       // neither PPJoy nor vJoy is installed
    JoystickVJoyDisabled,   // vJoy is installed but its driver is disabled
    JoystickDeviceMissing,  // vJoy has no device 1
    JoystickDeviceBusy,     // another program holds vJoy's device 1
    JoystickNoButtons,      // vJoy's device 1 has no button to click
};
