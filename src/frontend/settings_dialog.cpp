#include "frontend/settings_dialog.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include "frontend/commands.h"
#include "frontend/main_window.h"

namespace {

struct Option {
    const char* tab;
    CheckGroup group;        // a choice of one, or
    Command toggle;          // an option on or off (group None)
    const char* explanation;
};

constexpr Command kNoToggle = Command(0);

constexpr Option kOptions[] = {
    {"Machine", CheckGroup::Model, kNoToggle,
     "The VZ200 and VZ300 differ in clock speed and picture timing. Changes at the next reset."},
    {"Machine", CheckGroup::TvStandard, kNoToggle,
     "PAL runs 50 pictures a second with more lines; NTSC fewer lines. Changes at the next reset."},
    {"Machine", CheckGroup::Memory, kNoToggle,
     "The memory the machine has. Acts at once; a running program may lose its memory."},
    {"Machine", CheckGroup::Cartridge, kNoToggle, "Whether the cartridge image is plugged in at the next reset."},
    {"Machine", CheckGroup::ExtendedGfx, kNoToggle, "Extra graphics modes of the two common expansions."},
    {"Machine", CheckGroup::ExtendedSound, kNoToggle, "The SN76489 sound chip expansion."},
    {"Machine", CheckGroup::WriteToRom, kNoToggle, "Whether programs may overwrite the ROM (for patched ROMs)."},
    {"Machine", CheckGroup::WriteToCartridge, kNoToggle, "Whether programs may overwrite the cartridge."},
    {"Display", CheckGroup::ScreenSize, kNoToggle, "The picture at one, two or three times its size."},
    {"Display", CheckGroup::Effects, kNoToggle, "The video chip's visible artefacts, as on a real set."},
    {"Display", CheckGroup::FrameRate, kNoToggle,
     "Normal runs at the machine's own speed (F6 switches); Maximum as fast as the host can, silently."},
    {"Sound", CheckGroup::Speaker, kNoToggle, "The machine's speaker and the SN76489, heard or not."},
    {"Sound", CheckGroup::CassetteAudio, kNoToggle, "The tape's sound heard while it plays."},
    {"Sound", CheckGroup::DiskAudio, kNoToggle, "The disk drives' motor and stepping sounds."},
    {"Input", CheckGroup::Keyboard, kNoToggle,
     "By Character types what your keys show (= gives =); By Position presses the machine key in each host "
     "key's place, for games that read the keys directly."},
    {"Input", CheckGroup::Joystick, kNoToggle, "Whether the machine has a joystick interface."},
    {"Input", CheckGroup::None, Command::JoystickKeypad, "The numeric keypad plays the joystick (8 2 4 6, 5 fires)."},
    {"Input", CheckGroup::None, Command::JoystickGamepad, "A game controller plays the joystick."},
    {"Files", CheckGroup::None, Command::FastTapeAndTyping,
     "Tapes and typed text run at the Maximum rate, silently; the chosen rate returns when they end."},
};

QString item_text(const CommandInfo& info) {
    QString text = QString::fromUtf8(info.menuPath.data(), qsizetype(info.menuPath.size())).split('|').last();
    return text.remove('&').split('\t').first();
}

QString group_title(const CommandInfo& info) {
    const QStringList path = QString::fromUtf8(info.menuPath.data(), qsizetype(info.menuPath.size())).split('|');
    return path.size() >= 2 ? path[path.size() - 2] : QString();
}

} // namespace

SettingsDialog::SettingsDialog(MainWindow& window, QWidget* parent) : QDialog(parent), w_(window) {
    setWindowTitle("Settings");
    auto* tabs = new QTabWidget(this);
    std::map<QString, QVBoxLayout*> pages;
    for (const char* name : {"Machine", "Display", "Sound", "Input", "Files"}) {
        auto* page = new QWidget(tabs);
        pages[name] = new QVBoxLayout(page);
        tabs->addTab(page, name);
    }
    for (const Option& o : kOptions) {
        QVBoxLayout* page = pages.at(o.tab);
        auto* explanation = new QLabel(o.explanation);
        explanation->setWordWrap(true);
        if (o.group == CheckGroup::None) {
            const CommandInfo* info = command_info(o.toggle);
            auto* box = new QCheckBox(item_text(*info));
            box->setObjectName(QString("option_%1").arg(int(o.toggle)));
            box->setChecked(w_.action(o.toggle)->isChecked());
            const Command id = o.toggle;
            connect(box, &QCheckBox::toggled, this, [this, id](bool on) {
                if (w_.action(id)->isChecked() != on) w_.action(id)->trigger();
            });
            page->addWidget(box);
            explanation->setIndent(20);
            page->addWidget(explanation);
            continue;
        }
        auto* frame = new QGroupBox;
        auto* layout = new QVBoxLayout(frame);
        layout->addWidget(explanation);
        auto* row = new QHBoxLayout;
        auto* buttons = new QButtonGroup(frame);
        for (const CommandInfo& info : command_table()) {
            if (info.group != o.group) continue;
            if (frame->title().isEmpty()) frame->setTitle(group_title(info));
            auto* radio = new QRadioButton(item_text(info));
            radio->setObjectName(QString("option_%1").arg(int(info.id)));
            radio->setChecked(w_.action(info.id)->isChecked());
            buttons->addButton(radio);
            const Command id = info.id;
            connect(radio, &QRadioButton::toggled, this, [this, id](bool on) {
                if (on && !w_.action(id)->isChecked()) w_.runCommand(id);
            });
            row->addWidget(radio);
        }
        row->addStretch();
        layout->addLayout(row);
        page->addWidget(frame);
    }

    // Volume, beside the speaker options.
    auto* volumeBox = new QGroupBox("Volume");
    auto* volumeLayout = new QVBoxLayout(volumeBox);
    auto* volumeText = new QLabel;
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setObjectName("volume");
    slider->setRange(0, 100);
    slider->setValue(w_.volume());
    const auto showVolume = [volumeText](int v) {
        volumeText->setText(QString("All sound reaching the speakers or headphones: %1 %").arg(v));
    };
    showVolume(w_.volume());
    connect(slider, &QSlider::valueChanged, this, [this, showVolume](int v) {
        showVolume(v);
        w_.setVolume(v);
    });
    volumeLayout->addWidget(volumeText);
    volumeLayout->addWidget(slider);
    pages.at("Sound")->addWidget(volumeBox);

    // kolt.cfg, the machine's options as the program keeps them.
    auto* save = new QPushButton("Save Config");
    auto* saveText = new QLabel("Writes the machine's options to kolt.cfg in the folder KOLT started in, for the "
                                "next start. Keyboard, volume and the other options of this dialog are kept "
                                "for you at once.");
    saveText->setWordWrap(true);
    connect(save, &QPushButton::clicked, this, [this] { w_.runCommand(Command::SaveConfig); });
    pages.at("Files")->addWidget(save, 0, Qt::AlignLeft);
    pages.at("Files")->addWidget(saveText);

    for (auto& [name, page] : pages) page->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::accept);
    layout->addWidget(close);
    resize(620, 520);
}

QAbstractButton* SettingsDialog::choice(Command id) const {
    return findChild<QAbstractButton*>(QString("option_%1").arg(int(id)));
}
