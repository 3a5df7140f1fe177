// The Qt window: what it adds to the window's logic (tested in tests/form).
// Its look, focus and access keys; that clicks, the boxes' texts and the
// close box reach the logic; that the logic's boxes and dialogs show as Qt
// boxes and Module1's dialogs; and that a close takes down a dialog that is
// up.  Against the simulated device on a real pty.
#include <gtest/gtest.h>

#include <QAbstractItemView>
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
#include <chrono>
#include <memory>
#include <thread>

#include "app/form_window.h"
#include "modal_script.h"
#include "serial/zrkCommModule.h"
#include "tests/common/sim_device.h"

namespace vantri {
namespace {

using testing::BoxSeen;
using testing::ModalScript;

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        QObject::connect(&window_, &QWidget::windowTitleChanged, [this](const QString& caption) {
            captions_ << caption;
            writeEnabled_ << window_.Command3->isEnabled();
        });
        window_.show();
    }
    void TearDown() override {
        CloseComPort();
        device_.reset();
    }

    void StartDevice(std::string_view fault = {}) {
        std::string error;
        device_ = StartSimDevice(fault, {}, 0, error);
        ASSERT_NE(device_, nullptr) << error;
        window_.comport->setEditText(QString::fromStdString(device_->PortPath()));
    }
    // Clicks `button` as the user does, with `script` answering the modals.
    static void Run(QPushButton* button, ModalScript& script) {
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(script.Finish(), "");
    }
    QString Path(const QString& name) const { return folder_.filePath(name); }
    static QByteArray Contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // The window's logic is idle and its buttons usable.
    void ExpectIdle() {
        EXPECT_EQ(window_.Logic().comopened, False16);
        EXPECT_EQ(ComHandle, port::InvalidHandle);
        EXPECT_TRUE(window_.Command4->isEnabled());
        EXPECT_TRUE(window_.Command3->isEnabled());
    }

    QTemporaryDir folder_;
    FormWindow window_;
    QStringList captions_;      // every caption the window showed, in order
    QList<bool> writeEnabled_;  // the Write button's state at each caption
    std::unique_ptr<sim::Simulator> device_;
};

// The control that owns `widget` for the focus chain (a combo box's edit
// field stands for the combo box).
QWidget* Control(QWidget* widget) {
    auto* combo = widget != nullptr ? qobject_cast<QComboBox*>(widget->parentWidget()) : nullptr;
    return combo != nullptr ? combo : widget;
}

TEST_F(WindowTest, StartsWithItsControlsDefaultsAndFocus) {
    struct Expected {
        const char* name;
        QString text;
        QRect geometry;  // twips / 15, rounded
        int items;       // a combo box offers 1..items first
    };
    const Expected controls[] = {
        {"Command4", "&Read", {8, 8, 81, 25}, 0},     {"Command3", "&Write", {8, 32, 81, 25}, 0},
        {"mydelay", "10", {144, 0, 41, 21}, 25},      {"mylen", "16", {144, 24, 41, 21}, 32},
        {"comport", "1", {144, 48, 41, 21}, 9},       {"Label3", "Delay", {112, 3, 41, 17}, 0},
        {"Label2", "Blocksize", {96, 27, 57, 17}, 0}, {"Label1", "Comport", {101, 51, 49, 17}, 0},
    };
    for (const Expected& c : controls) {
        SCOPED_TRACE(c.name);
        auto* widget = window_.findChild<QWidget*>(QLatin1String(c.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), c.geometry);
        QString text;
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            text = button->text();
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            text = combo->currentText();
            EXPECT_TRUE(combo->isEditable());
            // Comport offers this machine's ports after the numbers.
            const std::size_t ports = combo == window_.comport ? port::ListPorts().size() : 0;
            ASSERT_EQ(combo->count(), c.items + static_cast<int>(ports));
            for (int i = 0; i < c.items; ++i) {
                EXPECT_EQ(combo->itemText(i), QString::number(i + 1));
            }
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
            EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
            // The label's text ends before its combo box begins.
            EXPECT_LE(label->x() + label->fontMetrics().horizontalAdvance(label->text()), 144);
        }
        EXPECT_EQ(text, c.text);
    }
    EXPECT_EQ(window_.windowTitle(), "  Vantri Key Writer");
    EXPECT_EQ(window_.size(), QSize(189, 73));
    EXPECT_EQ(window_.minimumSize(), window_.maximumSize());
    ExpectIdle();

    // The focus starts in Comport; Tab goes on to Write, Read, Blocksize,
    // Delay, and round again.
    QApplication::setActiveWindow(&window_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    QList<QWidget*> order{Control(QApplication::focusWidget())};
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << Control(QApplication::focusWidget());
    }
    EXPECT_EQ(order, (QList<QWidget*>{window_.comport, window_.Command3, window_.Command4,
                                      window_.mylen, window_.mydelay, window_.comport}));
}

// Alt+R and Alt+W press the buttons, the logic reads each box, and its
// refusals come up as Qt boxes; the window is left as it was.
TEST_F(WindowTest, AccessKeysAndTheBoxesTextsReachTheLogic) {
    struct Case {
        QComboBox* box;
        const char* text;
        Qt::Key key;
        const char* says;  // the start of the box's text
        QMessageBox::Icon icon;
    };
    const Case cases[] = {
        {window_.comport, "/nonexistent/port", Qt::Key_R, "Not able to Open selected Comport",
         QMessageBox::Warning},
        {window_.comport, "/nonexistent/port", Qt::Key_W, "Not able to Open selected Comport",
         QMessageBox::Warning},
        {window_.mylen, "0", Qt::Key_W, "Blocksize must be", QMessageBox::Warning},
        {window_.mydelay, "x", Qt::Key_W, "Delay must be", QMessageBox::Warning},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const QString kept = c.box->currentText();
        c.box->setEditText(QLatin1String(c.text));
        // A box takes the activation; a window manager gives it back.
        QApplication::setActiveWindow(&window_);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
        BoxSeen seen;
        ModalScript script;
        script.Box(&seen);
        // The button clicks a moment after its key, as it does for a mouse.
        QTest::keyClick(&window_, c.key, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !seen.text.isEmpty(); }, 2000));
        EXPECT_EQ(script.Finish(), "");
        EXPECT_TRUE(seen.text.startsWith(QLatin1String(c.says))) << seen.text.toStdString();
        if (c.box == window_.comport) {  // the port and why, under the box's text
            EXPECT_EQ(seen.detail, "/nonexistent/port: no such port.");
        }
        EXPECT_EQ(seen.title, "Error");
        EXPECT_EQ(seen.icon, c.icon);
        ExpectIdle();
        c.box->setEditText(kept);
    }
    EXPECT_TRUE(captions_.isEmpty());
}

// The Comport box is narrow, its list wide enough for a port's long name; a
// long name reads from its start while the box is not being edited, and
// whole in the tooltip when the mouse rests on it.
TEST_F(WindowTest, ALongPortNameReadsFromItsStartAndWholeOnHover) {
    QComboBox* box = window_.comport;
    ASSERT_GE(box->count(), 9);
    EXPECT_EQ(box->itemText(8), "9");
    const QString path = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    window_.SetSettingChoices(FormSetting::Comport, {"1", path.toStdString()});
    const int pathWidth = box->fontMetrics().horizontalAdvance(path);
    EXPECT_LT(box->width(), pathWidth);
    EXPECT_GE(box->view()->minimumWidth(), pathWidth);

    QApplication::setActiveWindow(&window_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
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
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QTest::mouseMove(box->lineEdit(), box->lineEdit()->rect().center());
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 3000));
    EXPECT_EQ(QToolTip::text(), path);
    QToolTip::hideText();
    box->setEditText("1");
}

// A Read and a Write through the window: its captions and enabling, event
// processing that lets a nested click through, a box with the application
// title, the logic's dialogs as Module1's with their titles, filters and
// proposal, the chosen names back to the logic, and a box's detail as its
// informative text.
TEST_F(WindowTest, AReadAndAWriteGoThroughTheWindowAndItsDialogs) {
    StartDevice();
    QStringList seen;
    BoxSeen busy;
    // A nested click on Read, at the Read's first event processing.
    QTimer::singleShot(0, [this] { QTest::mouseClick(window_.Command4, Qt::LeftButton); });
    Run(window_.Command4, ModalScript().Box(&busy).Dialog([&](QFileDialog& d) {
        seen = QStringList{d.windowTitle(), ModalScript::NameBoxText(d), d.nameFilters().join('|')};
        ModalScript::Choose(d, Path("a"));
    }));
    EXPECT_EQ(busy, (BoxSeen{"Allready open", "Vantri", QMessageBox::NoIcon, ""}));
    EXPECT_EQ(seen, (QStringList{"Save Keybuffer To Bin file", "Ram.Bin", "Bin File (*.bin)"}));
    EXPECT_EQ(Contents(Path("a.Bin")).toStdString(), device_->Buffer());
    EXPECT_EQ(captions_.size(), 10);
    EXPECT_EQ(captions_.first(), " 10 % Done ....");
    EXPECT_EQ(captions_.last(), "   File read!");
    EXPECT_FALSE(writeEnabled_.first());  // Write is off while the Read runs
    ExpectIdle();

    QFile key(Path("key.bin"));
    ASSERT_TRUE(key.open(QIODevice::WriteOnly));
    const QByteArray bytes(4096, '\x5A');
    ASSERT_EQ(key.write(bytes), 4096);
    key.close();
    window_.mydelay->setEditText(QStringLiteral("0"));
    Run(window_.Command3, ModalScript().Dialog([&](QFileDialog& d) {
        EXPECT_EQ(d.fileMode(), QFileDialog::ExistingFile);
        ModalScript::Choose(d, key.fileName());
    }));
    EXPECT_EQ(window_.windowTitle(), "   File Written !");
    ExpectIdle();
    for (int wait = 0; wait < 4000 && device_->WritesCompleted() < 1; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(device_->Buffer(), bytes.toStdString());

    StartDevice("garbage:10");
    BoxSeen box;
    Run(window_.Command4, ModalScript().Box(&box));
    EXPECT_EQ(box, (BoxSeen{"Invalid Keybuffer received: character 11 is not a hexadecimal digit.",
                            "Error", QMessageBox::Critical, "Nothing was saved."}));
    EXPECT_EQ(window_.windowTitle(), "  Vantri Key Writer");
}

// The close box reaches the logic, which has the window take down the
// dialog that is up: the Read ends quietly, nothing saved.
TEST_F(WindowTest, ClosingWhileTheSaveDialogIsUpDiscardsTheReadQuietly) {
    StartDevice();
    Run(window_.Command4, ModalScript().Dialog([this](QFileDialog&) { window_.close(); }));
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(QDir(folder_.path()).isEmpty());
    ExpectIdle();
}

}  // namespace
}  // namespace vantri
