// The windows the main window opens: the modeless ASCII table, custom entries, traffic log and
// port forwarding windows (made on first use, then only shown again), and the modal font and
// colour, time-stamp format and serial advanced dialogs.
#include <QPushButton>

#include "app/control_ids.h"
#include "app/main_window.h"
#include "ui/ascii_list_dialog.h"
#include "ui/com_advanced_dialog.h"
#include "ui/custom_entry_dialog.h"
#include "ui/font_colour_dialog.h"
#include "ui/kem_edit_ctrl.h"
#include "ui/receive_display.h"
#include "ui/save_to_file_option.h"
#include "ui/time_stamp_dialog.h"
#include "ui/transmit_dialog.h"

namespace {

void Present(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

void CKemPemviloDlg::ShowAsciiList() {
    if (m_pAsciiList == nullptr) {
        m_pAsciiList = new CDlgASCIIList(this, m_abCtrlShown, *m_pDialogs);
        connect(m_pAsciiList, &CDlgASCIIList::showByNameChanged, this, [this] {
            RefreshRenderOptions();
            ShowTraffic(0, true);
        });
        connect(m_pAsciiList, &CDlgASCIIList::insertText, this,
                [this](const QString& text) { m_InputBox->insertPlainText(text); });
    }
    Present(m_pAsciiList);
}

void CKemPemviloDlg::ShowCustomEntries() {
    if (m_pCustomEntry == nullptr) {
        m_pCustomEntry = new CDlgCustomEntry(this);
        connect(m_pCustomEntry, &CDlgCustomEntry::sendText, this,
                [this](const std::u16string& text) { SendText(text); });
    }
    Present(m_pCustomEntry);
}

void CKemPemviloDlg::ShowRecordToFile() {
    if (m_pSaveToFile == nullptr) {
        m_pSaveToFile = new CDlgSaveToFileOption(this, *m_pDialogs);
        connect(m_pSaveToFile, &CDlgSaveToFileOption::recordingChanged, this,
                [this](bool recording) { UpdateSaveButtonCaption(recording); });
    }
    Present(m_pSaveToFile);
}

void CKemPemviloDlg::UpdateSaveButtonCaption(bool recording) {
    m_SaveButton->setText(recording ? QStringLiteral("正在记录文件") : QStringLiteral("保存..."));
}

void CKemPemviloDlg::ShowPortForwarding() {
    if (m_pTransmit == nullptr) {
        m_pTransmit = new CDlgTransmit(this, *m_pDialogs);
        // What the second link receives goes out on the main link, which is not opened for it.
        connect(m_pTransmit, &CDlgTransmit::received, this, [this](const std::string& bytes) {
            SendBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false);
        });
    }
    m_pTransmit->ShowWindow();
}

void CKemPemviloDlg::OnFontColour() {
    CDlgFontColorSetup dialog(this, m_Styles, *m_pDialogs);
    if (dialog.exec() == QDialog::Accepted) {
        m_Display->SetStyles(m_Styles);
        ShowTraffic(0, true);
    }
}

void CKemPemviloDlg::OnTimeStampFormat() {
    CDlgTimeStampFormat dialog(this);
    // New blocks take the new template and frame gap (RefreshRenderOptions reads both); what
    // is shown stays as it is.
    if (dialog.exec() == QDialog::Accepted) {
        RefreshRenderOptions();
    }
}

void CKemPemviloDlg::OnAdvanced() {
    CDlgComAdvancedSettings dialog(this, m_Link->com_param(), m_Link->serial(), m_pDialogs);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const ApplyParamOutcome outcome = m_Link->ApplyComParam();
    if (outcome.failed) {
        ShowLinkState();
        ShowNotice(outcome.message);
    }
}
