// The main window's frame: start-up from the settings record, the commands of its buttons and
// menus, the display options, Clear, Save, the exit questions, and the store back at the end.
#include "app/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>

#include "app/control_ids.h"
#include "platform/code_page.h"
#include "platform/file_io.h"
#include "platform/local_time.h"
#include "settings/app_config.h"
#include "settings/app_config_ext.h"
#include "terminal/config_commands.h"
#include "terminal/config_store.h"
#include "terminal/input_box_text.h"
#include "terminal/save_display.h"
#include "terminal/serial_param_text.h"
#include "ui/custom_entry_dialog.h"
#include "ui/find_bar.h"
#include "ui/kem_combo_box.h"
#include "ui/kem_edit_ctrl.h"
#include "ui/qt_user_dialogs.h"
#include "ui/receive_display.h"
#include "ui/transmit_dialog.h"

namespace {

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace

CKemPemviloDlg::CKemPemviloDlg(UserDialogs* dialogs, QWidget* parent)
    : QDialog(parent),
      PostedLinkEvents(this),
      m_pDialogs(dialogs),
      m_abCtrlShown(DefaultShowByName()),
      m_Styles(StartupDisplayStyles()) {
    if (m_pDialogs == nullptr) {
        m_OwnDialogs = std::make_unique<QtUserDialogs>(this);
        m_pDialogs = m_OwnDialogs.get();
    }
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    m_Link = std::make_unique<LinkSession>(static_cast<LinkEventSink&>(*this));
    BuildControls();
    BuildMenus();
    ConnectControls();
    ConnectFind();
    LoadFromConfig();
    CaptureLayout();
}

CKemPemviloDlg::~CKemPemviloDlg() {
    m_LoopTimer.stop();
    m_FileSend.reset();
    StoreToConfig();
    // The link's threads post to this window: they end before any member they could reach.
    m_Link.reset();
    m_Traffic.ClearTraffic();
}

void CKemPemviloDlg::ConnectControls() {
    connect(m_PortList, &CKemComboBox::dropDown, this, [this] { FillPortList(); });
    connect(m_PortList, &CKemComboBox::selectionChanged, this, [this] { OnPortSelected(); });
    for (int i = 0; i < 4; ++i) {
        const int id = m_SerialChoices[i]->objectName().toInt();
        connect(m_SerialChoices[i], &QComboBox::activated, this,
                [this, id] { ApplyComboParams(id); });
    }
    connect(m_ParamBox, &QLineEdit::editingFinished, this, [this] {
        if (m_nLinkType == LinkType::kSerial) {
            ApplyPortSelection();
        }
    });
    connect(m_ParamBox, &CKemLineEdit::commandPosted, this, [this](int id) { ExecuteCommand(id); });
    connect(m_InputBox, &CKemEditCtrl::commandPosted, this, [this](int id) { ExecuteCommand(id); });
    connect(m_AutoClearSize, &QLineEdit::textEdited, this, [this] { OnAutoClearSizeEdited(); });
    connect(m_LoopSendTime, &QLineEdit::textEdited, this, [this] { OnLoopPeriodEdited(); });

    connect(m_Display, &CMyRichEditCtrl::pasteBytes, this, [this](const std::string& bytes) {
        SendBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), true);
    });
    connect(m_Display, &CMyRichEditCtrl::refreshRequested, this, [this] { ShowTraffic(0, true); });
    connect(m_Display, &CMyRichEditCtrl::clearRequested, this, [this] { OnClear(); });
    connect(m_Display, &CMyRichEditCtrl::caughtUp, this, [this] {
        if (m_bWaitingForDisplay) {
            m_bWaitingForDisplay = false;
            OnTrafficReady();
        }
    });
    m_Display->key_filter = [this](QKeyEvent* event, bool released) {
        return OnDisplayKey(event, released);
    };

    m_LoopTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_LoopTimer, &QTimer::timeout, this, [this] { OnLoopTimer(); });
    m_CounterTimer.setSingleShot(true);
    m_CounterTimer.setInterval(16);
    connect(&m_CounterTimer, &QTimer::timeout, this, [this] { UpdateCounters(); });
}

void CKemPemviloDlg::ConnectFind() {
    auto add = [this](const QKeySequence& keys, auto handler) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, handler);
    };
    add(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { OpenFind(); });
    add(QKeySequence(Qt::Key_F3), [this] { m_FindBar->FindNext(); });
    add(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { m_FindBar->FindPrevious(); });
    // With "输入控制码" chosen, Ctrl+letter typed into the display is a control code to send
    // (Ctrl+F is 0x06), so those keys stay with the display instead of running a shortcut.
    m_Display->keeps_shortcut = [this](const QKeyEvent* event) {
        const Qt::KeyboardModifiers mods = event->modifiers();
        return m_bCtrlKeyToSendCode && mods.testFlag(Qt::ControlModifier) &&
               !mods.testFlag(Qt::AltModifier) && event->key() >= Qt::Key_A &&
               event->key() <= Qt::Key_Z;
    };
}

void CKemPemviloDlg::OpenFind() {
    m_FindBar->SetHexMode(Checked(ids::kShowHex));
    m_FindBar->Open();
}

void CKemPemviloDlg::LoadFromConfig() {
    const tagAppConfig& config = g_AppConfig;

    // Port group: the serial choices at their defaults, then the remembered port.
    m_SerialChoices[0]->setCurrentText(QStringLiteral("9600"));
    m_SerialChoices[1]->setCurrentIndex(0);
    m_SerialChoices[2]->setCurrentIndex(0);
    m_SerialChoices[3]->setCurrentIndex(0);
    m_PortList->SelectText(Q(config.ComPortName), -1, -1, true);
    ApplyPortSelection();
    ParseComParam(std::u16string_view(config.ComPortParam), m_Link->com_param(), true);
    m_Link->ApplyComParam();

    SetChecked(ids::kSend0D0A, config.Send0D0A != 0);
    SetChecked(ids::kChineseAdjust, config.ChineseAdjust != 0);
    SetChecked(ids::kTimeStamp, config.TimeStamp != 0);
    SetChecked(ids::kShowHex, config.ShowHex != 0);
    SetChecked(ids::kTopmost, config.Topmost != 0);
    SetChecked(ids::kMerge, config.MergeCoutinue != 0);
    SetChecked(ids::kExtNewLine, config.ExtNewLine != 0);
    SetChecked(ids::kAutoClear, config.AutoClear != 0);
    m_AutoClearSize->setText(QString::number(config.AutoClearSize));
    SetChecked(ids::kSendNow, config.SendNow != 0);
    SetChecked(ids::kAutoSendEnter, config.AutoSendEnter != 0);
    SetChecked(ids::kLoopSend, config.LoopSend != 0);
    m_LoopSendTime->setText(QString::number(config.LoopSendTime));
    SetChecked(ids::kParseHex, config.ParseHex != 0);
    SetChecked(ids::kParseCharName, config.ParseCharName != 0);
    m_bKeyToSend = config.KeyToSend != 0;
    m_bCtrlKeyToSendCode = config.CtrlKeyToSendCode != 0;
    m_InputBox->setPlainText(Q(InputBoxFromStored(config.InputBoxData)));
    OnTopmost();
    m_Link->SetAutoReconnect(g_AppConfigExt.AutoReconnect != 0);

    // The display: styles, and the size limit as the start-up rule gives it whatever AutoClear is.
    m_Display->SetStyles(m_Styles);
    m_Display->SetClearLimit(config.AutoClearSize > 0 ? config.AutoClearSize * 1024 : 0);
    RefreshRenderOptions();
    RefreshTrimLimit();
    m_FindBar->SetHexMode(Checked(ids::kShowHex));
    Control(ids::kChineseAdjust)->setEnabled(!Checked(ids::kTimeStamp));
    Control(ids::kExtNewLine)->setEnabled(Checked(ids::kMerge));

    m_InputBox->selectAll();
    m_InputBox->ensureCursorVisible();
    m_InputBox->setFocus();
    BindSendKey();
    m_ParamBox->AddKeyBinding(kKeyEnter, ids::kOpen);
    UpdateTitle();
}

void CKemPemviloDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_bStartHandled) {
        return;
    }
    m_bStartHandled = true;
    // Both wait until the window is up, as commands the window posts to itself.
    if (m_bOpenAtStart) {
        QMetaObject::invokeMethod(
            this, [this] { ExecuteCommand(ids::kOpen); }, Qt::QueuedConnection);
    }
    if (Checked(ids::kLoopSend)) {
        QMetaObject::invokeMethod(
            this, [this] { ExecuteCommand(ids::kLoopSend); }, Qt::QueuedConnection);
    }
}

void CKemPemviloDlg::StoreToConfig() {
    if (m_bStored) {
        return;
    }
    m_bStored = true;
    CloseLink();
    CopyStateToConfig();
    // The auxiliary windows' own fields come after the main window's.
    if (m_pCustomEntry != nullptr) {
        m_pCustomEntry->StoreEntries();
    }
    if (m_pTransmit != nullptr) {
        m_pTransmit->StoreToConfig();
    }
}

void CKemPemviloDlg::CopyStateToConfig() {
    tagAppConfig& config = g_AppConfig;
    config.KeyToSend = m_bKeyToSend;
    config.CtrlKeyToSendCode = m_bCtrlKeyToSendCode;
    config.Send0D0A = Checked(ids::kSend0D0A);
    config.ChineseAdjust = Checked(ids::kChineseAdjust);
    config.TimeStamp = Checked(ids::kTimeStamp);
    config.ShowHex = Checked(ids::kShowHex);
    config.Topmost = Checked(ids::kTopmost);
    config.MergeCoutinue = Checked(ids::kMerge);
    config.ExtNewLine = Checked(ids::kExtNewLine);
    config.AutoClear = Checked(ids::kAutoClear);
    config.AutoClearSize = m_AutoClearSize->text().toInt();
    config.SendNow = Checked(ids::kSendNow);
    config.AutoSendEnter = Checked(ids::kAutoSendEnter);
    config.LoopSend = Checked(ids::kLoopSend);
    config.LoopSendTime = m_LoopSendTime->text().toInt();
    config.ParseHex = Checked(ids::kParseHex);
    config.ParseCharName = Checked(ids::kParseCharName);
    // The box keeps a line break as one '\n'; the record keeps it as CR LF escapes.
    const std::u16string stored = StoredFromInputBox(
        m_InputBox->toPlainText().replace(u'\n', QStringLiteral("\r\n")).toStdU16String(),
        kInputBoxStoredUnits);
    std::fill(std::begin(config.InputBoxData), std::end(config.InputBoxData), u'\0');
    std::copy(stored.begin(), stored.end(), config.InputBoxData);
    StoreLinkParam(config, m_nLinkType, ParamText());
}

void CKemPemviloDlg::ExecuteCommand(int id) {
    switch (id) {
        case ids::kOpen:
            ToggleOpen();
            break;
        case ids::kSend:
            OnSendClicked();
            break;
        case ids::kSendNow:
            BindSendKey();
            break;
        case ids::kSend0D0A:
            m_Display->setFocus();
            break;
        case ids::kLoopSend:
            OnLoopSendToggled();
            break;
        case ids::kSendFile:
            OnSendFile();
            break;
        case ids::kTimeStamp:
        case ids::kMerge:
        case ids::kShowHex:
        case ids::kExtNewLine:
        case ids::kChineseAdjust:
        case ids::kPause:
            OnDisplayOptionChanged(id);
            break;
        case ids::kTopmost:
            OnTopmost();
            break;
        case ids::kAutoClear:
            OnAutoClear();
            break;
        case ids::kClear:
            OnClear();
            break;
        case ids::kSave:
            ShowMenu(ids::kSave, m_SaveMenu);
            break;
        case ids::kOther:
            UpdateOtherMenuChecks();
            ShowMenu(ids::kOther, m_OtherMenu);
            break;
        case ids::kSaveDisplay:
            OnSaveDisplay();
            break;
        case ids::kRecordToFile:
            ShowRecordToFile();
            break;
        case ids::kAsciiTable:
            ShowAsciiList();
            break;
        case ids::kCustomEntries:
            ShowCustomEntries();
            break;
        case ids::kPortForwarding:
            ShowPortForwarding();
            break;
        case ids::kFontColour:
            OnFontColour();
            break;
        case ids::kTimeStampFormat:
            OnTimeStampFormat();
            break;
        case ids::kAdvanced:
            OnAdvanced();
            break;
        case ids::kKeyToSend:
            m_bKeyToSend = !m_bKeyToSend;
            break;
        case ids::kCtrlKeyForCommands:
            m_bCtrlKeyToSendCode = false;
            break;
        case ids::kCtrlKeyForCodes:
            m_bCtrlKeyToSendCode = true;
            break;
        case ids::kAutoReconnect:
            OnAutoReconnect();
            break;
        case ids::kAssociate:
            AssociateConfigFiles(*m_pDialogs);
            break;
        case ids::kSaveConfig:
            // The file gets what the window shows now, not the state it started with.
            CopyStateToConfig();
            if (SaveConfigToChosenFile(*m_pDialogs)) {
                UpdateTitle();
            }
            break;
        case ids::kCleanRegistry:
            CleanRegistryConfig(*m_pDialogs);
            break;
        case ids::kAbout:
            ShowAbout();
            break;
        case ids::kFind:
            OpenFind();
            break;
        case ids::kExit:
            reject();
            break;
        default:
            break;
    }
}

bool CKemPemviloDlg::Checked(int id) const {
    const auto* button = qobject_cast<const QAbstractButton*>(Control(id));
    return button != nullptr && button->isChecked();
}

void CKemPemviloDlg::SetChecked(int id, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(Control(id))) {
        button->setChecked(checked);
    }
}

QWidget* CKemPemviloDlg::Control(int id) const {
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void CKemPemviloDlg::OnDisplayOptionChanged(int id) {
    if (id == ids::kTimeStamp || id == ids::kMerge) {
        Control(ids::kChineseAdjust)->setEnabled(!Checked(ids::kTimeStamp));
        Control(ids::kExtNewLine)->setEnabled(Checked(ids::kMerge));
    }
    if (id == ids::kPause) {
        m_bPaused = Checked(ids::kPause);
        if (m_bPaused) {
            return;
        }
    }
    RefreshRenderOptions();
    ShowTraffic(0, true);
    // The bar finds bytes in a HEX display and text otherwise.
    m_FindBar->SetHexMode(Checked(ids::kShowHex));
}

void CKemPemviloDlg::OnTopmost() {
    const bool on = Checked(ids::kTopmost);
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) {
        return;
    }
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    // Changing a window flag hides a shown window.
    if (visible) {
        show();
    }
}

void CKemPemviloDlg::OnAutoClear() {
    const int size = m_AutoClearSize->text().toInt();
    m_Display->SetClearLimit(Checked(ids::kAutoClear) && size > 0 ? size * 1024 : 0);
    RefreshTrimLimit();
}

void CKemPemviloDlg::OnAutoClearSizeEdited() {
    // A new size takes effect only when auto clear is ticked again.
    if (Checked(ids::kAutoClear)) {
        SetChecked(ids::kAutoClear, false);
        m_Display->SetClearLimit(0);
        RefreshTrimLimit();
    }
}

void CKemPemviloDlg::OnClear() {
    m_Renderer.Reset();
    m_Traffic.ClearTraffic();
    m_Traffic.ResetCounters();
    m_Display->ClearDisplay();
    m_Display->setFocus();
    UpdateCounters();
}

void CKemPemviloDlg::ShowMenu(int button_id, QMenu* menu) {
    QWidget* button = Control(button_id);
    const QPoint corner = button->mapToGlobal(QPoint(button->width(), button->height()));
    menu->popup(corner - QPoint(menu->sizeHint().width(), 0));
}

void CKemPemviloDlg::UpdateOtherMenuChecks() {
    for (QAction* action : findChildren<QAction*>()) {
        switch (action->data().toInt()) {
            case ids::kKeyToSend:
                action->setChecked(m_bKeyToSend);
                break;
            case ids::kCtrlKeyForCommands:
                action->setChecked(!m_bCtrlKeyToSendCode);
                break;
            case ids::kCtrlKeyForCodes:
                action->setChecked(m_bCtrlKeyToSendCode);
                break;
            case ids::kPortForwarding:
                action->setChecked(m_pTransmit != nullptr && m_pTransmit->IsOpen());
                break;
            case ids::kAutoReconnect:
                action->setChecked(m_Link->auto_reconnect());
                break;
            default:
                break;
        }
    }
}

void CKemPemviloDlg::OnSaveDisplay() {
    SaveFileRequest request;
    request.filter = kSaveDisplayFilter;
    request.default_extension = kSaveDisplayDefaultExt;
    request.initial_name = SaveDisplayProposedName(PortListText(), kem::platform::NowLocal());
    const std::optional<std::u16string> path = m_pDialogs->AskSavePath(request);
    if (!path) {
        return;
    }
    m_Display->FlushNow();
    std::string bytes;
    switch (SaveDisplayFormatOf(*path)) {
        case SaveDisplayFormat::kText:
            bytes = m_Display->PlainTextAnsi();
            break;
        case SaveDisplayFormat::kRtf:
            bytes = m_Display->Rtf();
            break;
        case SaveDisplayFormat::kEmpty:
            break;
    }
    const kem::platform::FileError error =
        kem::platform::ReplaceFile(kem::platform::WideToUtf8(*path), bytes);
    if (error.failed()) {
        m_pDialogs->MessageBox(
            u"无法保存文件:" + *path + u"\n" + kem::platform::Utf8ToWide(error.os.text),
            kCaptionError, DialogButtons::kOk, DialogIcon::kError);
    }
}

void CKemPemviloDlg::ShowNotice(const std::u16string& text) {
    m_pDialogs->MessageBox(text, kCaptionNotice, DialogButtons::kOk, DialogIcon::kInformation);
}

void CKemPemviloDlg::ShowAbout() {
    QMessageBox::about(this, QStringLiteral("关于KemPemvilo"),
                       QStringLiteral("<b>KemPemvilo</b> %1<br>"
                                      "串口与TCP调试终端 (serial and TCP terminal)<br>"
                                      "Licence: GPL-3.0-or-later")
                           .arg(QStringLiteral(KEMPEMVILO_VERSION)));
}

void CKemPemviloDlg::reject() {
    if (g_AppConfig.System.AutoSave == 0 &&
        m_pDialogs->MessageBox(u"当前配置将不会保存,确定要退出吗?", kCaptionConfirm,
                               DialogButtons::kYesNo,
                               DialogIcon::kQuestion) != DialogAnswer::kYes) {
        return;
    }
    QDialog::reject();
}

void CKemPemviloDlg::closeEvent(QCloseEvent* event) {
    if (!isVisible()) {
        event->accept();
        return;
    }
    if (m_pDialogs->MessageBox(u"确定要退出吗?", kCaptionConfirm, DialogButtons::kYesNo,
                               DialogIcon::kQuestion) != DialogAnswer::kYes) {
        event->ignore();
        return;
    }
    // Closed directly: this way does not ask the AutoSave question.
    done(QDialog::Rejected);
    event->accept();
}

void CKemPemviloDlg::keyPressEvent(QKeyEvent* event) {
    // Enter in the window does nothing; Esc is the Exit button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CKemPemviloDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (m_mapLayout.empty()) {
        return;
    }
    LayoutInput input;
    input.client0 = m_rcClient0;
    input.cx = width();
    input.cy = height();
    std::vector<QWidget*> movers;
    bool after_line = false;
    for (const auto& [widget, rect] : m_mapLayout) {
        if (widget == m_Line) {
            input.line0 = rect;
            after_line = true;
        } else if (widget == m_Display) {
            input.display0 = rect;
        } else if (after_line) {
            const QRect now = widget->geometry();
            input.after_line.push_back(LayoutChild{
                rect, LayoutRect{now.left(), now.top(), now.right() + 1, now.bottom() + 1}});
            movers.push_back(widget);
        }
    }
    const LayoutResult result = LayoutControls(input);
    auto apply = [](QWidget* widget, const LayoutRect& r) {
        widget->setGeometry(r.left, r.top, std::max(0, r.right - r.left),
                            std::max(0, r.bottom - r.top));
    };
    apply(m_Line, result.line);
    apply(m_Display, result.display);
    for (size_t i = 0; i < movers.size() && i < result.after_line.size(); ++i) {
        apply(movers[i], result.after_line[i]);
    }
    update();
}
