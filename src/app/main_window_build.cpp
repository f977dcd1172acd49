// The main window's controls, menus and start-up layout. Controls are placed at fixed
// positions, as in a dialog template, and moved by LayoutControls when the window is resized;
// every control's object name is its identifier.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "app/control_ids.h"
#include "app/main_window.h"
#include "terminal/serial_param_text.h"
#include "ui/find_bar.h"
#include "ui/kem_combo_box.h"
#include "ui/kem_edit_ctrl.h"
#include "ui/receive_display.h"

namespace {

constexpr int kClientWidth = 900;
constexpr int kClientHeight = 644;

QString Id(int id) {
    return QString::number(id);
}

template <typename Widget>
Widget* Placed(Widget* widget, int id, int x, int y, int w, int h) {
    if (id != 0) {
        widget->setObjectName(Id(id));
    }
    widget->setGeometry(x, y, w, h);
    return widget;
}

QAction* AddCommand(QMenu* menu, int id, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(Id(id));
    action->setData(id);
    return action;
}

}  // namespace

QCheckBox* CKemPemviloDlg::AddCheckBox(int id, const QString& text, int x, int y, int w, int h) {
    auto* box = Placed(new QCheckBox(text, this), id, x, y, w, h);
    connect(box, &QCheckBox::clicked, this, [this, id] { ExecuteCommand(id); });
    return box;
}

QPushButton* CKemPemviloDlg::AddButton(int id, const QString& text, int x, int y, int w, int h) {
    auto* button = Placed(new QPushButton(text, this), id, x, y, w, h);
    // Enter in the window must never press a button of its own accord.
    button->setAutoDefault(false);
    button->setDefault(false);
    connect(button, &QPushButton::clicked, this, [this, id] { ExecuteCommand(id); });
    return button;
}

QLabel* CKemPemviloDlg::AddLabel(const QString& text, int x, int y, int w, int h, QWidget* buddy) {
    auto* label = Placed(new QLabel(text, this), 0, x, y, w, h);
    if (buddy != nullptr) {
        label->setBuddy(buddy);
        buddy->setAccessibleName(QString(text).remove('&').remove(':').remove(u'：'));
    }
    return label;
}

void CKemPemviloDlg::BuildControls() {
    setWindowTitle(QString::fromStdU16String(kWindowTitleBase));
    resize(kClientWidth, kClientHeight);

    // Everything created before the line keeps its place; everything after it moves with the
    // bottom edge (see LayoutControls).
    m_Display = Placed(new CMyRichEditCtrl(this), ids::kDisplay, 8, 8, 884, 410);
    m_Display->setAccessibleName(QStringLiteral("接收区"));
    // Hidden until asked for; it lives in the display's frame, above its text.
    m_FindBar = new FindBar(m_Display);

    auto* line = Placed(new QFrame(this), ids::kLine, 8, 452, 884, 2);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    m_Line = line;

    // Counters: above the line, kept at their distance from its right end.
    m_TxCount = Placed(new QLineEdit(this), ids::kTxCount, 626, 424, 110, 22);
    m_RxCount = Placed(new QLineEdit(this), ids::kRxCount, 776, 424, 116, 22);
    for (QLineEdit* counter : {m_TxCount, m_RxCount}) {
        counter->setReadOnly(true);
        counter->setText(QStringLiteral("0"));
    }
    AddLabel(QStringLiteral("TX:"), 600, 424, 24, 22, m_TxCount);
    AddLabel(QStringLiteral("RX:"), 748, 424, 26, 22, m_RxCount);

    // The settings group.
    Placed(new QGroupBox(QStringLiteral("设置"), this), 0, 8, 458, 300, 180);
    m_PortList = Placed(new CKemComboBox(this), ids::kPortList, 64, 480, 150, 24);
    AddLabel(QStringLiteral("端口:"), 16, 480, 46, 24, m_PortList);
    m_OpenButton = AddButton(ids::kOpen, QStringLiteral("打开"), 220, 480, 80, 26);
    m_OpenButton->setCheckable(true);
    m_ParamBox = Placed(new CKemLineEdit(this), ids::kParamBox, 64, 512, 236, 24);
    AddLabel(QStringLiteral("参数:"), 16, 512, 46, 24, m_ParamBox);

    const struct {
        int id;
        const char16_t* label;
        int x, y;
    } choices[] = {
        {ids::kBaudRate, u"波特率:", 16, 544},
        {ids::kParity, u"校验:", 160, 544},
        {ids::kDataBits, u"数据位:", 16, 576},
        {ids::kStopBits, u"停止位:", 160, 576},
    };
    for (int i = 0; i < 4; ++i) {
        auto* box = Placed(new QComboBox(this), choices[i].id, choices[i].x + 48, choices[i].y,
                           choices[i].id == ids::kParity ? 92 : 84, 24);
        AddLabel(QString::fromStdU16String(choices[i].label), choices[i].x, choices[i].y, 46, 24,
                 box);
        m_SerialChoices[i] = box;
    }
    auto fill = [](QComboBox* box, const auto& texts) {
        for (const char16_t* text : texts) {
            box->addItem(QString::fromStdU16String(text));
        }
    };
    fill(m_SerialChoices[0], kBaudRateChoices);
    fill(m_SerialChoices[1], kParityChoices);
    fill(m_SerialChoices[2], kDataBitsChoices);
    fill(m_SerialChoices[3], kStopBitsChoices);
    AddButton(ids::kAdvanced, QStringLiteral("高级..."), 220, 606, 80, 26);

    // Display options and commands.
    AddCheckBox(ids::kTimeStamp, QStringLiteral("时间戳"), 320, 462, 80, 22);
    AddCheckBox(ids::kMerge, QStringLiteral("拼接同源"), 402, 462, 84, 22);
    AddCheckBox(ids::kExtNewLine, QStringLiteral("额外换行"), 488, 462, 84, 22);
    AddCheckBox(ids::kShowHex, QStringLiteral("HEX"), 320, 488, 80, 22);
    AddCheckBox(ids::kChineseAdjust, QStringLiteral("汉字调整"), 402, 488, 84, 22);
    AddCheckBox(ids::kTopmost, QStringLiteral("窗口置顶"), 488, 488, 84, 22);
    AddCheckBox(ids::kAutoClear, QStringLiteral("自动清除"), 320, 514, 84, 22);
    m_AutoClearSize = Placed(new QLineEdit(this), ids::kAutoClearSize, 406, 514, 60, 22);
    m_AutoClearSize->setAccessibleName(QStringLiteral("自动清除大小 KB"));
    AddLabel(QStringLiteral("KB"), 470, 514, 30, 22);
    AddButton(ids::kClear, QStringLiteral("清空"), 320, 546, 80, 26);
    AddButton(ids::kPause, QStringLiteral("暂停显示"), 404, 546, 80, 26)->setCheckable(true);
    m_SaveButton = AddButton(ids::kSave, QStringLiteral("保存..."), 488, 546, 84, 26);
    AddButton(ids::kAsciiTable, QStringLiteral("ASCII表..."), 320, 578, 80, 26);
    AddButton(ids::kSendFile, QStringLiteral("发送文件..."), 404, 578, 80, 26);
    AddButton(ids::kOther, QStringLiteral("其它..."), 488, 578, 84, 26);
    AddButton(ids::kExit, QStringLiteral("退出"), 488, 610, 84, 26);

    // The send group.
    m_InputBox = Placed(new CKemEditCtrl(this), ids::kInputBox, 584, 462, 308, 96);
    m_InputBox->SetChecksumMenuEnabled(true);
    m_InputBox->setAccessibleName(QStringLiteral("发送区"));
    AddCheckBox(ids::kSendNow, QStringLiteral("回车键发送"), 584, 564, 100, 22);
    AddCheckBox(ids::kSend0D0A, QStringLiteral("回车发送0D0A"), 688, 564, 116, 22);
    AddButton(ids::kSend, QStringLiteral("发送"), 812, 562, 80, 26);
    AddCheckBox(ids::kAutoSendEnter, QStringLiteral("自动发送回车"), 584, 590, 108, 22);
    AddCheckBox(ids::kLoopSend, QStringLiteral("循环发送"), 694, 590, 80, 22);
    m_LoopSendTime = Placed(new QLineEdit(this), ids::kLoopSendTime, 776, 590, 56, 22);
    m_LoopSendTime->setAccessibleName(QStringLiteral("循环发送周期 ms"));
    AddLabel(QStringLiteral("ms"), 834, 590, 22, 22);
    AddButton(ids::kCustomEntries, QStringLiteral("..."), 858, 590, 34, 24)
        ->setAccessibleName(QStringLiteral("自定义条目..."));
    AddCheckBox(ids::kParseHex, QStringLiteral("转义'\\x'"), 584, 616, 100, 22);
    AddCheckBox(ids::kParseCharName, QStringLiteral("转义'[]'"), 688, 616, 100, 22);
}

void CKemPemviloDlg::BuildMenus() {
    m_SaveMenu = new QMenu(this);
    m_SaveMenu->setObjectName(QStringLiteral("SaveMenu"));
    AddCommand(m_SaveMenu, ids::kSaveDisplay, QStringLiteral("保存当前显示"));
    AddCommand(m_SaveMenu, ids::kRecordToFile, QStringLiteral("记录到文件..."));

    m_OtherMenu = new QMenu(this);
    m_OtherMenu->setObjectName(QStringLiteral("OtherMenu"));
    AddCommand(m_OtherMenu, ids::kAsciiTable, QStringLiteral("ASCII表..."));
    m_OtherMenu->addSeparator();
    AddCommand(m_OtherMenu, ids::kFontColour, QStringLiteral("字体&&颜色..."));
    AddCommand(m_OtherMenu, ids::kTimeStampFormat, QStringLiteral("时间戳格式..."));
    AddCommand(m_OtherMenu, ids::kKeyToSend, QStringLiteral("显示区按键立即发送"))
        ->setCheckable(true);
    QMenu* ctrl_keys = m_OtherMenu->addMenu(QStringLiteral("显示区\"CTRL+按键\"用于"));
    AddCommand(ctrl_keys, ids::kCtrlKeyForCommands, QStringLiteral("复制,粘贴等"))
        ->setCheckable(true);
    AddCommand(ctrl_keys, ids::kCtrlKeyForCodes, QStringLiteral("输入控制码"))->setCheckable(true);
    m_OtherMenu->addSeparator();
    AddCommand(m_OtherMenu, ids::kSendFile, QStringLiteral("发送文件..."));
    AddCommand(m_OtherMenu, ids::kPortForwarding, QStringLiteral("端口转发..."))
        ->setCheckable(true);
    AddCommand(m_OtherMenu, ids::kAutoReconnect, QStringLiteral("自动重连"))->setCheckable(true);
    m_OtherMenu->addSeparator();
    AddCommand(m_OtherMenu, ids::kAssociate, QStringLiteral("关联*.pvto"));
    AddCommand(m_OtherMenu, ids::kSaveConfig, QStringLiteral("保存配置..."));
    AddCommand(m_OtherMenu, ids::kCleanRegistry, QStringLiteral("清理Reg配置..."));
    // A desktop window has no system menu of its own to carry the About entry.
    m_OtherMenu->addSeparator();
    AddCommand(m_OtherMenu, ids::kAbout, QStringLiteral("关于KemPemvilo(&A)..."));
    m_OtherMenu->addSeparator();
    AddCommand(m_OtherMenu, ids::kFind, QStringLiteral("查找... (Ctrl+F)"));

    for (QMenu* menu : {m_SaveMenu, m_OtherMenu, ctrl_keys}) {
        connect(menu, &QMenu::triggered, this,
                [this](QAction* action) { ExecuteCommand(action->data().toInt()); });
    }
}

void CKemPemviloDlg::CaptureLayout() {
    m_rcClient0 = LayoutRect{0, 0, width(), height()};
    m_mapLayout.clear();
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget == nullptr || widget->isWindow()) {
            continue;
        }
        const QRect r = widget->geometry();
        m_mapLayout.emplace_back(widget,
                                 LayoutRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1});
    }
}
