#include "ui/transmit_dialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <iterator>
#include <vector>

#include "settings/app_config.h"
#include "settings/app_config_ext.h"
#include "settings/profile_base.h"
#include "terminal/link_status_title.h"
#include "terminal/port_list.h"
#include "terminal/serial_param_text.h"
#include "terminal/traffic_queue.h"
#include "ui/kem_combo_box.h"
#include "ui/kem_edit_ctrl.h"

namespace {

// How much one turn of the event loop relays from the second link, so the user's own events
// come between the slices of a flood.
constexpr size_t kSliceBytes = 256 * 1024;

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// The settings field that keeps the parameter text of a second link of `type`.
struct ParamField {
    char16_t* buffer = nullptr;
    int32_t capacity = 0;
};
ParamField FieldFor(LinkType type) {
    switch (type) {
        case LinkType::kSerial:
            return {g_AppConfig.TransmitComPortParam,
                    static_cast<int32_t>(std::size(g_AppConfig.TransmitComPortParam))};
        case LinkType::kTcpClient:
            return {g_AppConfig.TransmitNetPortParam,
                    static_cast<int32_t>(std::size(g_AppConfig.TransmitNetPortParam))};
        case LinkType::kTcpServer:
            return {g_AppConfig.TransmitNetServerParam,
                    static_cast<int32_t>(std::size(g_AppConfig.TransmitNetServerParam))};
        case LinkType::kNone:
            break;
    }
    return {};
}

void StoreParam(LinkType type, const std::u16string& text) {
    const ParamField field = FieldFor(type);
    kem::settings::CopyTextBounded(field.buffer, field.capacity, text);
}

std::u16string LoadParam(LinkType type) {
    const ParamField field = FieldFor(type);
    return field.buffer == nullptr ? std::u16string() : std::u16string(field.buffer);
}

// Dialog units to pixels for the window's 8-point font (about 6 x 13 pixel base units).
QRect Du(int x, int y, int w, int h) {
    return QRect(x * 3 / 2, y * 13 / 8, w * 3 / 2, h * 13 / 8);
}

}  // namespace

CDlgTransmit::CDlgTransmit(QWidget* parent, UserDialogs& dialogs)
    : QDialog(parent),
      PostedLinkEvents(this),
      m_Dialogs(dialogs),
      m_Link(std::make_unique<LinkSession>(static_cast<LinkEventSink&>(*this))) {
    setModal(false);
    BuildControls();
    m_Link->SetAutoReconnect(g_AppConfigExt.TransmitAutoReconnect != 0);
    m_chkAutoReconnect->setChecked(m_Link->auto_reconnect());
    ShowCounts();
    ShowLinkState();
}

CDlgTransmit::~CDlgTransmit() {
    m_Link->Close();
}

void CDlgTransmit::BuildControls() {
    const QSize size = Du(0, 0, 183, 80).size();
    setFixedSize(size);

    auto* port_label = new QLabel(QStringLiteral("端口:"), this);
    port_label->setGeometry(Du(7, 9, 24, 8));
    m_cbPort = new CKemComboBox(this);
    m_cbPort->setObjectName(QStringLiteral("1001"));
    m_cbPort->setGeometry(Du(32, 7, 84, 14));
    port_label->setBuddy(m_cbPort);

    m_btnOpen = new QPushButton(QStringLiteral("打开"), this);
    m_btnOpen->setObjectName(QStringLiteral("1014"));
    m_btnOpen->setCheckable(true);
    m_btnOpen->setGeometry(Du(122, 6, 54, 15));

    m_edParam = new CKemLineEdit(this);
    m_edParam->setObjectName(QStringLiteral("1006"));
    m_edParam->setGeometry(Du(7, 27, 169, 14));

    auto* tx_label = new QLabel(QStringLiteral("TX:"), this);
    tx_label->setGeometry(Du(7, 50, 14, 8));
    m_edTx = new QLineEdit(this);
    m_edTx->setObjectName(QStringLiteral("1057"));
    m_edTx->setReadOnly(true);
    m_edTx->setGeometry(Du(22, 48, 64, 14));

    auto* rx_label = new QLabel(QStringLiteral("RX:"), this);
    rx_label->setGeometry(Du(91, 50, 14, 8));
    m_edRx = new QLineEdit(this);
    m_edRx->setObjectName(QStringLiteral("1058"));
    m_edRx->setReadOnly(true);
    m_edRx->setGeometry(Du(106, 48, 54, 14));

    m_btnClear = new QPushButton(QStringLiteral("X"), this);
    m_btnClear->setObjectName(QStringLiteral("1063"));
    m_btnClear->setGeometry(Du(163, 48, 13, 14));

    m_chkAutoReconnect = new QCheckBox(QStringLiteral("自动重连"), this);
    m_chkAutoReconnect->setObjectName(QString::number(transmit_ids::kAutoReconnect));
    m_chkAutoReconnect->setGeometry(Du(7, 66, 80, 10));

    connect(m_cbPort, &CKemComboBox::dropDown, this, &CDlgTransmit::FillPortList);
    connect(m_cbPort, &CKemComboBox::selectionChanged, this, &CDlgTransmit::OnPortSelected);
    connect(m_btnOpen, &QPushButton::clicked, this, &CDlgTransmit::OnOpenClicked);
    connect(m_btnClear, &QPushButton::clicked, this, &CDlgTransmit::OnClearCounts);
    connect(m_chkAutoReconnect, &QCheckBox::toggled, this, &CDlgTransmit::OnAutoReconnectToggled);
}

QWidget* CDlgTransmit::Control(int id) const {
    switch (id) {
        case transmit_ids::kPortList:
            return m_cbPort;
        case transmit_ids::kParam:
            return m_edParam;
        case transmit_ids::kOpen:
            return m_btnOpen;
        case transmit_ids::kTxCount:
            return m_edTx;
        case transmit_ids::kRxCount:
            return m_edRx;
        case transmit_ids::kClearCounts:
            return m_btnClear;
        case transmit_ids::kAutoReconnect:
            return m_chkAutoReconnect;
        default:
            return nullptr;
    }
}

bool CDlgTransmit::Create() {
    if (m_bCreated) {
        return false;
    }
    m_bCreated = true;
    m_cbPort->SelectText(Q(std::u16string(g_AppConfig.TransmitComPortName)), -1, -1, true);
    ApplyKind();
    // The serial record starts from its defaults; an open port would be reopened with it.
    tagComPortParam param;
    ParseComParam(g_AppConfig.TransmitComPortParam, param, true);
    m_Link->com_param() = param;
    m_Link->ApplyComParam();
    return true;
}

void CDlgTransmit::ShowWindow() {
    Create();
    show();
    raise();
    activateWindow();
}

bool CDlgTransmit::IsOpen() const {
    return m_Link->IsOpen();
}

void CDlgTransmit::Relay(const uint8_t* data, size_t count) {
    if (data == nullptr || count == 0) {
        return;
    }
    if (m_Link->Send(data, count) == LinkSession::SendResult::kNotOpen) {
        return;  // nothing to forward to: dropped, not counted
    }
    m_nTxBytes += static_cast<uint32_t>(count);
    m_edTx->setText(Q(FormatByteCount(m_nTxBytes)));
}

void CDlgTransmit::StoreToConfig() {
    if (!m_bCreated) {
        return;
    }
    kem::settings::CopyTextBounded(g_AppConfig.TransmitComPortName,
                                   static_cast<int32_t>(std::size(g_AppConfig.TransmitComPortName)),
                                   PortText());
    StoreParam(m_nType, ParamText());
}

std::u16string CDlgTransmit::PortText() const {
    return m_cbPort->GetText().toStdU16String();
}

std::u16string CDlgTransmit::ParamText() const {
    return m_edParam->text().toStdU16String();
}

void CDlgTransmit::FillPortList() {
    const QString current = m_cbPort->GetText();
    m_cbPort->clear();
    for (const std::u16string& name : BuildPortList(ReadSerialCommPorts())) {
        m_cbPort->addItem(Q(name));
    }
    m_cbPort->SelectText(current, -1, -1, true);
}

void CDlgTransmit::OnPortSelected() {
    kem::settings::CopyTextBounded(g_AppConfig.TransmitComPortName,
                                   static_cast<int32_t>(std::size(g_AppConfig.TransmitComPortName)),
                                   PortText());
    ApplyKind();
}

void CDlgTransmit::ApplyKind() {
    const LinkType type = LinkTypeFromPortName(PortText());
    if (type == m_nType) {
        return;
    }
    // The text shown belongs to the old kind: keep it for when that kind comes back.
    if (m_nType != LinkType::kNone) {
        StoreParam(m_nType, ParamText());
    }
    m_nType = type;
    m_edParam->setText(Q(LoadParam(type)));
}

void CDlgTransmit::OnOpenClicked() {
    const ToggleOutcome outcome = m_Link->Toggle(m_nType, PortText(), ParamText());
    ShowLinkState();
    if (outcome.action == ToggleAction::kOpenFailed && !outcome.open.message.empty()) {
        m_Dialogs.MessageBox(outcome.open.message, kCaptionNotice, DialogButtons::kOk,
                             DialogIcon::kInformation);
    }
}

void CDlgTransmit::OnClearCounts() {
    m_nTxBytes = 0;
    m_nRxBytes = 0;
    ShowCounts();
}

void CDlgTransmit::ShowCounts() {
    m_edTx->setText(Q(FormatByteCount(m_nTxBytes)));
    m_edRx->setText(Q(FormatByteCount(m_nRxBytes)));
}

void CDlgTransmit::ShowLinkState() {
    const LinkState state = m_Link->State();
    const bool closed = state == LinkState::kClosed;
    m_btnOpen->setText(Q(OpenButtonCaption(state)));
    m_btnOpen->setChecked(!closed);
    m_cbPort->setEnabled(closed);
    m_edParam->setReadOnly(!closed);
    setWindowTitle(
        Q(TitleWithLinkMarks(u"端口转发", state == LinkState::kWaiting, m_Link->Unconfirmed())));
}

void CDlgTransmit::OnAutoReconnectToggled(bool on) {
    g_AppConfigExt.TransmitAutoReconnect = on ? 1 : 0;
    m_Link->SetAutoReconnect(on);
    ShowLinkState();
}

void CDlgTransmit::OnReconnectEvent(uint64_t token) {
    if (m_Link->OnReconnectEvent(token) != ReconnectAction::kIgnored) {
        ShowLinkState();
    }
}

void CDlgTransmit::customEvent(QEvent* event) {
    if (!DispatchLinkEvent(event)) {
        QDialog::customEvent(event);
    }
}

void CDlgTransmit::OnClientAccepted() {
    m_Link->AdoptAcceptedClient();
    ShowLinkState();
}

void CDlgTransmit::OnTrafficReady() {
    const std::vector<std::vector<uint8_t>> blocks = m_Link->TakeInbound(kSliceBytes);
    if (blocks.empty()) {
        return;
    }
    for (const std::vector<uint8_t>& block : blocks) {
        m_nRxBytes += static_cast<uint32_t>(block.size());
        emit received(std::string(block.begin(), block.end()));
    }
    m_edRx->setText(Q(FormatByteCount(m_nRxBytes)));
}

void CDlgTransmit::OnLinkClosed(int32_t code, uint64_t link_id) {
    // What arrived before the end still goes out on the main link.
    OnTrafficReady();
    // The session acts only when the id names its current link: a replaced server client or
    // an older connection closing late leaves the link as it is.
    if (m_Link->OnLinkClosed(code, link_id) == ClosedAction::kIgnored) {
        return;
    }
    ShowLinkState();
}
