// The CAPI analysis window on the in-process line: the report and verdict for
// given controller profiles, and the relay suspended while the window is open.
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>
#include <optional>

#include "analysis/capi_window.h"
#include "capi/byte_order.h"
#include "engine_harness.h"

namespace tellmaro::test {
namespace {

const QColor kGreen(0, 200, 0);
const QColor kRed(200, 0, 0);

// The line's controller, except for the profile, which a test may replace or
// have refused.
class ProfileDriver final : public capi::CapiDriver {
  public:
    explicit ProfileDriver(capi::CapiDriver& line) : line_(line) {}

    std::optional<capi::CapiProfile> profile;
    uint32_t profileResult = capi::kCapiOk;

    uint32_t installed() override { return line_.installed(); }
    uint32_t registerApplication(const capi::RegisterParams& params, uint32_t& applId) override {
        return line_.registerApplication(params, applId);
    }
    uint32_t release(uint32_t applId) override { return line_.release(applId); }
    uint32_t putMessage(uint32_t applId, std::span<const uint8_t> message) override {
        return line_.putMessage(applId, message);
    }
    uint32_t getMessage(uint32_t applId, std::span<const uint8_t>& message) override {
        return line_.getMessage(applId, message);
    }
    uint32_t getVersion(capi::CapiVersion& version) override { return line_.getVersion(version); }
    uint32_t getManufacturer(capi::ManufacturerName& name) override {
        return line_.getManufacturer(name);
    }
    uint32_t getProfile(uint32_t controller, capi::CapiProfile& out) override {
        if (profileResult != capi::kCapiOk) {
            return profileResult;
        }
        if (profile && controller == 1) {
            out = *profile;
            return capi::kCapiOk;
        }
        return line_.getProfile(controller, out);
    }

  private:
    capi::CapiDriver& line_;
};

capi::CapiProfile profileOf(uint16_t bChannels, uint32_t globalOptions) {
    capi::CapiProfile profile{};
    capi::writeU16(profile, 0, 1);
    capi::writeU16(profile, 2, bChannels);
    capi::writeU32(profile, 4, globalOptions);
    return profile;
}

void writeIcon(const std::filesystem::path& file, const QColor& colour) {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(colour);
    QVERIFY(image.save(QFile::decodeName(file.c_str()), "ICO"));
}

// A running relay on the simulated line, as the tray has it when the user
// opens the window; the verdict icons are plain green and red squares.
struct Bench {
    Bench() {
        engine.settings() = h.engine.settings();
        engine.setRegisteredMobileNumber("01711234567");
        engine.registerApplication();
        engine.openCallLogAtStartUp();
        engine.listen(capi::ListenMask::Calls);
        h.shell.setTray(relay::kTrayReady);
        writeIcon(h.appDir / "trffc10a.ico", kGreen);
        writeIcon(h.appDir / "trffc10c.ico", kRed);
    }

    std::unique_ptr<analysis::CapiWindow> open() {
        h.shell.trays.clear();
        listensBefore = listenMasks().size();
        return std::make_unique<analysis::CapiWindow>(engine, h.shell);
    }

    // The CIP masks of the listen requests since the window was opened.
    QStringList listenMasks() const {
        QStringList masks;
        for (const auto& text : h.sent()) {
            if (text.starts_with("LISTEN_REQ")) {
                masks << QString::fromStdString(text.substr(text.find("CIPMask=") + 8, 10));
            }
        }
        return masks.mid(static_cast<qsizetype>(listensBefore));
    }

    QStringList trays() const {
        QStringList tips;
        for (const auto& tip : h.shell.trays) {
            tips << QString::fromStdString(tip);
        }
        return tips;
    }

    QStringList errorLogLines() const {
        return QString::fromStdString(h.errorLogText()).split("\r\n", Qt::SkipEmptyParts);
    }

    EngineHarness h;
    ProfileDriver driver{h.scripted};
    relay::Engine engine{relay::EngineHost{driver, h.timers, h.wallClock, h.shell, h.appDir}};
    size_t listensBefore = 0;
};

QString reportOf(const QWidget& window) {
    return window.findChild<QPlainTextEdit*>("text1")->toPlainText();
}

QString verdictOf(const QWidget& window) {
    return window.findChild<QLabel*>("LBLcompatible")->text();
}

// The colour in the middle of the traffic light: the verdict icons are solid.
QColor lightOf(const QWidget& window) {
    QPixmap pixmap = window.findChild<QLabel*>("IMGtrafficlight")->pixmap();
    return pixmap.isNull() ? QColor() : pixmap.toImage().pixelColor(16, 16);
}

const QString kSeparator(112, '-');
const QString kPositive = QStringLiteral(
    "Ihre ISDN-Karte unterstützt alle nötigen Parameter um den Tellmaro nutzen zu können");
const QString kNegative = QStringLiteral(
    "Ihre ISDN-Karte unterstützt leider nicht alle nötigen Parameter um den Tellmaro nutzen zu "
    "können");

// Block A for the simulated controller: driver 1.0, CAPI 2.0, and its
// 23-character name padded to 64 and followed by one blank.
const QStringList kBlockA = {
    "",
    "ISDN-Card Manufacturer: 1.0, Tellmaro line simulator" + QString(41, ' ') + " ",
    "CAPI Version: 2.0",
    "",
    kSeparator,
    "",
};

void compareLines(const QString& text, const QStringList& expected) {
    // Every line ends with a line end, so the text ends with one.
    QVERIFY2(text.endsWith('\n'), qPrintable(text));
    QStringList lines = text.chopped(1).split('\n');
    for (qsizetype i = 0; i < std::min(lines.size(), expected.size()); ++i) {
        QVERIFY2(
            lines[i] == expected[i],
            qPrintable(
                QString("line %1: \"%2\", expected \"%3\"").arg(i + 1).arg(lines[i], expected[i])));
    }
    QCOMPARE(lines.size(), expected.size());
}

}  // namespace

class CapiWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void defaultControllerGetsTheWholeReportAndThePositiveVerdict() {
        Bench bench;
        auto window = bench.open();
        compareLines(reportOf(*window),
                     kBlockA + QStringList{
                                   "Number of installed controllers: 1",
                                   "Number of supported B channels: 2",
                                   "",
                                   kSeparator,
                                   "",
                                   "Global options:",
                                   "",
                                   "internal controller supported",
                                   "DTMF supported",
                                   "",
                                   kSeparator,
                                   "",
                                   "B1 protocol support:",
                                   "",
                                   "64 kbit/s with HDLC framing",
                                   "64 kbit/s bit-transparent operation with byte framing from "
                                   "the network",
                                   "",
                                   kSeparator,
                                   "",
                                   "B2 protocol support:",
                                   "",
                                   "ISO 7776 /X.75 SLP)",
                                   "Transparent",
                                   "",
                                   kSeparator,
                                   "",
                                   "B3 protocol support:",
                                   "",
                                   "Transparent",
                               });
        QCOMPARE(verdictOf(*window), kPositive);
        QCOMPARE(lightOf(*window), kGreen);
        QVERIFY(bench.errorLogLines().isEmpty());
    }

    void oneBChannelOrNoDtmfGetsTheNegativeVerdict() {
        struct Case {
            const char* name;
            capi::CapiProfile profile;
            QString channelsLine;
        };
        for (const Case& c : {Case{"two B channels, no DTMF", profileOf(2, 0x77), "2"},
                              Case{"one B channel with DTMF", profileOf(1, 0x08), "1"}}) {
            Bench bench;
            bench.driver.profile = c.profile;
            auto window = bench.open();
            QVERIFY2(reportOf(*window).contains(
                         "Number of supported B channels: " + c.channelsLine + "\n"),
                     c.name);
            QVERIFY2(verdictOf(*window) == kNegative, c.name);
            QVERIFY2(lightOf(*window) == kRed, c.name);
        }
    }

    void refusedProfileEndsTheReportAfterTheManufacturer() {
        Bench bench;
        bench.driver.profileResult = 0x2002;  // illegal controller
        auto window = bench.open();
        compareLines(reportOf(*window), kBlockA);
        QCOMPARE(verdictOf(*window), QString());
        QColor light = lightOf(*window);
        QVERIFY(light.isValid() && light != kGreen && light != kRed);
        QStringList errors = bench.errorLogLines();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains("CAPI-Fehler"), qPrintable(errors[0]));
    }

    void refusedListenRequestLeavesTheWindowEmptyAndTheMenuEnabled() {
        Bench bench;
        bench.h.line.controller().failNextPut(0x1103);
        auto window = bench.open();
        QCOMPARE(reportOf(*window), QString());
        QCOMPARE(verdictOf(*window), QString());
        QVERIFY(bench.h.shell.menuEnabled);
        QVERIFY(!bench.trays().contains("Wegen CAPI-Analyse daktiviert"));
        QCOMPARE(bench.errorLogLines().size(), 1);
    }

    void openingSuspendsTheRelayAndClosingRestoresIt() {
        for (bool activated : {true, false}) {
            Bench bench;
            bench.h.shell.activated = activated;
            auto window = bench.open();
            QCOMPARE(bench.listenMasks(), QStringList{"0x00000000"});
            QCOMPARE(bench.trays(), QStringList{"Wegen CAPI-Analyse daktiviert"});
            QVERIFY(!bench.h.shell.menuEnabled);
            QVERIFY(!bench.engine.callLog().isOpen());

            window->show();
            QTest::mouseClick(window->findChild<QPushButton*>("BTNok"), Qt::LeftButton);
            QVERIFY(!window->isVisible());
            QVERIFY(bench.h.shell.menuEnabled);
            if (activated) {
                QCOMPARE(bench.trays().last(), QString("Tellmaro ist betriebsbereit"));
                QCOMPARE(bench.listenMasks(), (QStringList{"0x00000000", "0x04010032"}));
                QVERIFY(bench.engine.callLog().isOpen());
            } else {
                QCOMPARE(bench.trays().last(), QString("Tellmaro ist deaktiviert"));
                QCOMPARE(bench.listenMasks(), QStringList{"0x00000000"});
                QVERIFY(!bench.engine.callLog().isOpen());
            }

            // Closing again, or destroying the closed window, changes nothing.
            qsizetype trays = bench.trays().size();
            window->close();
            window.reset();
            QCOMPARE(bench.trays().size(), trays);
            QCOMPARE(bench.listenMasks().size(), activated ? 2 : 1);
        }
    }

    void destroyingAWindowNeverClosedStillRestoresTheRelay() {
        Bench bench;
        auto window = bench.open();
        window.reset();
        QVERIFY(bench.h.shell.menuEnabled);
        QCOMPARE(bench.trays().last(), QString("Tellmaro ist betriebsbereit"));
        QCOMPARE(bench.listenMasks(), (QStringList{"0x00000000", "0x04010032"}));
    }
};

}  // namespace tellmaro::test

QTEST_MAIN(tellmaro::test::CapiWindowTest)
#include "capi_window_test.moc"
