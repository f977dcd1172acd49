// The receive path: events posted by the link's threads, the traffic queue with its counters,
// and rendering into the display. A flood is taken in slices of bounded time, and not at all
// while the display is behind, so the window stays responsive and the link's own back-pressure
// slows the peer instead of memory growing.
#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>

#include "app/control_ids.h"
#include "app/main_window.h"
#include "settings/app_config.h"
#include "ui/receive_display.h"
#include "ui/save_to_file_option.h"
#include "ui/transmit_dialog.h"

namespace {

// How much one turn of the event loop takes from the link: rendering it takes well under a
// millisecond, so the display's batching decides the pace.
constexpr size_t kSliceBytes = 256 * 1024;

}  // namespace

void CKemPemviloDlg::customEvent(QEvent* event) {
    if (!DispatchLinkEvent(event)) {
        QDialog::customEvent(event);
    }
}

void CKemPemviloDlg::OnTrafficReady() {
    if (m_Display->Backlogged()) {
        // The display's catching up calls this again.
        m_bWaitingForDisplay = true;
        return;
    }
    // One slice per turn of the event loop; the link announces what it leaves behind again,
    // so the user's own events come between the slices.
    const std::vector<std::vector<uint8_t>> blocks = m_Link->TakeInbound(kSliceBytes);
    RunList runs;
    for (const std::vector<uint8_t>& block : blocks) {
        const bool shown = AddTraffic(kTrafficReceived, block.data(), block.size());
        if (m_pTransmit != nullptr) {
            m_pTransmit->Relay(block.data(), block.size());
        }
        if (shown && !m_bPaused) {
            m_Renderer.RenderRecord(m_Traffic.At(m_Traffic.Count() - 1), runs);
        }
    }
    m_Display->AppendRuns(runs);
}

void CKemPemviloDlg::DrainNow() {
    QCoreApplication::sendPostedEvents(this);
    while (m_Link->inbound().blocks() > 0) {
        m_bWaitingForDisplay = false;
        m_Display->FlushNow();
        OnTrafficReady();
        QCoreApplication::sendPostedEvents(this);
    }
    m_Display->FlushNow();
    UpdateCounters();
}

void CKemPemviloDlg::OnClientAccepted() {
    m_Link->AdoptAcceptedClient();
    ShowLinkState();
}

void CKemPemviloDlg::OnLinkClosed(int32_t code, uint64_t link_id) {
    // What was received before the end is shown before the window says the link is gone.
    OnTrafficReady();
    const ClosedAction action = m_Link->OnLinkClosed(code, link_id);
    if (action == ClosedAction::kIgnored) {
        return;
    }
    ShowLinkState();
    if (action == ClosedAction::kWaiting) {
        // A file never resumes from a point nobody can know: it stops, and says so once.
        if (m_FileSend) {
            StopFileSend(u"发送文件失败:" + m_strSendFile);
        }
        return;
    }
    if (action == ClosedAction::kLinkLost) {
        if (m_FileSend) {
            m_FileSend.reset();
        }
        const std::u16string message = m_Link->LostLinkMessage();
        if (!message.empty()) {
            ShowNotice(message);
        }
    }
}

void CKemPemviloDlg::OnReconnectEvent(uint64_t token) {
    if (m_Link->OnReconnectEvent(token) != ReconnectAction::kIgnored) {
        ShowLinkState();
    }
}

bool CKemPemviloDlg::AddTraffic(int32_t direction, const uint8_t* data, size_t count) {
    std::optional<tagComExchangeData> record =
        MakeTrafficRecord(direction, data, static_cast<int64_t>(count));
    if (!record) {
        return false;
    }
    if (m_pSaveToFile != nullptr && m_pSaveToFile->IsRecording()) {
        m_pSaveToFile->WriteTrafficBlock(*record);
    }
    const AddTrafficResult result = m_Traffic.AddRecord(std::move(*record), m_TrimLimit);
    if (result == AddTrafficResult::kRejected) {
        return false;
    }
    ScheduleCounterUpdate();
    // A block that alone exceeded the limit is counted but never shown.
    return result == AddTrafficResult::kQueued;
}

void CKemPemviloDlg::ShowTraffic(int first, bool clear) {
    if (m_bPaused) {
        return;
    }
    if (first == 0 && clear) {
        RunList runs;
        m_Renderer.RenderQueue(m_Traffic, runs);
        m_Display->ShowAll(runs);
        return;
    }
    if (m_Traffic.Count() == 0) {
        return;
    }
    RunList runs;
    m_Renderer.RenderRecord(m_Traffic.At(m_Traffic.Count() - 1), runs);
    m_Display->AppendRuns(runs);
}

void CKemPemviloDlg::RefreshRenderOptions() {
    RenderOptions options;
    options.merge_continue = Checked(ids::kMerge);
    options.ext_new_line = Checked(ids::kExtNewLine);
    options.show_hex = Checked(ids::kShowHex);
    options.time_stamp = Checked(ids::kTimeStamp);
    options.chinese_adjust = Checked(ids::kChineseAdjust);
    options.time_stamp_format = g_AppConfig.TimeStampFormat;
    options.frame_gap_ms = FrameGapFromConfig(g_AppConfigExt);
    options.show_by_name = m_abCtrlShown;
    m_Renderer.SetOptions(std::move(options));
}

void CKemPemviloDlg::RefreshTrimLimit() {
    m_TrimLimit.enabled = Checked(ids::kAutoClear);
    m_TrimLimit.size_kb = m_AutoClearSize->text().toInt();
}

void CKemPemviloDlg::ScheduleCounterUpdate() {
    // At most once a frame: a flood must not spend its time formatting counters.
    if (!m_CounterTimer.isActive()) {
        m_CounterTimer.start();
    }
}

void CKemPemviloDlg::UpdateCounters() {
    m_TxCount->setText(QString::fromStdU16String(FormatByteCount(m_Traffic.TxCount())));
    m_RxCount->setText(QString::fromStdU16String(FormatByteCount(m_Traffic.RxCount())));
}
