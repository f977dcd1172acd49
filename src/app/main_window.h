// The main window: the port group, the receive display with its options, the input box and
// the send commands, the two pop-up menus and the exit questions. The logic lives in
// src/terminal; the handlers here read their controls, call it and show the result.
#pragma once

#include <QDialog>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "terminal/display_style_format.h"
#include "terminal/link_session.h"
#include "terminal/link_text.h"
#include "terminal/main_layout.h"
#include "terminal/render.h"
#include "terminal/traffic_queue.h"
#include "terminal/user_dialogs.h"
#include "ui/posted_link_events.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QComboBox;
class QKeyEvent;
class CKemComboBox;
class CKemEditCtrl;
class CKemLineEdit;
class CMyRichEditCtrl;
class FindBar;
class QtUserDialogs;
class CDlgASCIIList;
class CDlgCustomEntry;
class CDlgSaveToFileOption;
class CDlgTransmit;

class CKemPemviloDlg : public QDialog, private PostedLinkEvents {
    Q_OBJECT

public:
    // Builds the window from the settings record (g_AppConfig). Questions and file choosers go
    // through `dialogs`, or through real Qt dialogs when it is null. Window thread.
    explicit CKemPemviloDlg(UserDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    // Closes the link and stores the window's state into the settings record, once.
    ~CKemPemviloDlg() override;

    // Set before the window is shown: open the selected link once it is up.
    bool m_bOpenAtStart = false;

    // Carries out a command of a button or menu entry by its identifier (ids in control_ids.h).
    void ExecuteCommand(int id);

    // Writes `count` bytes to the link (opening a closed serial port or client first when
    // `open_if_closed`), then queues, counts and shows them as sent. False when nothing could be
    // sent because no link is open; a link kind of none sends and shows nothing but counts as done.
    bool SendBytes(const uint8_t* data, size_t count, bool open_if_closed);

    // Parses `text` as typed (names, escapes, line end as the check boxes say) and sends it.
    void SendText(const std::u16string& text);

    // Closes the link and copies the window's state into the settings record, as at exit; once.
    void StoreToConfig();
    // Copies the window's state into the settings record, leaving the link as it is.
    void CopyStateToConfig();

    // For tests and benchmarks.
    QWidget* Control(int id) const;
    CMyRichEditCtrl& display() const { return *m_Display; }
    FindBar& find_bar() const { return *m_FindBar; }
    TrafficQueue& traffic() { return m_Traffic; }
    LinkSession& link() { return *m_Link; }
    LinkType link_type() const { return m_nLinkType; }
    // Pushes everything received so far through to the display (runs the handlers now).
    void DrainNow();

protected:
    void reject() override;  // the Exit button and Esc
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void customEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Building (main_window_build.cpp).
    void BuildControls();
    void BuildMenus();
    void CaptureLayout();
    QCheckBox* AddCheckBox(int id, const QString& text, int x, int y, int w, int h);
    QPushButton* AddButton(int id, const QString& text, int x, int y, int w, int h);
    QLabel* AddLabel(const QString& text, int x, int y, int w, int h, QWidget* buddy = nullptr);
    void ConnectControls();
    void ConnectFind();

    // Start-up and end (main_window.cpp).
    void LoadFromConfig();
    void ShowAbout();
    void ShowMenu(int button_id, QMenu* menu);
    void UpdateOtherMenuChecks();
    void OnDisplayOptionChanged(int id);
    void OnTopmost();
    void OnAutoClear();
    void OnAutoClearSizeEdited();
    void OnClear();
    void OnSaveDisplay();
    void UpdateSaveButtonCaption(bool recording);
    void ShowNotice(const std::u16string& text);
    void OpenFind();

    // The auxiliary windows (main_window_windows.cpp).
    void ShowAsciiList();
    void ShowCustomEntries();
    void ShowRecordToFile();
    void ShowPortForwarding();
    void OnFontColour();
    void OnTimeStampFormat();
    void OnAdvanced();

    // Port group (main_window_port.cpp).
    void FillPortList();
    void OnPortSelected();
    void ApplyPortSelection();
    void ApplyComboParams(int id);
    void UpdateTitle();
    void ToggleOpen();
    void OnAutoReconnect();
    LinkType CloseLink();
    void ShowLinkState();
    std::u16string PortListText() const;
    std::u16string ParamText() const;

    // Receive path and rendering (main_window_traffic.cpp).
    void OnTrafficReady() override;
    void OnClientAccepted() override;
    void OnLinkClosed(int32_t code, uint64_t link_id) override;
    void OnReconnectEvent(uint64_t token) override;
    void OnLinkStatus() override { UpdateTitle(); }
    bool AddTraffic(int32_t direction, const uint8_t* data, size_t count);
    void ShowTraffic(int first, bool clear);
    void RefreshRenderOptions();
    void RefreshTrimLimit();
    void ScheduleCounterUpdate();
    void UpdateCounters();

    // Send path (main_window_send.cpp).
    void OnSendClicked();
    void BindSendKey();
    void OnLoopSendToggled();
    void OnLoopPeriodEdited();
    void OnLoopTimer();
    bool OnDisplayKey(QKeyEvent* event, bool released);
    void OnSendFile();
    void SendNextFileBlocks();
    void StopFileSend(const std::u16string& message);
    enum class SendOutcome { kSent, kNotOpen, kWriteFailed, kNoLink };
    SendOutcome WriteAndShow(const uint8_t* data, size_t count, bool open_if_closed);

    bool Checked(int id) const;
    void SetChecked(int id, bool checked);

    std::unique_ptr<QtUserDialogs> m_OwnDialogs;
    UserDialogs* m_pDialogs;

    // Controls (owned by the window through Qt's parent chain).
    CMyRichEditCtrl* m_Display = nullptr;
    FindBar* m_FindBar = nullptr;
    CKemComboBox* m_PortList = nullptr;
    CKemLineEdit* m_ParamBox = nullptr;
    QComboBox* m_SerialChoices[4] = {};
    CKemEditCtrl* m_InputBox = nullptr;
    QPushButton* m_OpenButton = nullptr;
    QPushButton* m_SaveButton = nullptr;
    QLineEdit* m_AutoClearSize = nullptr;
    QLineEdit* m_LoopSendTime = nullptr;
    QLineEdit* m_TxCount = nullptr;
    QLineEdit* m_RxCount = nullptr;
    QWidget* m_Line = nullptr;
    QMenu* m_SaveMenu = nullptr;
    QMenu* m_OtherMenu = nullptr;

    // Layout at start-up: the client size and every child's rectangle, in creation order.
    LayoutRect m_rcClient0{};
    std::vector<std::pair<QWidget*, LayoutRect>> m_mapLayout;

    // Link.
    std::unique_ptr<LinkSession> m_Link;
    LinkType m_nLinkType = LinkType::kNone;

    // Traffic and rendering.
    TrafficQueue m_Traffic;
    TrafficRenderer m_Renderer;
    TrafficTrimLimit m_TrimLimit;
    ShowByNameFlags m_abCtrlShown;
    DisplayStyleTable m_Styles;
    bool m_bPaused = false;
    bool m_bWaitingForDisplay = false;
    QTimer m_CounterTimer;

    // Send path.
    bool m_bKeyToSend = true;
    bool m_bCtrlKeyToSendCode = false;
    QTimer m_LoopTimer;
    std::u16string m_strSendFile;
    struct FileSend {
        std::string content;
        size_t offset = 0;
    };
    std::unique_ptr<FileSend> m_FileSend;

    // Modeless windows, each made on first use and kept (hidden when closed) until this one ends.
    CDlgASCIIList* m_pAsciiList = nullptr;
    CDlgCustomEntry* m_pCustomEntry = nullptr;
    CDlgSaveToFileOption* m_pSaveToFile = nullptr;
    CDlgTransmit* m_pTransmit = nullptr;

    bool m_bStored = false;
    bool m_bStartHandled = false;
};
