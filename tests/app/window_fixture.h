// The real window on Qt's offscreen platform, a simulated device on a real
// pseudo-terminal, and a temporary folder for key files.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/Form1.h"
#include "modal_script.h"
#include "serial/zrkCommModule.h"
#include "tests/common/sim_device.h"

namespace vantri {

using testing::BoxSeen;
using testing::ModalScript;

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        QObject::connect(&form_, &QWidget::windowTitleChanged,
                         [this](const QString& caption) { captions_ << caption; });
        form_.show();
    }

    void TearDown() override {
        CloseComPort();
        device_.reset();
    }

    // Starts the device and points the Comport box at it.
    void StartDevice(std::string_view fault = {}, std::uint32_t lineRate = 0) {
        std::string error;
        device_ = StartSimDevice(fault, {}, lineRate, error);
        ASSERT_NE(device_, nullptr) << error;
        form_.comport->setEditText(QString::fromStdString(device_->PortPath()));
    }

    // Clicks `button` as the user does, with `script` answering the modals
    // the operation opens; returns the seconds until the click came back.
    static double Run(QPushButton* button, ModalScript& script) {
        const auto start = std::chrono::steady_clock::now();
        QTest::mouseClick(button, Qt::LeftButton);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(script.Finish(), "");
        return took.count();
    }

    static double Run(QPushButton* button, ModalScript&& script) { return Run(button, script); }

    // Runs `act` at the first event processing of the operation started next.
    static void DuringOperation(std::function<void()> act) { QTimer::singleShot(0, act); }

    // Runs `act` at the event processing after the first progress caption:
    // for a Write, after the first block and its pause.
    void AfterFirstProgress(std::function<void()> act) {
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(&form_, &QWidget::windowTitleChanged,
                                       [connection, act = std::move(act)](const QString&) {
                                           QObject::disconnect(*connection);
                                           QTimer::singleShot(0, act);
                                       });
    }

    QString Path(const QString& name) const { return folder_.filePath(name); }

    // A dialog step: the user chooses `name` in the folder.
    std::function<void(QFileDialog&)> Choosing(const QString& name) const {
        return [path = Path(name)](QFileDialog& d) { ModalScript::Choose(d, path); };
    }

    QStringList FilesInFolder() const {
        return QDir(folder_.path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    static std::string Contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    static void WriteFile(const QString& path, const std::string& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
    }

    // Sizes and the first difference, not thousands of escaped bytes.
    static ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
        if (got == want) {
            return ::testing::AssertionSuccess();
        }
        const auto at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first;
        return ::testing::AssertionFailure() << got.size() << " bytes, expected " << want.size()
                                             << "; first difference at " << (at - got.begin());
    }

    // What the device received, as bytes.
    std::string Received() const {
        std::string bytes;
        for (const sim::Received& r : device_->ReceivedBytes()) {
            bytes += static_cast<char>(r.byte);
        }
        return bytes;
    }

    // The window is idle: port closed, not busy, both buttons usable.
    void ExpectIdle() const {
        EXPECT_EQ(form_.comopened, False16);
        EXPECT_EQ(ComHandle, port::InvalidHandle);
        EXPECT_TRUE(form_.Command4->isEnabled());
        EXPECT_TRUE(form_.Command3->isEnabled());
        EXPECT_EQ(form_.KeyFileName, "");
    }

    QTemporaryDir folder_;
    Form1 form_;
    QStringList captions_;  // every caption the window showed, in order
    std::unique_ptr<sim::Simulator> device_;
};

}  // namespace vantri
