// Control numbers of the screensaver's settings dialog, shared by its
// resource script and its dialog procedure.
#pragma once

#define NEBLA_SETTINGS_DIALOG 200
#define NEBLA_SETTINGS_RAMP 201
#define NEBLA_SETTINGS_LIGHT 202
#define NEBLA_SETTINGS_AUTOPILOT 203
#define NEBLA_SETTINGS_TEXT 204
