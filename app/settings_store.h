// The settings as twenty named values under one key of the current user's registry, written
// and read through the active SettingsRegistry. Every failure is silent: a pass whose key
// cannot be opened is skipped, failed reads leave the field as it was, failed writes are ignored.
#pragma once

#include "app/settings.h"

constexpr char SETTINGS_KEY_PATH[] = "Software\\Morvessa Soft\\Tavelkin";

// Start-up: applies the defaults (SetupSettings::SetDefaults), then either stores the sixteen
// first-run values, when the key cannot be opened, or reads the stored values over the defaults.
void LoadSettings(SetupSettings& settings);
void LoadSettings();  // on g_setupSettings

// Ok: writes all twenty values.
void SaveSettings(const SetupSettings& settings);
void SaveSettings();  // from g_setupSettings

// The two halves of LoadSettings after the defaults, for callers that bring their own record.
// Stores the sixteen first-run values in two passes.
void WriteFirstRunSettings(const SetupSettings& settings);
// Reads the twenty values in two passes over whatever the record holds; a failed read of
// SPRITEMODE, TEXTUREMODE or NUMSAMPLETYPE sets the field to 2, of FOG to 1.
void ReadStoredSettings(SetupSettings& settings);
