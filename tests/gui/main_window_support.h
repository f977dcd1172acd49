// A main window under test: a temporary registry and configuration folders, the settings
// record at its defaults, scripted dialogs, and helpers to click, tick and type by control id.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/main_window.h"
#include "channels/pty_pair.h"
#include "gui/qt_app.h"
#include "settings/app_config.h"
#include "settings/app_config_ext.h"
#include "support/scratch_files.h"
#include "terminal/config_store.h"
#include "terminal/scripted_dialogs.h"
#include "ui/kem_combo_box.h"
#include "ui/receive_display.h"

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        kem::testing::EnsureQtApp();
        setenv("KEMPEMVILO_REGISTRY", (root_ / "registry.sqlite3").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        g_AppConfig = DefaultAppConfig();
        g_AppConfigExt = DefaultAppConfigExt();
        g_strConfigFile.clear();
    }

    void TearDown() override {
        window_.reset();
        g_AppConfig = DefaultAppConfig();
        g_AppConfigExt = DefaultAppConfigExt();
        g_strConfigFile.clear();
        unsetenv("KEMPEMVILO_REGISTRY");
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("KEMPEMVILO_SERIAL_EXTRA");
    }

    // Builds the window from the record as it is now and shows it (offscreen).
    CKemPemviloDlg& MakeWindow(bool show = true) {
        window_ = std::make_unique<CKemPemviloDlg>(&dialogs_);
        if (show) {
            window_->show();
            QCoreApplication::processEvents();
        }
        return *window_;
    }

    // Ends the window as closing it does: the record gets its state.
    void DestroyWindow() { window_.reset(); }

    CKemPemviloDlg& window() { return *window_; }

    template <typename Widget = QWidget>
    Widget* Find(int id) {
        auto* widget = qobject_cast<Widget*>(window_->Control(id));
        EXPECT_NE(widget, nullptr) << "no control " << id;
        return widget;
    }

    void Click(int id) { Find<QAbstractButton>(id)->click(); }
    bool IsChecked(int id) { return Find<QAbstractButton>(id)->isChecked(); }
    QString ButtonText(int id) { return Find<QAbstractButton>(id)->text(); }
    void SetChecked(int id, bool on) {
        if (IsChecked(id) != on) {
            Click(id);
        }
    }

    // The record's main link as a TCP client of 127.0.0.1:`port`, or a server on `port`.
    static void UseClient(uint16_t port) {
        SetField(g_AppConfig.ComPortName, u"TCP/IP");
        SetField(g_AppConfig.NetPortParam, u"127.0.0.1:" + U16(std::to_string(port)));
    }
    static void UseServer(uint16_t port) {
        SetField(g_AppConfig.ComPortName, u"SERVER");
        SetField(g_AppConfig.NetServerParam, U16(std::to_string(port)));
    }

    // Puts `name` into the port list as a user choosing it would, and the parameter text.
    void ChoosePort(const std::u16string& name) {
        auto* list = Find<QComboBox>(ids::kPortList);
        const QString text = QString::fromStdU16String(name);
        int index = list->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
        if (index < 0) {
            list->insertItem(0, text);
            index = 0;
        }
        list->setCurrentIndex(index);
        list->setEditText(text);
        QMetaObject::invokeMethod(list, "selectionChanged");
        QCoreApplication::processEvents();
    }

    void SetParam(const QString& text) {
        auto* box = Find<QLineEdit>(ids::kParamBox);
        box->setText(text);
        emit box->editingFinished();
    }

    QString Param() { return Find<QLineEdit>(ids::kParamBox)->text(); }

    void SetInput(const QString& text) { Find<QPlainTextEdit>(ids::kInputBox)->setPlainText(text); }

    // The display's text once everything received has been handled.
    std::u16string DisplayText() {
        window_->DrainNow();
        return window_->display().model().ExportText();
    }

    // Waits until the display shows `text` somewhere.
    bool WaitDisplayHas(const std::u16string& text) {
        return Wait([&] { return DisplayText().find(text) != std::u16string::npos; });
    }

    // Types `text` into a line edit as the user would (textEdited follows each key).
    void TypeInto(int id, const QString& text) {
        auto* box = Find<QLineEdit>(id);
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, text);
    }

    // Chooses item `text` of serial choice list `id` as the user would (activated follows).
    void Choose(int id, const QString& text) {
        auto* box = Find<QComboBox>(id);
        const int index = box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
        ASSERT_GE(index, 0) << text.toStdString();
        box->setCurrentIndex(index);
        emit box->activated(index);
        QCoreApplication::processEvents();
    }

    // Queues the answers of the next message boxes.
    void Answer(std::initializer_list<DialogAnswer> answers) {
        dialogs_.answers.insert(dialogs_.answers.end(), answers);
    }

    // Waits until `count` message boxes have been shown.
    bool WaitShown(size_t count, int timeout_ms = 5000) {
        return Wait([&] { return dialogs_.shown.size() >= count; }, timeout_ms);
    }

    // The bytes of the sent (direction 0) or received records now queued, joined, and how
    // many records there are of that direction.
    std::string Queued(bool received, size_t* records = nullptr) {
        std::string bytes;
        size_t count = 0;
        window_->traffic().ForEach([&](const tagComExchangeData& record) {
            if ((record.direction != 0) == received) {
                bytes.append(record.data.begin(), record.data.end());
                ++count;
            }
        });
        if (records != nullptr) {
            *records = count;
        }
        return bytes;
    }

    // The far end of `pty` sends `bytes`; returns once the window has queued them all, so each
    // call makes its own received block.
    void ReceiveFrom(kem::testing::PtyPair& pty, const std::string& bytes) {
        const uint32_t before = window_->traffic().RxCount();
        ASSERT_EQ(pty.WriteMaster(bytes), bytes.size());
        ASSERT_TRUE(Wait([&] {
            window_->DrainNow();
            return window_->traffic().RxCount() >= before + bytes.size();
        }));
    }

    // What the far end of `pty` has received: up to `size` bytes, read while the events run.
    std::string PtyGot(kem::testing::PtyPair& pty, size_t size, int timeout_ms = 5000) {
        std::vector<uint8_t> got;
        Wait(
            [&] {
                pty.ReadMaster(got, size - got.size(), 5);
                return got.size() >= size;
            },
            timeout_ms);
        return std::string(got.begin(), got.end());
    }

    // Copies `text` into a settings text field.
    template <size_t N>
    static void SetField(char16_t (&field)[N], const std::u16string& text) {
        std::fill(std::begin(field), std::end(field), u'\0');
        std::copy(text.begin(), text.begin() + std::min(text.size(), N - 1), field);
    }

    static std::u16string U16(const std::string& ascii) {
        return std::u16string(ascii.begin(), ascii.end());
    }

    QString Counter(int id) {
        window_->DrainNow();
        return Find<QLineEdit>(id)->text();
    }

    // Runs the event loop until `done` or the time-out (a hang guard only).
    template <typename Condition>
    bool Wait(Condition done, int timeout_ms = 5000) {
        return kem::testing::PumpUntil(done, timeout_ms);
    }
    void Pump(int ms) {
        Wait([] { return false; }, ms);
    }

    // The display as drawn once everything received is in it.
    QImage GrabDisplay() {
        window_->DrainNow();
        QCoreApplication::processEvents();
        return window_->display().grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // Pixels of `image` within `tolerance` of `rgb` in each channel (anti-aliased edges out).
    static int PixelsNear(const QImage& image, QRgb rgb, int tolerance = 24) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                count += std::abs(qRed(p) - qRed(rgb)) <= tolerance &&
                         std::abs(qGreen(p) - qGreen(rgb)) <= tolerance &&
                         std::abs(qBlue(p) - qBlue(rgb)) <= tolerance;
            }
        }
        return count;
    }

    std::u16string PathOf(const char* name) const { return U16((root_ / name).string()); }

    ScriptedDialogs dialogs_;
    kem::testing::TempFolder folder_;
    const std::filesystem::path& root_ = folder_.path();
    std::unique_ptr<CKemPemviloDlg> window_;
};
