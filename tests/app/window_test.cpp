// The Qt window: only what it adds to the window's logic (tested in
// tests/form): its look, focus, access keys and tooltip; that clicks, the
// boxes' texts and the close box reach the logic; that the logic's boxes and
// dialogs show as Qt boxes and Module1's dialogs, its notice as a box that
// holds nothing; that a close takes down a dialog or notice that is up, and
// waits when the logic puts it off.  Against the simulated device on a real
// pty.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <functional>
#include <memory>

#include "app/form_window.h"
#include "modal_script.h"
#include "serial/zrkCommModule.h"
#include "tests/common/files.h"
#include "tests/common/sim_device.h"

namespace vantri {
namespace {

using testing::BoxSeen;
using testing::ModalScript;

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        window_.show();
        std::string error;
        device_ = StartSimDevice({}, {}, 0, error);
        ASSERT_NE(device_, nullptr) << error;
        window_.comport->setEditText(QString::fromStdString(device_->PortPath()));
    }
    void TearDown() override { CloseComPort(); }

    // Clicks `button` as the user does, with `script` answering the modals.
    static void Run(QPushButton* button, ModalScript& script) {
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(script.Finish(), "");
    }
    void Activate(QWidget* window) {
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }
    QString Path(const QString& name) const { return folder_.filePath(name); }
    // Runs `act` from the event loop after the window's next caption: an
    // operation's first progress, while it runs.
    void AtFirstProgress(std::function<void()> act) {
        QObject::connect(
            &window_, &QWidget::windowTitleChanged, &context_,
            [this, act] { QTimer::singleShot(0, &context_, act); }, Qt::SingleShotConnection);
    }
    // A Write of a key file unlike the device's buffer, chosen in the open
    // dialog, with a short Delay.
    void RunWrite() {
        test::WriteFile(Path("key.bin").toStdString(), key_);
        window_.mydelay->setEditText(QStringLiteral("1"));
        Run(window_.Command3, ModalScript().Dialog([this](QFileDialog& d) {
            ModalScript::Choose(d, Path("key.bin"));
        }));
    }
    bool DeviceHoldsTheKey() const {
        return test::Eventually([this] { return device_->WritesCompleted() >= 1; }) &&
               device_->Buffer() == key_;
    }
    void ExpectIdle() {
        EXPECT_EQ(window_.Logic().comopened, False16);
        EXPECT_EQ(ComHandle, port::InvalidHandle);
        EXPECT_TRUE(window_.Command4->isEnabled() && window_.Command3->isEnabled());
    }

    QTemporaryDir folder_;
    FormWindow window_;
    std::unique_ptr<sim::Simulator> device_;
    std::string key_ = test::RandomBytes(4096, 11);
    QObject context_;  // ends the test's connections with the test
};

// What a regression of the look would break, and where the focus goes.
TEST_F(WindowTest, LooksAsDesignedAndTabsInItsOrder) {
    const auto colour = [](QWidget* w, QPalette::ColorRole role) {
        return w->palette().color(role);
    };
    const QColor yellow(255, 255, 0), lightYellow(255, 255, 192);
    QList<QSize> iconSizes = window_.windowIcon().availableSizes();
    const Qt::WindowFlags flags = window_.windowFlags();
    const std::pair<const char*, bool> rules[] = {
        {"black background",
         colour(&window_, QPalette::Window) == Qt::black && window_.autoFillBackground()},
        {"yellow labels", colour(window_.Label1, QPalette::WindowText) == yellow &&
                              colour(window_.Label2, QPalette::WindowText) == yellow &&
                              colour(window_.Label3, QPalette::WindowText) == yellow},
        {"light yellow boxes", colour(window_.comport, QPalette::Base) == lightYellow &&
                                   colour(window_.mylen, QPalette::Base) == lightYellow &&
                                   colour(window_.mydelay, QPalette::Base) == lightYellow},
        {"bold buttons, plain labels", window_.Command4->font().bold() &&
                                           window_.Command3->font().bold() &&
                                           !window_.Label1->font().bold()},
        {"fixed size",
         window_.minimumSize() == window_.size() && window_.maximumSize() == window_.size()},
        {"a close box, no minimize or maximize", (flags & Qt::WindowCloseButtonHint) &&
                                                     !(flags & Qt::WindowMinimizeButtonHint) &&
                                                     !(flags & Qt::WindowMaximizeButtonHint)},
        {"icon of 16, 32 and 48 pixels", iconSizes == QList<QSize>{{16, 16}, {32, 32}, {48, 48}}},
    };
    for (const auto& [rule, kept] : rules) {
        EXPECT_TRUE(kept) << rule;
    }
    // Each label's text ends before its box begins, and a screen reader
    // names the box by it.
    for (auto [label, box] : {std::pair{window_.Label1, window_.comport},
                              {window_.Label2, window_.mylen},
                              {window_.Label3, window_.mydelay}}) {
        EXPECT_LE(label->x() + label->fontMetrics().horizontalAdvance(label->text()), box->x());
        QAccessibleInterface* named = QAccessible::queryAccessibleInterface(box);
        ASSERT_NE(named, nullptr);
        const auto labelledBy = named->relations(QAccessible::Label);
        EXPECT_TRUE(labelledBy.size() == 1 && labelledBy[0].first->object() == label)
            << label->text().toStdString();
        EXPECT_EQ(box->accessibleName(), label->text());
    }

    // The focus starts in Comport; Tab goes on to Write, Read, Blocksize,
    // Delay, and round again.
    Activate(&window_);
    const auto control = [] {  // a combo box's edit field stands for the box
        QWidget* w = QApplication::focusWidget();
        auto* combo = qobject_cast<QComboBox*>(w->parentWidget());
        return combo != nullptr ? combo : w;
    };
    QList<QWidget*> order{control()};
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << control();
    }
    EXPECT_EQ(order, (QList<QWidget*>{window_.comport, window_.Command3, window_.Command4,
                                      window_.mylen, window_.mydelay, window_.comport}));
}

// Alt+R and Alt+W press the buttons, the logic reads each box, and its
// refusals come up as Qt boxes.
TEST_F(WindowTest, AccessKeysAndTheBoxesTextsReachTheLogic) {
    struct Case {
        QComboBox* box;
        const char* text;
        Qt::Key key;
        const char* says;  // the start of the box's text
    };
    const Case cases[] = {
        {window_.comport, "/nonexistent/port", Qt::Key_R, "Not able to Open selected Comport"},
        {window_.mylen, "0", Qt::Key_W, "Blocksize must be"},
        {window_.mydelay, "x", Qt::Key_W, "Delay must be"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const QString kept = c.box->currentText();
        c.box->setEditText(QLatin1String(c.text));
        Activate(&window_);  // a box takes the activation
        BoxSeen seen;
        ModalScript script;
        script.Box(&seen);
        // The button clicks a moment after its key, as it does for a mouse.
        QTest::keyClick(&window_, c.key, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !seen.text.isEmpty(); }, 10000));
        EXPECT_EQ(script.Finish(), "");
        EXPECT_TRUE(seen.text.startsWith(QLatin1String(c.says))) << seen.text.toStdString();
        EXPECT_EQ(seen.title + "|" + QString::number(seen.icon),
                  "Error|" + QString::number(QMessageBox::Warning));
        ExpectIdle();
        c.box->setEditText(kept);
    }
}

// The Comport box is narrow, its list wide enough for a port's long name; a
// long name reads from its start while the box is not being edited, and
// whole in the tooltip when the mouse rests on it.
TEST_F(WindowTest, ALongPortNameReadsFromItsStartAndWholeOnHover) {
    QComboBox* box = window_.comport;
    const QString path = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    window_.SetSettingChoices(FormSetting::Comport, {"1", path.toStdString()});
    const int pathWidth = box->fontMetrics().horizontalAdvance(path);
    EXPECT_LT(box->width(), pathWidth);
    EXPECT_GE(box->view()->minimumWidth(), pathWidth);

    Activate(&window_);
    window_.Command3->setFocus();
    box->setCurrentIndex(1);  // chosen from the list
    EXPECT_EQ(box->lineEdit()->cursorPosition(), 0);
    box->lineEdit()->setFocus();
    QTest::keyClick(box->lineEdit(), Qt::Key_End);
    window_.Command3->setFocus();  // typed, then left
    EXPECT_EQ(box->lineEdit()->cursorPosition(), 0);

    // The mouse rests on the box while another window has the focus, as
    // when the user comes from the terminal that started the program.
    QWidget other;
    other.show();
    Activate(&other);
    QTest::mouseMove(box->lineEdit(), box->lineEdit()->rect().center());
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 10000));
    EXPECT_EQ(QToolTip::text(), path);
    QToolTip::hideText();
}

// A Read through the window: a box with the application title, the logic's
// dialogs as Module1's with their titles, filters and proposal, the chosen
// name back to the logic; an error box with its detail as its informative
// text.
TEST_F(WindowTest, AReadGoesThroughTheWindowAndItsDialogs) {
    QStringList seen;
    Run(window_.Command4, ModalScript().Dialog([&](QFileDialog& d) {
        seen = QStringList{d.windowTitle(), ModalScript::NameBoxText(d), d.nameFilters().join('|')};
        // The port stays held while the dialog is up.
        EXPECT_TRUE(window_.Logic().comopened == True16 && !window_.Command3->isEnabled());
        ModalScript::Choose(d, Path("a"));
    }));
    EXPECT_EQ(seen, (QStringList{"Save Keybuffer To Bin file", "Ram.Bin", "Bin File (*.bin)"}));
    QFile saved(Path("a.Bin"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().toStdString(), device_->Buffer());
    EXPECT_EQ(window_.windowTitle(), "   File read!");
    ExpectIdle();

    std::string error;
    device_ = StartSimDevice("garbage:10", {}, 0, error);
    ASSERT_NE(device_, nullptr) << error;
    window_.comport->setEditText(QString::fromStdString(device_->PortPath()));
    BoxSeen box;
    Run(window_.Command4, ModalScript().Box(&box));
    EXPECT_EQ(box, (BoxSeen{"Invalid Keybuffer received: character 11 is not a hexadecimal digit.",
                            "Error", QMessageBox::Critical, "Nothing was saved."}));
}

// A second click on Write while a Write runs (so the window processes its
// events meanwhile) meets the busy notice: a box that is not modal, with the
// application title.  The Write goes on while it is up, and the device
// holds the file; closing the window takes the notice down.
TEST_F(WindowTest, AWriteGoesOnWhileTheBusyNoticeIsUp) {
    QPointer<QMessageBox> notice;
    AtFirstProgress([&] {
        QTest::mouseClick(window_.Command3, Qt::LeftButton);
        for (QMessageBox* box : window_.findChildren<QMessageBox*>()) {
            if (box->isVisible()) {
                notice = box;
            }
        }
    });
    RunWrite();
    ASSERT_FALSE(notice.isNull());
    EXPECT_TRUE(notice->isVisible() && !notice->isModal());
    EXPECT_EQ(
        (BoxSeen{notice->text(), notice->windowTitle(), notice->icon(), notice->informativeText()}),
        (BoxSeen{"Allready open", "Vantri", QMessageBox::NoIcon, ""}));
    EXPECT_EQ(window_.windowTitle(), "   File Written !");
    EXPECT_TRUE(DeviceHoldsTheKey());
    ExpectIdle();
    window_.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return notice.isNull(); }, 10000));
}

// Closing the window while a Write runs, after its request: the window stays
// until the Write has ended, the device holding the file, then closes
// without a box (the script reports any).
TEST_F(WindowTest, ClosingDuringAWriteClosesWhenTheDeviceHasTheFile) {
    bool stayed = false;
    AtFirstProgress([&] {
        window_.close();
        stayed = window_.isVisible();
    });
    RunWrite();
    EXPECT_TRUE(stayed);
    EXPECT_FALSE(window_.isVisible());
    EXPECT_TRUE(DeviceHoldsTheKey());
    ExpectIdle();
}

// Closing the idle window shows nothing.  The close box reaches the logic,
// which has the window take down the dialog that is up: the Read ends
// quietly, nothing saved.
TEST_F(WindowTest, ClosingShowsNothingAndDiscardsAReadInItsSaveDialog) {
    ModalScript nothing;
    window_.close();  // a box would come up inside the close
    EXPECT_EQ(nothing.Finish(), "");
    window_.show();
    Run(window_.Command4, ModalScript().Dialog([this](QFileDialog&) { window_.close(); }));
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(QDir(folder_.path()).isEmpty());
    ExpectIdle();
}

}  // namespace
}  // namespace vantri
