// The main window as the program starts it, for the window's tests: a
// scratch folder, dialogs and message boxes replaced by recorders, menu items
// found by their texts, and frames run by hand or by the frame driver.
#pragma once

#include <QApplication>
#include <QFileInfo>
#include <QMenuBar>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>

#include "files/config.h"
#include "frontend/audio_device.h"
#include "frontend/command_line.h"
#include "frontend/main_window.h"
#include "support/temp_dir.h"

inline void write_wav(const std::string& path, uint32_t rate, size_t samples) {
    std::vector<uint8_t> h(44, 0);
    std::memcpy(&h[0], "RIFF", 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    h[16] = 16;
    h[20] = 1;
    h[22] = 1;
    for (int i = 0; i < 4; ++i) h[size_t(24 + i)] = uint8_t(rate >> (8 * i));
    h[34] = 8;
    std::memcpy(&h[36], "data", 4);
    h.resize(44 + samples, 0x80);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(h.data()), std::streamsize(h.size()));
}

// Keeps the user's own settings (recent files, options of ours) out of reach.
inline void use_test_settings() {
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("KOLT");
    // One settings file per test program: ctest runs them side by side.
    QCoreApplication::setApplicationName("KOLT tests " +
                                         QFileInfo(QCoreApplication::applicationFilePath()).baseName());
    QSettings().clear();
}

class WindowFixture {
protected:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<SdlAudio> audio_;
    std::unique_ptr<MainWindow> w_;
    QStringList errors_, warnings_, notices_, questions_;
    bool answerYes_ = false; // what a "Reset now?" question is answered
    int settingsRuns_ = 0;
    QString nextFile_;
    FileDialogRequest lastRequest_;
    int debuggerRuns_ = 0;
    std::function<void()> inDebugger_;

    Machine& m() { return w_->emulator().m(); }

    // The window as the program starts it; with `audio`, an SDL device is
    // opened by start-up; with `runFrames`, the frame driver runs on its timer.
    void start(const std::function<void(Settings&)>& configure = {}, bool audio = false, bool runFrames = false,
               const CommandLine* line = nullptr) {
        if (!dir_) dir_ = std::make_unique<TempDir>();
        if (configure) {
            Settings s;
            configure(s);
            QVERIFY(config_save(s, dir_->file("")));
        }
        if (audio) audio_ = std::make_unique<SdlAudio>();
        w_ = std::make_unique<MainWindow>(audio_.get());
        w_->showError = [this](const QString&, const QString& text) { errors_ << text; };
        w_->showWarning = [this](const QString&, const QString& text) { warnings_ << text; };
        w_->showNotice = [this](const QString&, const QString& text) { notices_ << text; };
        w_->askYesNo = [this](const QString&, const QString& text) {
            questions_ << text;
            return answerYes_;
        };
        w_->runSettingsDialog = [this] { ++settingsRuns_; };
        w_->chooseFile = [this](const FileDialogRequest& r) {
            lastRequest_ = r;
            return nextFile_;
        };
        w_->runDebuggerDialog = [this] {
            ++debuggerRuns_;
            if (inDebugger_) inDebugger_();
        };
        w_->show();
        QApplication::setActiveWindow(w_.get());
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
        settings_set_path(m().settings.romFile, "/nonexistent/kolt-test-rom"); // the built-in program runs
        w_->startUp(QString::fromStdString(dir_->file("")), runFrames, line);
        QCoreApplication::processEvents();
        errors_.clear();
        questions_.clear();
        debuggerRuns_ = 0;
    }

    // The menu item at a path of menu texts as shown ("Options|Memory|8 KB").
    QAction* menuItem(const QString& path) {
        const QStringList names = path.split('|');
        QList<QAction*> actions = w_->menuBar()->actions();
        for (qsizetype i = 0; i < names.size(); ++i) {
            QAction* found = nullptr;
            for (QAction* a : actions)
                if (a->text().remove('&') == names[i]) found = a;
            if (!found) return nullptr;
            if (i + 1 == names.size()) return found;
            if (!found->menu()) return nullptr;
            actions = found->menu()->actions();
        }
        return nullptr;
    }

    void trigger(const QString& path) {
        QAction* a = menuItem(path);
        QVERIFY2(a, qPrintable(path));
        a->trigger();
    }

    // Every run of items with check marks in a submenu (separators divide a
    // menu holding two choices, as Model's model and TV standard).
    void collectCheckMenus(QMenu* menu, QList<QList<QAction*>>& out) {
        QList<QAction*> checkable;
        for (QAction* a : menu->actions()) {
            if (a->menu()) collectCheckMenus(a->menu(), out);
            if (a->isSeparator() && !checkable.isEmpty()) out << checkable, checkable.clear();
            if (a->isCheckable() && a->actionGroup()) checkable << a;
        }
        if (!checkable.isEmpty()) out << checkable;
    }
    QList<QList<QAction*>> checkMenus() {
        QList<QList<QAction*>> out;
        for (QAction* a : w_->menuBar()->actions())
            if (a->menu()) collectCheckMenus(a->menu(), out);
        return out;
    }

    void frames(int n) {
        for (int i = 0; i < n; ++i) w_->frameStep();
    }


    // The window goes; its folder stays for the next start.
    void closeWindow() {
        w_.reset();
        audio_.reset();
        errors_.clear();
        warnings_.clear();
        notices_.clear();
        questions_.clear();
        answerYes_ = false;
        inDebugger_ = nullptr;
    }
    void finish() {
        closeWindow();
        dir_.reset();
    }
};
