// Where the desktop program finds its ROMs: the start folder first, then the
// user's data folder, so an installed program boots its ROM from wherever it
// is started; and "Use this ROM from now on" puts a ROM there.
#include <QDir>
#include <QtTest>

#include "machine/bus.h"
#include "support/window_fixture.h"

namespace {

// A ROM of our own that writes `mark` to the top-left cell of the screen and waits.
std::vector<uint8_t> marking_rom(uint8_t mark) {
    const uint8_t code[] = {0x3E, mark, 0x32, 0x00, 0x70, 0x18, 0xFE}; // LD A,mark; LD (7000h),A; JR $
    std::vector<uint8_t> rom(16384, 0xFF);
    std::copy(std::begin(code), std::end(code), rom.begin());
    return rom;
}

} // namespace

class RomFoldersTest : public QObject, protected WindowFixture {
    Q_OBJECT

    QString dataRoms() { return MainWindow::dataFolder() + "/roms"; }

    void putInDataFolder(const std::vector<uint8_t>& rom) {
        QVERIFY(QDir().mkpath(dataRoms()));
        QFile f(dataRoms() + "/vzrom.v20");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(rom.data()), qint64(rom.size()));
    }

    // Started with the settings' own ROM name, as a user's first start is.
    void startWithDefaultRomName() {
        start([](Settings&) {}); // a kolt.cfg with the defaults: "vzrom.v20", relative
        frames(5);
    }

private slots:
    void initTestCase() { use_test_settings(); }
    void cleanup() {
        finish();
        QDir(dataRoms()).removeRecursively();
    }

    void aRomInTheDataFolderBootsWhenTheStartFolderHasNone() {
        putInDataFolder(marking_rom('D'));
        startWithDefaultRomName();
        QCOMPARE(bus_read(m(), 0x7000), uint8_t('D'));
    }

    void theStartFolderComesFirst() {
        putInDataFolder(marking_rom('D'));
        dir_ = std::make_unique<TempDir>();
        dir_->write("vzrom.v20", marking_rom('S'));
        startWithDefaultRomName();
        QCOMPARE(bus_read(m(), 0x7000), uint8_t('S'));
    }

    void useThisRomFromNowOnKeepsItForTheNextStart() {
        start();
        TempDir elsewhere;
        nextFile_ = QString::fromStdString(elsewhere.write("my-basic.rom", marking_rom('K')));
        w_->chooseFile = [this](const FileDialogRequest& r) {
            lastRequest_ = r;
            r.optionChecked = true;
            return nextFile_;
        };
        trigger("File|Load ROM");
        QCOMPARE(lastRequest_.option, QString("Use this ROM from now on"));
        QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
        closeWindow();

        startWithDefaultRomName();
        QCOMPARE(bus_read(m(), 0x7000), uint8_t('K'));
    }

    void withoutTheChoiceNothingIsKept() {
        start();
        TempDir elsewhere;
        nextFile_ = QString::fromStdString(elsewhere.write("my-basic.rom", marking_rom('K')));
        trigger("File|Load ROM");
        QVERIFY(!QFileInfo::exists(dataRoms() + "/vzrom.v20"));
    }
};

QTEST_MAIN(RomFoldersTest)
#include "rom_folders_test.moc"
