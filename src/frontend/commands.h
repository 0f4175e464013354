// The command table: every menu item and toolbar button of the main window,
// registered once with its id, text, place in the menu and check-mark group.
// The menu bar and the toolbar are built from this one list, and the option
// items carry the Settings field and value they set, so start-up can put the
// check marks where the loaded settings are through the same handlers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

struct Settings;

enum class Command : int {
    LoadVz = 32782, SaveVz = 32783, LoadTxt = 32861,
    MountDrive1 = 32906, MountDrive2 = 32912, UnmountDrive1 = 32908, UnmountDrive2 = 32913,
    Play = 32854, Record = 32856, Stop = 32857, MapPrinter = 32827,
    LoadRom = 32900, LoadCartridge = 32901, LoadFont = 32917, SaveRom = 32903, SaveCartridge = 32899,
    Reset = 32825, Exit = 105, Paste = 32860,
    SizeX1 = 32775, SizeX2 = 32776, SizeX3 = 32820, FullScreen = 32859,
    ModelVz200 = 32838, ModelVz300 = 32839, Pal = 32842, Ntsc = 32843,
    Mem8k = 32786, Mem18k = 32787, Mem24k = 32788, Mem34k = 32789, Mem4mb = 32791,
    EffectsOn = 32847, EffectsOff = 32848, RateNormal = 32881, RateMaximum = 32882,
    CartridgeEnabled = 32811, CartridgeDisabled = 32812, JoystickEnabled = 32794, JoystickDisabled = 32795,
    SpeakerEnabled = 32797, SpeakerDisabled = 32798,
    CassetteAudioEnabled = 32904, CassetteAudioDisabled = 32892,
    DiskAudioEnabled = 32915, DiskAudioDisabled = 32916,
    GfxNone = 32801, GfxAustralian = 32864, GfxGerman = 32866,
    SoundNone = 32868, SoundSn76489 = 32869,
    WriteRomEnabled = 32885, WriteRomDisabled = 32886, WriteCartridgeEnabled = 32888, WriteCartridgeDisabled = 32889,
    SaveConfig = 32829, Debugger = 32808, LoadBitmap = 32883, About = 104,
    // Ours, beyond the original menu.
    Pause = 40001, SaveScreenshot = 40002, RateSwitch = 40003, FastTapeAndTyping = 40004,
    JoystickKeypad = 40005, JoystickGamepad = 40006,
    SaveState = 40007, LoadState = 40008, QuickSave = 40009, QuickLoad = 40010, NextSlot = 40011,
    PreviousSlot = 40012, RewindSecond = 40013, KeyboardByCharacter = 40014, KeyboardByPosition = 40015,
    Volume = 40016, OpenSettings = 40017, KeyboardHelp = 40018,
    LoadBas = 40101, ExportListing = 40102, CopyScreenText = 40103,
};

// Check-mark groups: exactly one item of a group carries the mark.
enum class CheckGroup : uint8_t {
    None, ScreenSize, Model, TvStandard, Memory, Effects, FrameRate, Cartridge, Joystick, Speaker,
    CassetteAudio, DiskAudio, ExtendedGfx, ExtendedSound, WriteToRom, WriteToCartridge, Keyboard,
};

// The Settings field an option item writes.
enum class SettingField : uint8_t {
    None, Model, TvStandard, RamTop, Effects6847, FrameRateNormal, CartridgeEnabled, JoystickEnabled,
    CassetteAudio, DiskAudio, ExtendedGfx, ExtendedSound, WriteToRom, WriteToCartridge,
};

struct CommandInfo {
    Command id;
    std::string_view menuPath; // submenus separated by '|', the item's own text last
    CheckGroup group = CheckGroup::None;
    SettingField field = SettingField::None;
    int32_t value = 0;
    bool separatorBefore = false;
    int toolbarSlot = -1;      // 0-9: position of its toolbar button
    bool checkedInitially = false; // the menu's own marks before start-up moves them
    std::string_view shortcut = {}; // function keys only: the machine has none
    bool toggle = false;            // a check mark of its own, on and off
};

std::span<const CommandInfo> command_table();
const CommandInfo* command_info(Command id);

// The value a setting field holds, and writing an option item's value into it.
int32_t setting_value(const Settings& s, SettingField field);
void apply_setting(Settings& s, SettingField field, int32_t value);

// The option item matching a stored value of a field, if any; start-up
// replays these so check marks and settings agree.
std::optional<Command> option_command_for(const Settings& s, SettingField field);

// The fields in the order start-up replays them.
std::span<const SettingField> startup_option_order();
