// The send path: the Send button and its key, the loop timer, keys typed into the display,
// paste, and Send file. Every sent block is queued, counted and shown like a received one.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>

#include "app/control_ids.h"
#include "app/main_window.h"
#include "platform/code_page.h"
#include "terminal/display_keys.h"
#include "terminal/send_parser.h"
#include "ui/kem_edit_ctrl.h"
#include "ui/receive_display.h"

namespace {

// How long one turn of the event loop may spend sending a file.
constexpr qint64 kFileSliceMs = 20;

// The display key of a Qt key event, in the terms the key rules use.
DisplayKeyEvent ToDisplayKey(const QKeyEvent* event, bool released) {
    DisplayKeyEvent key;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    key.ctrl = modifiers.testFlag(Qt::ControlModifier);
    const int code = event->key();
    auto special = [&](DisplayKeyEvent::Key which) {
        key.kind = released ? DisplayKeyEvent::kKeyUp : DisplayKeyEvent::kKeyDown;
        key.code = which;
        return key;
    };
    if (code == Qt::Key_Delete) {
        return special(DisplayKeyEvent::kDelete);
    }
    if (released) {
        switch (code) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                return special(DisplayKeyEvent::kReturn);
            case Qt::Key_Backspace:
                return special(DisplayKeyEvent::kBackspace);
            case Qt::Key_Tab:
                return special(DisplayKeyEvent::kTab);
            default:
                return special(DisplayKeyEvent::kOther);
        }
    }
    if (modifiers.testFlag(Qt::AltModifier) && !key.ctrl && code >= Qt::Key_A &&
        code <= Qt::Key_Z) {
        key.kind = DisplayKeyEvent::kSysChar;
        key.code = static_cast<uint32_t>(u'a' + (code - Qt::Key_A));
        return key;
    }
    // CTRL+letter is the letter's control code, whatever text the platform attached.
    if (key.ctrl && code >= Qt::Key_A && code <= Qt::Key_Z) {
        key.kind = DisplayKeyEvent::kChar;
        // The key rules pick Clear, Refresh and Paste by the code, not the text.
        key.code = static_cast<uint32_t>(1 + (code - Qt::Key_A));
        key.text = std::u16string(1, static_cast<char16_t>(key.code));
        return key;
    }
    // Keys whose character the platform may not attach as text.
    static constexpr struct {
        int key;
        char16_t character;
    } kKeyCharacters[] = {{Qt::Key_Return, u'\r'},
                          {Qt::Key_Enter, u'\r'},
                          {Qt::Key_Backspace, u'\b'},
                          {Qt::Key_Tab, u'\t'}};
    for (const auto& entry : kKeyCharacters) {
        if (code == entry.key) {
            key.kind = DisplayKeyEvent::kChar;
            key.text = std::u16string(1, entry.character);
            return key;
        }
    }
    // Esc belongs to the display, which swallows it.
    if (code == Qt::Key_Escape) {
        return special(DisplayKeyEvent::kOther);
    }
    const QString text = event->text();
    if (!text.isEmpty() && !(text.size() == 1 && text[0] == QChar(0x7F))) {
        key.kind = DisplayKeyEvent::kChar;
        key.text = text.toStdU16String();
        return key;
    }
    return special(DisplayKeyEvent::kOther);
}

}  // namespace

void CKemPemviloDlg::BindSendKey() {
    if (Checked(ids::kSendNow)) {
        m_InputBox->RemoveKeyBinding(kKeyCtrlEnter);
        m_InputBox->AddKeyBinding(kKeyEnter, ids::kSend);
    } else {
        m_InputBox->RemoveKeyBinding(kKeyEnter);
        m_InputBox->AddKeyBinding(kKeyCtrlEnter, ids::kSend);
    }
}

void CKemPemviloDlg::OnSendClicked() {
    const std::u16string input = m_InputBox->toPlainText().toStdU16String();
    if (input.empty()) {
        return;
    }
    const QTextCursor cursor = m_InputBox->textCursor();
    const std::u16string selected(
        SelectSendText(input, cursor.selectionStart(), cursor.selectionEnd()));
    // The box keeps a line break as one '\n'; a typed line break goes out as CR LF.
    SendText(QString::fromStdU16String(selected)
                 .replace(u'\n', QStringLiteral("\r\n"))
                 .toStdU16String());
}

void CKemPemviloDlg::SendText(const std::u16string& text) {
    if (text.empty()) {
        return;
    }
    SendOptions options;
    options.parse_char_name = Checked(ids::kParseCharName);
    options.parse_hex = Checked(ids::kParseHex);
    options.auto_send_enter = Checked(ids::kAutoSendEnter);
    options.send_0d0a = Checked(ids::kSend0D0A);
    const std::string bytes = ParseSendText(text, options);
    SendBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), true);
}

bool CKemPemviloDlg::SendBytes(const uint8_t* data, size_t count, bool open_if_closed) {
    const SendOutcome outcome = WriteAndShow(data, count, open_if_closed);
    return outcome != SendOutcome::kNotOpen;
}

CKemPemviloDlg::SendOutcome CKemPemviloDlg::WriteAndShow(const uint8_t* data, size_t count,
                                                         bool open_if_closed) {
    if (data == nullptr || count == 0) {
        return SendOutcome::kSent;
    }
    switch (m_nLinkType) {
        case LinkType::kNone:
            return SendOutcome::kNoLink;
        case LinkType::kSerial:
        case LinkType::kTcpClient:
            // A link waiting to come back is not opened a second time by a send.
            if (!m_Link->IsOpen() && open_if_closed && !m_Link->IsWaiting()) {
                ToggleOpen();
            }
            if (!m_Link->IsOpen()) {
                return SendOutcome::kNotOpen;
            }
            break;
        case LinkType::kTcpServer:
            // A server never opens for a send: it needs a client that came by itself.
            if (!m_Link->CanLoopSend()) {
                return SendOutcome::kNotOpen;
            }
            break;
    }
    const LinkSession::SendResult result = m_Link->Send(data, count);
    // What was meant to go out is shown as sent either way; the caller learns of a failure.
    if (AddTraffic(kTrafficSent, data, count) && !m_bPaused) {
        RunList runs;
        m_Renderer.RenderRecord(m_Traffic.At(m_Traffic.Count() - 1), runs);
        m_Display->AppendRuns(runs);
    }
    return result == LinkSession::SendResult::kSent ? SendOutcome::kSent
                                                    : SendOutcome::kWriteFailed;
}

void CKemPemviloDlg::OnLoopSendToggled() {
    if (!Checked(ids::kLoopSend)) {
        m_LoopTimer.stop();
        return;
    }
    const int period = m_LoopSendTime->text().toInt();
    if (period < 1) {
        SetChecked(ids::kLoopSend, false);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { ExecuteCommand(ids::kSend); }, Qt::QueuedConnection);
    m_LoopTimer.start(period);
}

void CKemPemviloDlg::OnLoopPeriodEdited() {
    // A new period takes effect when the box is ticked again.
    if (Checked(ids::kLoopSend)) {
        SetChecked(ids::kLoopSend, false);
        m_LoopTimer.stop();
    }
}

void CKemPemviloDlg::OnLoopTimer() {
    // The server counts as open only with a client to send to.
    if (m_Link->CanLoopSend()) {
        QMetaObject::invokeMethod(
            this, [this] { ExecuteCommand(ids::kSend); }, Qt::QueuedConnection);
    }
}

bool CKemPemviloDlg::OnDisplayKey(QKeyEvent* event, bool released) {
    DisplayKeyOptions options;
    options.key_to_send = m_bKeyToSend;
    options.ctrl_key_to_send_code = m_bCtrlKeyToSendCode;
    options.send_0d0a = Checked(ids::kSend0D0A);
    const DisplayKeyAction action = DecideDisplayKey(ToDisplayKey(event, released), options);
    if (action.display_command != 0) {
        m_Display->ExecuteCommand(action.display_command);
    }
    if (!action.bytes_to_send.empty()) {
        SendBytes(reinterpret_cast<const uint8_t*>(action.bytes_to_send.data()),
                  action.bytes_to_send.size(), true);
    }
    return action.swallow;
}

void CKemPemviloDlg::OnSendFile() {
    SaveFileRequest request;
    request.filter = u"All Files(*.*)|*.*||";
    request.default_extension = u"*";
    request.initial_name = SendFileDialogName(m_strSendFile);
    const std::optional<std::u16string> path = m_pDialogs->AskOpenPath(request);
    if (!path) {
        return;
    }
    kem::platform::FileContent file = ReadSendFile(*path);
    if (file.status != kem::platform::FileStatus::kOk) {
        const bool opened = file.error.step != kem::platform::FileStep::kOpen &&
                            file.status != kem::platform::FileStatus::kMissing;
        // A file that opened but could not be read whole is not the same as one that is not there.
        const std::u16string text = opened ? u"读取文件失败:" + *path + u"\n" +
                                                 kem::platform::Utf8ToWide(file.error.os.text)
                                           : CannotOpenFileText(*path);
        m_pDialogs->MessageBox(text, kCaptionError, DialogButtons::kOk, DialogIcon::kError);
        return;
    }
    m_strSendFile = *path;
    if (file.bytes.empty()) {
        return;
    }
    m_FileSend = std::make_unique<FileSend>();
    m_FileSend->content = std::move(file.bytes);
    // The link is opened once, by the first block; a failure there has shown its own message.
    const std::string_view first =
        std::string_view(m_FileSend->content).substr(0, kSendFileBlockBytes);
    const SendOutcome outcome =
        WriteAndShow(reinterpret_cast<const uint8_t*>(first.data()), first.size(), true);
    if (outcome == SendOutcome::kNotOpen || outcome == SendOutcome::kNoLink) {
        m_FileSend.reset();
        return;
    }
    if (outcome == SendOutcome::kWriteFailed) {
        StopFileSend(u"发送文件失败:" + *path);
        return;
    }
    m_FileSend->offset = first.size();
    SendNextFileBlocks();
}

void CKemPemviloDlg::SendNextFileBlocks() {
    if (!m_FileSend) {
        return;
    }
    // A slice at a time, so a slow port never freezes the window while a file goes out.
    QElapsedTimer clock;
    clock.start();
    while (m_FileSend->offset < m_FileSend->content.size()) {
        const std::string_view block =
            std::string_view(m_FileSend->content).substr(m_FileSend->offset, kSendFileBlockBytes);
        const SendOutcome outcome =
            WriteAndShow(reinterpret_cast<const uint8_t*>(block.data()), block.size(), false);
        if (outcome != SendOutcome::kSent) {
            StopFileSend(u"发送文件失败:" + m_strSendFile);
            return;
        }
        m_FileSend->offset += block.size();
        if (clock.elapsed() >= kFileSliceMs) {
            QMetaObject::invokeMethod(
                this, [this] { SendNextFileBlocks(); }, Qt::QueuedConnection);
            return;
        }
    }
    m_FileSend.reset();
}

void CKemPemviloDlg::StopFileSend(const std::u16string& message) {
    m_FileSend.reset();
    m_pDialogs->MessageBox(message, kCaptionError, DialogButtons::kOk, DialogIcon::kError);
}
