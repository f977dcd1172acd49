// The serial advanced settings dialog: the five serial time-outs of the window's parameter
// record (written back only on OK, so the owner can then reopen the port with them), and two
// switches that act on the serial channel at once: the DTR line and the ignore-EV_RXCHAR mode.
#pragma once

#include <QDialog>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "channels/port_com.h"
#include "terminal/user_dialogs.h"

class QCheckBox;
class QLineEdit;

class CDlgComAdvancedSettings : public QDialog {
    Q_OBJECT

public:
    // Control ids, also the object names of the controls. The time-out boxes are listed in
    // record order: ReadIntervalTimeout, ReadTotalTimeoutMultiplier, ReadTotalTimeoutConstant,
    // WriteTotalTimeoutMultiplier, WriteTotalTimeoutConstant.
    static constexpr std::array<int, 5> kTimeoutIds = {1020, 1021, 1022, 1023, 1024};
    static constexpr int kDtrId = 1047;
    static constexpr int kIgnoreRxCharId = 1064;
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;

    // The refusal shown when a time-out box does not hold an unsigned 32-bit decimal number.
    static constexpr const char16_t* kBadNumberText = u"Please enter a positive integer.";

    // Shows the time-outs of `param`, the channel's GetDtr and g_AppConfig.IgnoreComRXCHAR.
    // `param` is written only by OK; the DTR and ignore switches act on `port` (and the
    // settings record) as soon as they are clicked. Refusals go through `dialogs`, or through
    // Qt message boxes over this dialog when it is null. Everything passed must outlive the
    // dialog. Window thread only.
    CDlgComAdvancedSettings(QWidget* parent, tagComPortParam& param, CKemPortCom& port,
                            UserDialogs* dialogs = nullptr);
    ~CDlgComAdvancedSettings() override;

    // The value of a time-out box: an unsigned decimal number up to 4294967295, blanks around
    // it allowed; nothing for anything else (empty, a sign, other characters, too large). Pure.
    static std::optional<uint32_t> ParseTimeout(const QString& text);

    // OK: when every box holds a number, writes the five time-outs into the record and closes
    // with Accepted; otherwise shows kBadNumberText, puts the focus on the first bad box and
    // stays open with the record untouched.
    void accept() override;

private:
    void OnDtrClicked(bool checked);
    void OnIgnoreRxCharClicked(bool checked);

    tagComPortParam& param_;
    CKemPortCom& port_;
    std::unique_ptr<UserDialogs> own_dialogs_;  // only when the caller gave none
    UserDialogs& dialogs_;
    std::array<QLineEdit*, 5> timeouts_{};
    QCheckBox* dtr_ = nullptr;
    QCheckBox* ignore_rx_char_ = nullptr;
};
