// A main window under test: a temporary registry and configuration folders, the settings
// record at its defaults, scripted dialogs, and helpers to click, tick and type by control id.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/main_window.h"
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

    // Texts of the message boxes shown so far, in order.
    std::vector<std::u16string> Shown() const {
        std::vector<std::u16string> texts;
        for (const auto& shown : dialogs_.shown) {
            texts.push_back(shown.text);
        }
        return texts;
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

    // Copies `text` into a settings text field.
    template <size_t N>
    static void SetField(char16_t (&field)[N], const std::u16string& text) {
        std::fill(std::begin(field), std::end(field), u'\0');
        std::copy(text.begin(), text.begin() + std::min(text.size(), N - 1), field);
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

    std::u16string PathOf(const char* name) const {
        const std::string path = (root_ / name).string();
        return std::u16string(path.begin(), path.end());
    }

    ScriptedDialogs dialogs_;
    kem::testing::TempFolder folder_;
    const std::filesystem::path& root_ = folder_.path();
    std::unique_ptr<CKemPemviloDlg> window_;
};
