// The window at rest, its layout, the busy rule's open step, and the
// caption and name rules.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>

#include "app/captions.h"
#include "window_fixture.h"

namespace vantri {
namespace {

using testing::BoxSeen;
using testing::ModalScript;

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) {
        items << combo->itemText(i);
    }
    return items;
}

QStringList Numbers(int last) {
    QStringList numbers;
    for (int i = 1; i <= last; ++i) {
        numbers << QString::number(i);
    }
    return numbers;
}

// The control that owns `widget` for the focus chain (a combo box's edit
// field stands for the combo box).
QWidget* Control(QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget->parentWidget())) {
        return combo;
    }
    return widget;
}

TEST_F(WindowTest, StartsWithTheDefaultsAndTheFocusInComport) {
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    EXPECT_EQ(form_.comport->currentText(), "1");
    EXPECT_EQ(form_.mylen->currentText(), "16");
    EXPECT_EQ(form_.mydelay->currentText(), "10");
    EXPECT_EQ(Items(form_.comport), Numbers(9));
    EXPECT_EQ(Items(form_.mylen), Numbers(32));
    EXPECT_EQ(Items(form_.mydelay), Numbers(25));
    EXPECT_EQ(form_.focusWidget() ? Control(form_.focusWidget()) : nullptr, form_.comport);
    EXPECT_EQ(form_.comopened, False16);
    EXPECT_EQ(form_.KeyFileName, "");
    EXPECT_TRUE(form_.KeyImage.empty());
    ExpectIdle();

    // The lists offer values; the edit fields take what the user types.
    form_.mylen->lineEdit()->selectAll();
    QTest::keyClicks(form_.mylen->lineEdit(), QStringLiteral("40"));
    EXPECT_EQ(form_.mylen->currentText(), "40");
    EXPECT_EQ(form_.mylen->count(), 32);

    // Nothing carries over to the next start.
    Form1 next;
    EXPECT_EQ(next.mylen->currentText(), "16");
    EXPECT_EQ(next.windowTitle(), "  Vantri Key Writer");
}

TEST_F(WindowTest, ControlsSitWhereTheLayoutPutsThem) {
    struct Expected {
        const char* name;
        QString text;
        QRect geometry;  // twips / 15, rounded
    };
    const Expected controls[] = {
        {"Command4", "&Read", {8, 8, 81, 25}},     {"Command3", "&Write", {8, 32, 81, 25}},
        {"mydelay", "10", {144, 0, 41, 21}},       {"mylen", "16", {144, 24, 41, 21}},
        {"comport", "1", {144, 48, 41, 21}},       {"Label3", "Delay", {112, 3, 41, 17}},
        {"Label2", "Blocksize", {96, 27, 57, 17}}, {"Label1", "Comport", {101, 51, 49, 17}},
    };
    for (const Expected& c : controls) {
        auto* widget = form_.findChild<QWidget*>(QLatin1String(c.name));
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_EQ(widget->geometry(), c.geometry) << c.name;
        QString text;
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            text = button->text();
            EXPECT_TRUE(button->font().bold()) << c.name;
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            text = combo->currentText();
            EXPECT_TRUE(combo->isEditable()) << c.name;
            EXPECT_EQ(combo->palette().color(QPalette::Base), QColor(255, 255, 192)) << c.name;
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
            EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 255, 0));
            EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
            // The label's text ends before its combo box begins.
            EXPECT_LE(label->x() + label->fontMetrics().horizontalAdvance(label->text()), 144)
                << c.name;
        }
        EXPECT_EQ(text, c.text) << c.name;
    }

    // Client area, fixed size, black, no minimize or maximize box.
    EXPECT_EQ(form_.size(), QSize(189, 73));
    EXPECT_EQ(form_.minimumSize(), form_.maximumSize());
    EXPECT_EQ(form_.palette().color(QPalette::Window), QColor(0, 0, 0));
    EXPECT_TRUE(form_.autoFillBackground());
    EXPECT_TRUE(form_.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form_.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form_.windowFlags() & Qt::WindowMaximizeButtonHint);

    // The icon, drawn at the three sizes.
    const QList<QSize> sizes = form_.windowIcon().availableSizes();
    for (const int size : {16, 32, 48}) {
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    }

    // Focus order: comport, Write, Read, Blocksize, Delay, and round again.
    QList<QWidget*> order;
    QWidget* at = form_.comport;
    for (int step = 0; step < 40 && order.size() < 6; ++step) {
        QWidget* control = Control(at);
        if ((control->focusPolicy() & Qt::TabFocus) &&
            (order.isEmpty() || order.back() != control)) {
            order << control;
        }
        at = at->nextInFocusChain();
    }
    EXPECT_EQ(order, (QList<QWidget*>{form_.comport, form_.Command3, form_.Command4, form_.mylen,
                                      form_.mydelay, form_.comport}));
}

TEST_F(WindowTest, AccessKeysPressTheButtons) {
    QApplication::setActiveWindow(&form_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
    form_.comport->setEditText(QStringLiteral("/nonexistent/port"));
    std::vector<BoxSeen> seen(2);
    ModalScript script;
    script.Box(&seen[0]).Box(&seen[1]);
    script.Start();
    // From the Comport box, where the focus starts; the button clicks a
    // moment after its key, as it does for a mouse.
    ASSERT_EQ(Control(QApplication::focusWidget()), form_.comport);
    QTest::keyClick(&form_, Qt::Key_R, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return script.StepsDone() == 1; }, 2000));
    // The box took the activation; a window manager gives it back.
    QApplication::setActiveWindow(&form_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
    QTest::keyClick(&form_, Qt::Key_W, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return script.StepsDone() == 2; }, 2000));
    ExpectAllDone(script);
    EXPECT_EQ(seen[0].text, "Not able to Open selected Comport");
    EXPECT_EQ(seen[1].text, "Not able to Open selected Comport");
}

TEST_F(WindowTest, APortThatCannotBeOpenedLeavesTheWindowIdle) {
    form_.comport->setEditText(QStringLiteral("/nonexistent"));
    for (QPushButton* button : {form_.Command4, form_.Command3}) {
        BoxSeen seen;
        ModalScript script;
        script.Box(&seen);
        script.Start();
        Click(button);
        ExpectAllDone(script);
        EXPECT_EQ(seen.text, "Not able to Open selected Comport");
        EXPECT_EQ(seen.title, "Error");
        EXPECT_EQ(seen.icon, QMessageBox::Warning);
        EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
        ExpectIdle();
    }
    EXPECT_TRUE(captions_.isEmpty());
}

TEST_F(WindowTest, UnusableSettingsAreRefusedBeforeThePortIsOpened) {
    StartDevice();
    struct Case {
        QComboBox* box;
        QString text;
        QPushButton* button;
        const char* says;
    };
    const Case cases[] = {
        {form_.comport, "   ", form_.Command4, "Give a serial port"},
        {form_.mylen, "0", form_.Command3, "Blocksize must be"},
        {form_.mylen, "12x", form_.Command3, "Blocksize must be"},
        {form_.mydelay, "-1", form_.Command3, "Delay must be"},
    };
    for (const Case& c : cases) {
        const QString kept = c.box->currentText();
        c.box->setEditText(c.text);
        BoxSeen seen;
        ModalScript script;  // no file dialog may follow
        script.Box(&seen);
        script.Start();
        Click(c.button);
        ExpectAllDone(script);
        EXPECT_TRUE(seen.text.startsWith(QLatin1String(c.says))) << seen.text.toStdString();
        EXPECT_EQ(seen.title, "Error");
        EXPECT_EQ(seen.icon, QMessageBox::Warning);
        ExpectIdle();
        c.box->setEditText(kept);
    }
    EXPECT_EQ(Received(), "");
    EXPECT_TRUE(captions_.isEmpty());
}

TEST(CaptionRules, ProgressTextsAndTheExtensionRule) {
    EXPECT_FALSE(ReadProgressCaption(409).has_value());
    EXPECT_FALSE(ReadProgressCaption(411).has_value());
    EXPECT_EQ(ReadProgressCaption(410), " 10 % Done ....");
    EXPECT_EQ(ReadProgressCaption(3690), " 90 % Done ....");
    EXPECT_FALSE(ReadProgressCaption(4096).has_value());

    EXPECT_EQ(WriteProgressCaption(1), "  0 % Done");
    EXPECT_EQ(WriteProgressCaption(33), "  1 % Done");
    EXPECT_EQ(WriteProgressCaption(4081), "100 % Done");
    EXPECT_EQ(WriteProgressCaption(4065), " 99 % Done");  // Blocksize 32, last block

    EXPECT_EQ(WithBinExtension(QStringLiteral("C:\\keys\\a")), "C:\\keys\\a.Bin");
    EXPECT_EQ(WithBinExtension(QStringLiteral("C:\\keys\\a.bin")), "C:\\keys\\a.bin");
    EXPECT_EQ(WithBinExtension(QStringLiteral("C:\\keys\\a.txt")), "C:\\keys\\a.txt");
    EXPECT_EQ(WithBinExtension(QStringLiteral("C:\\keys\\a.c")), "C:\\keys\\a.c.Bin");
    EXPECT_EQ(WithBinExtension(QStringLiteral("abc")), "abc.Bin");
    EXPECT_EQ(WithBinExtension(QStringLiteral(".key")), ".key");
}

TEST_F(WindowTest, HextobinReadsHexTextIntoBytes) {
    EXPECT_EQ(form_.hextobin(QStringLiteral("00FF7a")), std::string("\x00\xFF\x7A", 3));
    // A character beyond Latin-1 is no digit, as any other non-digit.
    EXPECT_EQ(form_.hextobin(QString::fromUtf8("\xE2\x82\xAC"
                                               "1")),
              std::string("\x00", 1));
}

}  // namespace
}  // namespace vantri
