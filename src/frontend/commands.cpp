#include "frontend/commands.h"

#include <array>
#include <type_traits>

#include "machine/settings.h"

namespace {

using C = Command;
using G = CheckGroup;
using F = SettingField;

constexpr CommandInfo kCommands[] = {
    {C::LoadVz, "&File|Load VZ", G::None, F::None, 0, false, 0},
    {C::SaveVz, "&File|Save VZ", G::None, F::None, 0, false, 1},
    {C::LoadBas, "&File|Load BAS"},
    {C::ExportListing, "&File|Export BASIC Listing"},
    {C::LoadTxt, "&File|Load TXT", G::None, F::None, 0, true},
    {C::MountDrive1, "&File|Disk|Mount|Drive 1", G::None, F::None, 0, false, 4},
    {C::MountDrive2, "&File|Disk|Mount|Drive 2", G::None, F::None, 0, false, 5},
    {C::UnmountDrive1, "&File|Disk|Unmount|Drive 1"},
    {C::UnmountDrive2, "&File|Disk|Unmount|Drive 2"},
    {C::Play, "&File|Cassette|Play", G::None, F::None, 0, false, 6},
    {C::Record, "&File|Cassette|Record", G::None, F::None, 0, false, 7},
    {C::Stop, "&File|Cassette|Stop", G::None, F::None, 0, false, 8},
    {C::MapPrinter, "&File|Map Printer", G::None, F::None, 0, false, 3},
    {C::SaveState, "&File|Save State", G::None, F::None, 0, true},
    {C::LoadState, "&File|Load State"},
    {C::QuickSave, "&File|Quick Save", G::None, F::None, 0, false, -1, false, "F9"},
    {C::QuickLoad, "&File|Quick Load", G::None, F::None, 0, false, -1, false, "F10"},
    {C::NextSlot, "&File|Next Quick Slot", G::None, F::None, 0, false, -1, false, "Shift+F9"},
    {C::PreviousSlot, "&File|Previous Quick Slot", G::None, F::None, 0, false, -1, false, "Shift+F10"},
    // F7 rewinds while held, which a shortcut cannot do: the window watches
    // the key, and the menu only names it.
    {C::RewindSecond, "&File|Rewind One Second\tF7 (hold)"},
    {C::LoadRom, "&File|Load ROM", G::None, F::None, 0, true},
    {C::LoadCartridge, "&File|Load Cartridge"},
    {C::LoadFont, "&File|Load Font"},
    {C::SaveRom, "&File|Save ROM"},
    {C::SaveCartridge, "&File|Save Cartridge"},
    {C::SaveScreenshot, "&File|Save Screenshot", G::None, F::None, 0, true, -1, false, "F12"},
    {C::Reset, "&File|Reset", G::None, F::None, 0, true, -1, false, "F2"},
    {C::Pause, "&File|Pause", G::None, F::None, 0, false, -1, false, "F5", true},
    {C::Exit, "&File|E&xit"},
    {C::Paste, "Edit|Paste", G::None, F::None, 0, false, 2, false, "F3"},
    {C::CopyScreenText, "Edit|Copy Screen Text"},
    {C::SizeX1, "Options|Screen Size|x1", G::ScreenSize, F::None, 0, false, -1, true},
    {C::SizeX2, "Options|Screen Size|x2", G::ScreenSize},
    {C::SizeX3, "Options|Screen Size|x3", G::ScreenSize},
    {C::FullScreen, "Options|Screen Size|Full Screen\tF11"},
    {C::ModelVz200, "Options|Model|VZ200 (3.5795 MHz)", G::Model, F::Model, kModelVZ200},
    {C::ModelVz300, "Options|Model|VZ300 (3.5469 MHz)", G::Model, F::Model, kModelVZ300},
    {C::Pal, "Options|Model|PAL", G::TvStandard, F::TvStandard, kTvPal, true},
    {C::Ntsc, "Options|Model|NTSC", G::TvStandard, F::TvStandard, kTvNtsc},
    {C::Mem8k, "Options|Memory|8 KB", G::Memory, F::RamTop, kRamTop8k},
    {C::Mem18k, "Options|Memory|18 KB", G::Memory, F::RamTop, kRamTop18k},
    {C::Mem24k, "Options|Memory|24 KB", G::Memory, F::RamTop, kRamTop24k},
    {C::Mem34k, "Options|Memory|34 KB", G::Memory, F::RamTop, kRamTop34k},
    {C::Mem4mb, "Options|Memory|4 MB", G::Memory, F::RamTop, kRamTop4mb},
    {C::EffectsOn, "Options|Display|6847 Effects|On", G::Effects, F::Effects6847, 1},
    {C::EffectsOff, "Options|Display|6847 Effects|Off", G::Effects, F::Effects6847, 0},
    {C::RateNormal, "Options|Display|Frame Rate|Normal", G::FrameRate, F::FrameRateNormal, 1},
    {C::RateMaximum, "Options|Display|Frame Rate|Maximum", G::FrameRate, F::FrameRateNormal, 0},
    {C::RateSwitch, "Options|Display|Frame Rate|Normal/Maximum", G::None, F::None, 0, true, -1, false, "F6"},
    {C::CartridgeEnabled, "Options|Cartridge|Enabled", G::Cartridge, F::CartridgeEnabled, 1, false, -1, true},
    {C::CartridgeDisabled, "Options|Cartridge|Disabled", G::Cartridge, F::CartridgeEnabled, 0},
    {C::JoystickEnabled, "Options|Joystick|Enabled", G::Joystick, F::JoystickEnabled, 1},
    {C::JoystickDisabled, "Options|Joystick|Disabled", G::Joystick, F::JoystickEnabled, 0, false, -1, true},
    {C::JoystickKeypad, "Options|Joystick|Keypad", G::None, F::None, 0, true, -1, false, {}, true},
    {C::JoystickGamepad, "Options|Joystick|Gamepad", G::None, F::None, 0, false, -1, false, {}, true},
    {C::SpeakerEnabled, "Options|Speaker|Enabled", G::Speaker, F::None, 0, false, -1, true},
    {C::SpeakerDisabled, "Options|Speaker|Disabled", G::Speaker},
    {C::CassetteAudioEnabled, "Options|Cassette Audio|Enabled", G::CassetteAudio, F::CassetteAudio, 1},
    {C::CassetteAudioDisabled, "Options|Cassette Audio|Disabled", G::CassetteAudio, F::CassetteAudio, 0},
    {C::DiskAudioEnabled, "Options|Disk Audio|Enabled", G::DiskAudio, F::DiskAudio, 1},
    {C::DiskAudioDisabled, "Options|Disk Audio|Disabled", G::DiskAudio, F::DiskAudio, 0},
    {C::GfxNone, "Options|Extended GFX|None", G::ExtendedGfx, F::ExtendedGfx, kGfxNone},
    {C::GfxAustralian, "Options|Extended GFX|Australian", G::ExtendedGfx, F::ExtendedGfx, kGfxAustralian, false, -1,
     true},
    {C::GfxGerman, "Options|Extended GFX|German", G::ExtendedGfx, F::ExtendedGfx, kGfxGerman},
    {C::SoundNone, "Options|Extended Sound|None", G::ExtendedSound, F::ExtendedSound, 0},
    {C::SoundSn76489, "Options|Extended Sound|SN76489", G::ExtendedSound, F::ExtendedSound, 1},
    {C::WriteRomEnabled, "Options|Write to ROM|Enabled", G::WriteToRom, F::WriteToRom, 1},
    {C::WriteRomDisabled, "Options|Write to ROM|Disabled", G::WriteToRom, F::WriteToRom, 0},
    {C::WriteCartridgeEnabled, "Options|Write to Cartridge|Enabled", G::WriteToCartridge, F::WriteToCartridge, 1},
    {C::WriteCartridgeDisabled, "Options|Write to Cartridge|Disabled", G::WriteToCartridge, F::WriteToCartridge,
     0},
    {C::KeyboardByCharacter, "Options|Keyboard|By Character", G::Keyboard, F::None, 0, true, -1, true},
    {C::KeyboardByPosition, "Options|Keyboard|By Position", G::Keyboard},
    {C::Volume, "Options|Volume..."},
    {C::FastTapeAndTyping, "Options|Fast Tape and Typing", G::None, F::None, 0, true, -1, true, {}, true},
    {C::OpenSettings, "Options|Settings...", G::None, F::None, 0, true},
    {C::SaveConfig, "Options|Save Config"},
    {C::Debugger, "Utils|Debugger", G::None, F::None, 0, false, 9},
    {C::LoadBitmap, "Utils|Load Bitmap"},
    {C::KeyboardHelp, "&Help|&Keyboard"},
    {C::About, "&Help|&About ..."},
};

constexpr SettingField kStartupOrder[] = {
    F::Model,        F::TvStandard,      F::Effects6847,     F::RamTop,        F::CartridgeEnabled,
    F::ExtendedGfx,  F::JoystickEnabled, F::ExtendedSound,   F::FrameRateNormal, F::WriteToRom,
    F::WriteToCartridge, F::CassetteAudio, F::DiskAudio,
};

} // namespace

std::span<const CommandInfo> command_table() { return kCommands; }

const CommandInfo* command_info(Command id) {
    for (const CommandInfo& c : kCommands)
        if (c.id == id) return &c;
    return nullptr;
}

namespace {

// Calls `use` with the field itself (an int32_t or a uint8_t), const or not
// as the record is; nothing for None.
template <class S, class Use> void with_field(S& s, SettingField field, Use use) {
    switch (field) {
    case F::Model: use(s.model); break;
    case F::TvStandard: use(s.tvStandard); break;
    case F::RamTop: use(s.ramTop); break;
    case F::Effects6847: use(s.effects6847); break;
    case F::FrameRateNormal: use(s.frameRateNormal); break;
    case F::CartridgeEnabled: use(s.cartridgeEnabled); break;
    case F::JoystickEnabled: use(s.joystickEnabled); break;
    case F::CassetteAudio: use(s.cassetteAudio); break;
    case F::DiskAudio: use(s.diskAudio); break;
    case F::ExtendedGfx: use(s.extendedGfx); break;
    case F::ExtendedSound: use(s.extendedSound); break;
    case F::WriteToRom: use(s.writeToRom); break;
    case F::WriteToCartridge: use(s.writeToCartridge); break;
    case F::None: break;
    }
}

} // namespace

int32_t setting_value(const Settings& s, SettingField field) {
    int32_t value = 0;
    with_field(s, field, [&](const auto& f) { value = f; });
    return value;
}

void apply_setting(Settings& s, SettingField field, int32_t value) {
    with_field(s, field, [&](auto& f) { f = static_cast<std::remove_reference_t<decltype(f)>>(value); });
}

std::optional<Command> option_command_for(const Settings& s, SettingField field) {
    const int32_t value = setting_value(s, field);
    for (const CommandInfo& c : kCommands)
        if (c.field == field && c.value == value) return c.id;
    return std::nullopt;
}

std::span<const SettingField> startup_option_order() { return kStartupOrder; }
