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
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include "app/form_window.h"
#include "modal_script.h"
#include "serial/zrkCommModule.h"
#include "tests/common/files.h"
#include "tests/common/sim_device.h"

namespace vantri {
namespace {

using testing::ModalScript;

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        window_.show();
        UseDevice("");
    }
    void TearDown() override { CloseComPort(); }

    void UseDevice(const char* fault) {
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

    QTemporaryDir folder_;
    FormWindow window_;
    std::unique_ptr<sim::Simulator> device_;
    std::string key_ = test::RandomBytes(4096, 11);
};

// What a regression of the look would break, where the focus goes, how a
// long port name reads, and what the access keys do.
TEST_F(WindowTest, LooksAsDesignedTabsShowsALongPortNameWholeAndTakesAccessKeys) {
    EXPECT_TRUE(window_.palette().color(QPalette::Window) == Qt::black &&
                window_.autoFillBackground());
    EXPECT_TRUE(window_.Command4->font().bold() && window_.Command3->font().bold() &&
                !window_.Label1->font().bold());
    EXPECT_TRUE(window_.minimumSize() == window_.size() && window_.maximumSize() == window_.size());
    EXPECT_TRUE((window_.windowFlags() & Qt::WindowCloseButtonHint) &&
                !(window_.windowFlags() & Qt::WindowMinMaxButtonsHint));
    EXPECT_EQ(window_.windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
    // Labels yellow, boxes light yellow; each label's text ends before its
    // box begins, and a screen reader names the box by it.
    for (auto [label, box] : {std::pair{window_.Label1, window_.comport},
                              {window_.Label2, window_.mylen},
                              {window_.Label3, window_.mydelay}}) {
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 255, 0));
        EXPECT_EQ(box->palette().color(QPalette::Base), QColor(255, 255, 192));
        EXPECT_LE(label->x() + label->fontMetrics().horizontalAdvance(label->text()), box->x());
        const auto by = QAccessible::queryAccessibleInterface(box)->relations(QAccessible::Label);
        EXPECT_TRUE(by.size() == 1 && by[0].first->object() == label)
            << box->objectName().toStdString();
        EXPECT_EQ(box->accessibleName(), label->text());
    }

    // The focus starts in Comport; Tab goes on to Write, Read, Blocksize,
    // Delay, and round again (a combo box's edit field stands for the box).
    QApplication::setActiveWindow(&window_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    QList<QWidget*> order;
    for (int i = 0; i < 6; ++i) {
        QWidget* w = QApplication::focusWidget();
        order << (qobject_cast<QComboBox*>(w->parentWidget()) ? w->parentWidget() : w);
        QTest::keyClick(w, Qt::Key_Tab);
    }
    EXPECT_EQ(order, (QList<QWidget*>{window_.comport, window_.Command3, window_.Command4,
                                      window_.mylen, window_.mydelay, window_.comport}));

    // The Comport box is narrow, its list wide enough for a port's long
    // name; a long name reads from its start while the box is not being
    // edited, and whole in the tooltip when the mouse rests on it.
    QComboBox* box = window_.comport;
    const QString path = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    window_.SetSettingChoices(FormSetting::Comport, {"1", path.toStdString()});
    const int pathWidth = box->fontMetrics().horizontalAdvance(path);
    EXPECT_TRUE(box->width() < pathWidth && box->view()->minimumWidth() >= pathWidth);

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
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 10000));
    EXPECT_EQ(QToolTip::text(), path);
    QToolTip::hideText();

    // Alt+R and Alt+W press the buttons, the logic reads each box, and its
    // errors come up as Qt boxes, a detail as the informative text.
    UseDevice("garbage:10");
    window_.mydelay->setEditText(QStringLiteral("x"));  // a Write's first refusal
    for (const auto& [key, starts, ends] :
         {std::tuple{Qt::Key_R, "Error: Invalid Keybuffer", " / Nothing was saved. (Critical)"},
          {Qt::Key_W, "Error: Delay must be", "(Warning)"}}) {
        QApplication::setActiveWindow(&window_);  // a box takes the activation
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
        QString seen;
        ModalScript script;
        script.Box(&seen);
        // The button clicks a moment after its key, as it does for a mouse.
        QTest::keyClick(&window_, key, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !seen.isEmpty(); }, 10000));
        EXPECT_EQ(script.Finish(), "");
        EXPECT_TRUE(seen.startsWith(QLatin1String(starts)) && seen.endsWith(QLatin1String(ends)))
            << seen.toStdString();
    }
}

// Closing the idle window shows nothing.  A Read through the window: the
// logic's dialogs as Module1's with their titles, filters and proposal, the
// chosen name back to the logic.  The close box reaches the logic, which
// has the window take down the dialog that is up: that Read ends quietly,
// nothing saved.
TEST_F(WindowTest, AReadGoesThroughItsDialogsAndACloseDiscardsIt) {
    ModalScript nothing;
    window_.close();  // a box would come up inside the close
    EXPECT_EQ(nothing.Finish(), "");
    window_.show();
    QStringList seen;
    Run(window_.Command4, ModalScript().Dialog([&](QFileDialog& d) {
        seen = QStringList{d.windowTitle(), ModalScript::NameBox(d)->text(),
                           d.nameFilters().join('|')};
        ModalScript::Choose(d, Path("a"));
    }));
    EXPECT_EQ(seen, (QStringList{"Save Keybuffer To Bin file", "Ram.Bin", "Bin File (*.bin)"}));
    EXPECT_EQ(test::ReadFile(Path("a.Bin").toStdString()), device_->Buffer());
    EXPECT_EQ(window_.windowTitle(), "   File read!");

    Run(window_.Command4, ModalScript().Dialog([this](QFileDialog&) { window_.close(); }));
    EXPECT_TRUE(!window_.isVisible() && QApplication::activeModalWidget() == nullptr);
    EXPECT_EQ(test::NamesIn(folder_.path().toStdString()), std::set<std::string>{"a.Bin"});
}

// A second click on Write while a Write runs (so the window processes its
// events meanwhile) meets the busy notice: a box that is not modal, with the
// application title.  Closing the window then, after the Write's request:
// the window stays until the Write has ended, the device holding the file,
// then closes with the notice and without another box (the script reports
// any).
TEST_F(WindowTest, AWriteGoesOnPastTheBusyNoticeAndACloseWaitsForIt) {
    QPointer<QMessageBox> notice;
    QString seen;
    bool stayed = false;
    // From the event loop after the window's next caption: the Write's
    // first progress, while it runs.
    QObject::connect(
        &window_, &QWidget::windowTitleChanged, &window_,
        [&] {
            QTimer::singleShot(0, &window_, [&] {
                QTest::mouseClick(window_.Command3, Qt::LeftButton);
                notice = window_.findChild<QMessageBox*>();
                ASSERT_TRUE(notice && notice->isVisible() && !notice->isModal());
                seen = ModalScript::Seen(*notice);
                window_.close();
                stayed = window_.isVisible();
            });
        },
        Qt::SingleShotConnection);
    // A Write of a key file unlike the device's buffer, with a short Delay.
    test::WriteFile(Path("key.bin").toStdString(), key_);
    window_.mydelay->setEditText(QStringLiteral("1"));
    Run(window_.Command3,
        ModalScript().Dialog([this](QFileDialog& d) { ModalScript::Choose(d, Path("key.bin")); }));
    EXPECT_TRUE(test::Eventually([this] { return device_->WritesCompleted() >= 1; }) &&
                device_->Buffer() == key_);
    EXPECT_EQ(seen, "Vantri: Allready open /  (NoIcon)");
    EXPECT_TRUE(stayed && !window_.isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return notice.isNull(); }, 10000));
}

}  // namespace
}  // namespace vantri
