// The real window on Qt's offscreen platform, a simulated device on a real
// pseudo-terminal, and a temporary folder for key files.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/Form1.h"
#include "modal_script.h"
#include "serial/zrkCommModule.h"
#include "sim/devsim.h"

namespace vantri {

class WindowTest : public ::testing::Test {
  protected:
    using Clock = std::chrono::steady_clock;

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

    // Starts the device with its fault (if any) and points the Comport box
    // at it.
    void StartDevice(std::string_view fault = {}, std::string buffer = {},
                     std::uint32_t lineRate = 0) {
        sim::Options options;
        options.buffer = std::move(buffer);
        options.lineRate = lineRate;
        if (!fault.empty()) {
            std::string error;
            const auto parsed = sim::ParseFault(fault, error);
            ASSERT_TRUE(parsed.has_value()) << error;
            options.faults.push_back(*parsed);
        }
        std::string error;
        device_ = sim::Simulator::Start(options, error);
        ASSERT_NE(device_, nullptr) << error;
        form_.comport->setEditText(QString::fromStdString(device_->PortPath()));
    }

    // A click as the user makes it; returns when the operation has ended.
    static void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    // Runs `act` at the first event processing of the operation started next.
    static void DuringOperation(std::function<void()> act) {
        QTimer::singleShot(0, std::move(act));
    }

    // Runs `act` at the event processing that follows the window's first
    // progress caption: for a Write, after the first block's pause.
    void AfterFirstProgress(std::function<void()> act) {
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(&form_, &QWidget::windowTitleChanged,
                                       [connection, act = std::move(act)](const QString&) {
                                           QObject::disconnect(*connection);
                                           QTimer::singleShot(0, act);
                                       });
    }

    QString Path(const QString& name) const { return folder_.filePath(name); }

    QStringList FilesInFolder() const {
        return QDir(folder_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    static std::string Contents(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return file.readAll().toStdString();
    }

    static void WriteFile(const QString& path, const std::string& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())),
                  static_cast<qint64>(bytes.size()));
    }

    // Byte strings compared with a short message: sizes and the first
    // difference, not thousands of escaped bytes.
    static ::testing::AssertionResult SameBytes(const std::string& got,
                                                const std::string& expected) {
        if (got == expected) {
            return ::testing::AssertionSuccess();
        }
        std::size_t at = 0;
        while (at < got.size() && at < expected.size() && got[at] == expected[at]) {
            ++at;
        }
        return ::testing::AssertionFailure() << got.size() << " bytes, expected " << expected.size()
                                             << "; first difference at " << at;
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
    }

    // Checks that every expected modal came and nothing else, and ends the
    // script.
    static void ExpectAllDone(testing::ModalScript& script) {
        script.Stop();
        EXPECT_TRUE(script.Finished()) << "modal steps done: " << script.StepsDone();
        EXPECT_TRUE(script.Unexpected().isEmpty())
            << script.Unexpected().join(QLatin1Char('\n')).toStdString();
    }

    static double SecondsSince(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    QTemporaryDir folder_;
    Form1 form_;
    QStringList captions_;  // every caption the window showed, in order
    std::unique_ptr<sim::Simulator> device_;
};

}  // namespace vantri
