// The port group: the port list, the parameter box, the four serial choices, the Open button
// and the window title.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/control_ids.h"
#include "app/main_window.h"
#include "settings/app_config.h"
#include "settings/app_config_ext.h"
#include "settings/profile_base.h"
#include "terminal/com_choice_change.h"
#include "terminal/config_store.h"
#include "terminal/link_status_title.h"
#include "terminal/port_list.h"
#include "terminal/serial_param_text.h"
#include "ui/kem_combo_box.h"
#include "ui/kem_edit_ctrl.h"

namespace {

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// The field each serial choice list edits.
ComChoiceField FieldOf(int id) {
    switch (id) {
        case ids::kBaudRate:
            return ComChoiceField::kBaudRate;
        case ids::kParity:
            return ComChoiceField::kParity;
        case ids::kDataBits:
            return ComChoiceField::kDataBits;
        default:
            return ComChoiceField::kStopBits;
    }
}

// Selects `text` in a drop-down list, or nothing when the list lacks it (a typed 250000 baud).
void SelectChoice(QComboBox* box, const std::u16string& text) {
    box->setCurrentIndex(box->findText(Q(text), Qt::MatchFixedString | Qt::MatchCaseSensitive));
}

}  // namespace

std::u16string CKemPemviloDlg::PortListText() const {
    return m_PortList->GetText().toStdU16String();
}

std::u16string CKemPemviloDlg::ParamText() const {
    return m_ParamBox->text().toStdU16String();
}

void CKemPemviloDlg::FillPortList() {
    const QString current = m_PortList->GetText();
    m_PortList->clear();
    for (const std::u16string& name : BuildPortList(ReadSerialCommPorts())) {
        m_PortList->addItem(Q(name));
    }
    m_PortList->SelectText(current, -1, -1, true);
}

void CKemPemviloDlg::OnPortSelected() {
    const std::u16string name = PortListText();
    kem::settings::CopyTextBounded(g_AppConfig.ComPortName,
                                   static_cast<int32_t>(std::size(g_AppConfig.ComPortName)), name);
    ApplyPortSelection();
}

void CKemPemviloDlg::ApplyPortSelection() {
    const LinkType type = LinkTypeFromPortName(g_AppConfig.ComPortName);
    if (type != m_nLinkType) {
        const std::u16string param = SwitchLinkParam(g_AppConfig, m_nLinkType, type, ParamText());
        m_nLinkType = type;
        m_ParamBox->setText(Q(param));
    }
    const bool serial = SerialChoicesEnabled(type);
    if (serial) {
        const ComChoiceTexts texts = ChoiceTextsFromParamText(ParamText());
        SelectChoice(m_SerialChoices[0], texts.baud_rate);
        SelectChoice(m_SerialChoices[1], texts.parity);
        SelectChoice(m_SerialChoices[2], texts.data_bits);
        SelectChoice(m_SerialChoices[3], texts.stop_bits);
    }
    for (QComboBox* box : m_SerialChoices) {
        box->setEnabled(serial);
    }
    Control(ids::kAdvanced)->setEnabled(serial);
}

void CKemPemviloDlg::ApplyComboParams(int id) {
    // Only the field of the list that changed: the rest comes from the box as typed, so a
    // typed 250000 baud survives a parity change.
    tagComPortParam param = m_Link->com_param();
    ParseComParam(ParamText(), param, false);
    const int index = id - ids::kBaudRate;
    ApplyComChoice(FieldOf(id), m_SerialChoices[index]->currentText().toStdU16String(), param);
    m_Link->com_param() = param;
    m_ParamBox->setText(Q(FormatComParamText(param)));
    const ApplyParamOutcome outcome = m_Link->ApplyComParam();
    if (!outcome.message.empty()) {
        // The port could not be opened again with the new settings: it is closed now.
        ShowLinkState();
        ShowNotice(outcome.message);
    }
}

void CKemPemviloDlg::UpdateTitle() {
    const std::u16string title = WindowTitle(g_strConfigFile, windowTitle().toStdU16String());
    setWindowTitle(Q(TitleWithLinkMarks(title, m_Link->IsWaiting(), m_Link->Unconfirmed())));
}

void CKemPemviloDlg::OnAutoReconnect() {
    const bool on = !m_Link->auto_reconnect();
    g_AppConfigExt.AutoReconnect = on ? 1 : 0;
    // Turned off while waiting: the link is closed, as it would have been without the option.
    m_Link->SetAutoReconnect(on);
    ShowLinkState();
}

void CKemPemviloDlg::ToggleOpen() {
    // A server with a client drops only the client; otherwise the link closes or opens.
    const ToggleOutcome outcome = m_Link->Toggle(m_nLinkType, PortListText(), ParamText());
    ShowLinkState();
    if (outcome.action == ToggleAction::kOpenFailed && !outcome.open.message.empty()) {
        ShowNotice(outcome.open.message);
    }
}

LinkType CKemPemviloDlg::CloseLink() {
    const LinkType closed = m_Link->Close();
    ShowLinkState();
    return closed;
}

void CKemPemviloDlg::ShowLinkState() {
    const LinkState state = m_Link->State();
    const bool closed = state == LinkState::kClosed;
    m_OpenButton->setText(Q(OpenButtonCaption(state)));
    m_OpenButton->setChecked(!closed);
    m_PortList->setEnabled(closed);
    m_ParamBox->setReadOnly(!closed);
    UpdateTitle();
}
