// Settings: the user's persistent options, one 1076-byte little-endian record
// that is also the image of the configuration file.
//
// Every device reads these fields on each access, so most options act at once;
// model, TV standard, the cartridge switch and the two image paths act at the
// next reset. Fields documented as "1 = Enabled" count as enabled only when
// they hold exactly 1 (`setting_enabled`); the three byte switches count when
// non-zero. The layout is fixed by the file format and checked below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

inline constexpr int32_t kModelVZ200 = 0;
inline constexpr int32_t kModelVZ300 = 1;
inline constexpr int32_t kTvPal = 0;
inline constexpr int32_t kTvNtsc = 1;
inline constexpr int32_t kGfxNone = 0;
inline constexpr int32_t kGfxAustralian = 1;
inline constexpr int32_t kGfxGerman = 2;
inline constexpr int32_t kRamTop8k = 0x8FFF;
inline constexpr int32_t kRamTop18k = 0xB7FF;
inline constexpr int32_t kRamTop24k = 0xCFFF;
inline constexpr int32_t kRamTop34k = 0xF7FF;
inline constexpr int32_t kRamTop4mb = 0xFFFF;
inline constexpr size_t kSettingsPathSize = 512;

struct Settings {
    int32_t model = kModelVZ200;
    float clockMHz = 0.0f; // written by every reset; the stored value is never used
    int32_t tvStandard = kTvPal;
    int32_t extendedGfx = kGfxAustralian;
    int32_t effects6847 = 0;
    int32_t cartridgeEnabled = 1;
    int32_t joystickEnabled = 1;
    int32_t writeToRom = 0;
    int32_t writeToCartridge = 0;
    int32_t ramTop = kRamTop4mb;
    int32_t extendedSound = 0;
    int32_t soundChipPort = 128;
    uint8_t frameRateNormal = 1;
    uint8_t cassetteAudio = 1;
    uint8_t diskAudio = 1;
    char romFile[kSettingsPathSize] = "vzrom.v20";
    char cartridgeFile[kSettingsPathSize] = "vzdos.rom";
    uint8_t pad = 0;
};

static_assert(sizeof(Settings) == 1076);
static_assert(offsetof(Settings, model) == 0 && offsetof(Settings, clockMHz) == 4);
static_assert(offsetof(Settings, tvStandard) == 8 && offsetof(Settings, extendedGfx) == 12);
static_assert(offsetof(Settings, effects6847) == 16 && offsetof(Settings, cartridgeEnabled) == 20);
static_assert(offsetof(Settings, joystickEnabled) == 24 && offsetof(Settings, writeToRom) == 28);
static_assert(offsetof(Settings, writeToCartridge) == 32 && offsetof(Settings, ramTop) == 36);
static_assert(offsetof(Settings, extendedSound) == 40 && offsetof(Settings, soundChipPort) == 44);
static_assert(offsetof(Settings, frameRateNormal) == 48 && offsetof(Settings, cassetteAudio) == 49);
static_assert(offsetof(Settings, diskAudio) == 50 && offsetof(Settings, romFile) == 51);
static_assert(offsetof(Settings, cartridgeFile) == 563 && offsetof(Settings, pad) == 1075);
static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559);

constexpr bool setting_enabled(int32_t field) { return field == 1; }

// A path field as a string. A foreign file may leave no terminator in the 512
// bytes; the field then ends at its last byte instead of running past it.
std::string settings_path(const char (&field)[kSettingsPathSize]);
void settings_set_path(char (&field)[kSettingsPathSize], const std::string& path);
