// The port forwarding window: a second link (serial port, TCP client or TCP server) beside the
// main one. What the main link receives is written to it (Relay), what it receives is handed to
// the main window (received) to go out on the main link; both directions are counted.
#pragma once

#include <QDialog>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "terminal/link_session.h"
#include "terminal/link_text.h"
#include "terminal/user_dialogs.h"
#include "ui/posted_link_events.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class CKemComboBox;
class CKemLineEdit;

// The control identifiers of the window.
namespace transmit_ids {
inline constexpr int kPortList = 1001;       // entry list: serial ports, "TCP/IP", "SERVER"
inline constexpr int kParam = 1006;          // parameter text of the chosen kind
inline constexpr int kOpen = 1014;           // open / close toggle
inline constexpr int kTxCount = 1057;        // bytes handed to the second link
inline constexpr int kRxCount = 1058;        // bytes received from the second link
inline constexpr int kClearCounts = 1063;    // "X": both counters back to 0
inline constexpr int kAutoReconnect = 1091;  // "自动重连": the second link comes back by itself
}  // namespace transmit_ids

class CDlgTransmit : public QDialog, private PostedLinkEvents {
    Q_OBJECT

public:
    // Builds the (hidden) window; the settings record is not read until Create. Messages go
    // through `dialogs`, which must outlive the window. Window's thread.
    CDlgTransmit(QWidget* parent, UserDialogs& dialogs);
    // Closes the second link. Window's thread.
    ~CDlgTransmit() override;
    CDlgTransmit(const CDlgTransmit&) = delete;
    CDlgTransmit& operator=(const CDlgTransmit&) = delete;

    // First use of the window: shows TransmitComPortName, applies its kind and hands the
    // serial parameters of TransmitComPortParam to the serial channel. Returns true when it
    // did so now, false when the window had been created before (nothing changes then).
    // Window's thread.
    bool Create();
    // Whether Create has run. Window's thread.
    bool IsCreated() const { return m_bCreated; }
    // The main window's forwarding command: Create on first use, then show and raise the
    // window. Window's thread.
    void ShowWindow();

    // True when the second link is open: serial port open, client connected, or server
    // listening (with or without a client). Window's thread.
    bool IsOpen() const;

    // For every block the main link received: written to the second link when it can take it
    // (serial open, client connected, server with a connected client) and then counted in TX,
    // whatever the write gave; otherwise dropped and not counted. Null `data` or a zero
    // `count` does nothing. Window's thread; may block while the second link makes no progress
    // (bounded by LinkSession::kSendTimeoutMs for TCP, the port's write stall for serial).
    void Relay(const uint8_t* data, size_t count);

    // At the main window's end: the parameter text now shown is stored into the Transmit*
    // field of the current kind, and the entry text into TransmitComPortName. Nothing when
    // the window was never created (the settings keep what they had). Window's thread.
    void StoreToConfig();

    // For the main window and tests.
    LinkType link_type() const { return m_nType; }
    uint32_t tx_bytes() const { return m_nTxBytes; }
    uint32_t rx_bytes() const { return m_nRxBytes; }
    // The control with identifier `id` (transmit_ids), null for another id.
    QWidget* Control(int id) const;
    LinkSession& link() { return *m_Link; }

signals:
    // The second link received `bytes` (counted in RX already): the owner sends them on the
    // main link. Emitted on the window's thread, once per received block, in order.
    void received(const std::string& bytes);

protected:
    void customEvent(QEvent* event) override;

private:
    void BuildControls();
    void FillPortList();
    void OnPortSelected();
    void ApplyKind();
    void OnOpenClicked();
    void OnClearCounts();
    void OnTrafficReady() override;
    void OnClientAccepted() override;
    void OnLinkClosed(int32_t code, uint64_t link_id) override;
    void OnReconnectEvent(uint64_t token) override;
    void OnLinkStatus() override { ShowLinkState(); }
    void OnAutoReconnectToggled(bool on);
    void ShowLinkState();
    void ShowCounts();
    std::u16string PortText() const;
    std::u16string ParamText() const;

    UserDialogs& m_Dialogs;
    CKemComboBox* m_cbPort = nullptr;
    CKemLineEdit* m_edParam = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QLineEdit* m_edTx = nullptr;
    QLineEdit* m_edRx = nullptr;
    QPushButton* m_btnClear = nullptr;
    QCheckBox* m_chkAutoReconnect = nullptr;

    // Before the window is created no kind is chosen, so nothing is stored for one.
    LinkType m_nType = LinkType::kNone;
    uint32_t m_nTxBytes = 0;
    uint32_t m_nRxBytes = 0;
    bool m_bCreated = false;
    // Last member: its workers post to this window until it is gone.
    std::unique_ptr<LinkSession> m_Link;
};
