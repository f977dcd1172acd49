#include "ui/save_to_file_option.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <optional>
#include <string>

#include "platform/code_page.h"
#include "platform/local_time.h"
#include "settings/app_config.h"
#include "settings/app_config_ext.h"
#include "terminal/config_store.h"
#include "terminal/render_options.h"

namespace {

QString Q(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString Id(int id) {
    return QString::number(id);
}

constexpr std::u16string_view kPathLabel = u"保存路径";
constexpr std::u16string_view kTitleLabel = u"标题";
constexpr std::u16string_view kHelpText =
    u"%Y: 年    %m: 月    %d: 日\n%H: 时    %M: 分    %S: 秒\n%t: 配置文件标题    %T: 标题";
constexpr std::u16string_view kSendLabel = u"发送";
constexpr std::u16string_view kReceiveLabel = u"接收";
constexpr std::u16string_view kAllLabel = u"发送+接收";
constexpr std::u16string_view kTimeStampLabel = u"时间戳";
constexpr std::u16string_view kEndNewLineLabel = u"行尾添加换行";
constexpr std::u16string_view kMergeLabel = u"拼接同源";
constexpr std::u16string_view kBrowseLabel = u"...";
constexpr std::u16string_view kStatusInitial = u"...";

}  // namespace

CDlgSaveToFileOption::CDlgSaveToFileOption(QWidget* parent, UserDialogs& dialogs)
    : QDialog(parent), dialogs_(dialogs) {
    setObjectName(Id(log_ids::kTemplate));
    setWindowTitle(Q(kLogWindowTitle));
    setModal(false);
    BuildControls();
    options_ = LoadTrafficLogOptions(g_AppConfig);
    PushControls();
}

CDlgSaveToFileOption::~CDlgSaveToFileOption() {
    ReadControls();
    if (writer_.recording()) {
        StopRecording(false);
    } else {
        StoreOptions();
    }
}

void CDlgSaveToFileOption::BuildControls() {
    auto edit = [this](int id) {
        auto* box = new QLineEdit(this);
        box->setObjectName(Id(id));
        return box;
    };
    auto check = [this](int id, std::u16string_view label) {
        auto* box = new QCheckBox(Q(label), this);
        box->setObjectName(Id(id));
        return box;
    };
    auto button = [this](int id, std::u16string_view label) {
        auto* push = new QPushButton(Q(label), this);
        push->setObjectName(Id(id));
        // Enter in an edit box must not start a recording or open the chooser.
        push->setAutoDefault(false);
        return push;
    };

    path_ = edit(log_ids::kPath);
    browse_ = button(log_ids::kBrowse, kBrowseLabel);
    title_ = edit(log_ids::kTitle);
    save_send_ = check(log_ids::kSaveSend, kSendLabel);
    send_name_ = edit(log_ids::kSendName);
    send_time_stamp_ = check(log_ids::kSendTimeStamp, kTimeStampLabel);
    send_end_new_line_ = check(log_ids::kSendEndNewLine, kEndNewLineLabel);
    save_receive_ = check(log_ids::kSaveReceive, kReceiveLabel);
    receive_name_ = edit(log_ids::kReceiveName);
    receive_time_stamp_ = check(log_ids::kReceiveTimeStamp, kTimeStampLabel);
    receive_end_new_line_ = check(log_ids::kReceiveEndNewLine, kEndNewLineLabel);
    save_all_ = check(log_ids::kSaveAll, kAllLabel);
    all_name_ = edit(log_ids::kAllName);
    all_time_stamp_ = check(log_ids::kAllTimeStamp, kTimeStampLabel);
    all_end_new_line_ = check(log_ids::kAllEndNewLine, kEndNewLineLabel);
    all_merge_continue_ = check(log_ids::kAllMergeContinue, kMergeLabel);
    status_ = new QLabel(Q(kStatusInitial), this);
    status_->setObjectName(Id(log_ids::kStatus));
    start_stop_ = button(log_ids::kStartStop, kLogStart);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(Q(kPathLabel), this), 0, 0);
    grid->addWidget(path_, 0, 1, 1, 4);
    grid->addWidget(browse_, 0, 5);
    grid->addWidget(new QLabel(Q(kTitleLabel), this), 1, 0);
    grid->addWidget(title_, 1, 1, 1, 5);
    grid->addWidget(new QLabel(Q(kHelpText), this), 2, 0, 1, 6);
    grid->addWidget(save_send_, 3, 0);
    grid->addWidget(send_name_, 3, 1, 1, 2);
    grid->addWidget(send_time_stamp_, 3, 3);
    grid->addWidget(send_end_new_line_, 3, 4);
    grid->addWidget(save_receive_, 4, 0);
    grid->addWidget(receive_name_, 4, 1, 1, 2);
    grid->addWidget(receive_time_stamp_, 4, 3);
    grid->addWidget(receive_end_new_line_, 4, 4);
    grid->addWidget(save_all_, 5, 0);
    grid->addWidget(all_name_, 5, 1, 1, 2);
    grid->addWidget(all_time_stamp_, 5, 3);
    grid->addWidget(all_end_new_line_, 5, 4);
    grid->addWidget(all_merge_continue_, 5, 5);
    grid->addWidget(status_, 6, 0, 1, 4);
    grid->addWidget(start_stop_, 6, 4, 1, 2);

    connect(browse_, &QPushButton::clicked, this, &CDlgSaveToFileOption::OnBrowseFolder);
    connect(start_stop_, &QPushButton::clicked, this, &CDlgSaveToFileOption::OnStartStop);
}

bool CDlgSaveToFileOption::IsRecording() const {
    return writer_.recording();
}

void CDlgSaveToFileOption::LoadNameTemplates() {
    const TrafficLogOptions stored = LoadTrafficLogOptions(g_AppConfig);
    options_.path = stored.path;
    options_.title = stored.title;
    options_.send_name = stored.send_name;
    options_.receive_name = stored.receive_name;
    options_.all_name = stored.all_name;
}

void CDlgSaveToFileOption::StoreOptions() {
    StoreTrafficLogOptions(options_, &g_AppConfig);
}

void CDlgSaveToFileOption::ReadControls() {
    options_.path = path_->text().toStdU16String();
    options_.title = title_->text().toStdU16String();
    options_.send_name = send_name_->text().toStdU16String();
    options_.receive_name = receive_name_->text().toStdU16String();
    options_.all_name = all_name_->text().toStdU16String();
    options_.save_send = save_send_->isChecked();
    options_.send_time_stamp = send_time_stamp_->isChecked();
    options_.send_end_new_line = send_end_new_line_->isChecked();
    options_.save_receive = save_receive_->isChecked();
    options_.receive_time_stamp = receive_time_stamp_->isChecked();
    options_.receive_end_new_line = receive_end_new_line_->isChecked();
    options_.save_all = save_all_->isChecked();
    options_.all_time_stamp = all_time_stamp_->isChecked();
    options_.all_end_new_line = all_end_new_line_->isChecked();
    options_.all_merge_continue = all_merge_continue_->isChecked();
}

void CDlgSaveToFileOption::PushControls() {
    path_->setText(Q(options_.path));
    title_->setText(Q(options_.title));
    send_name_->setText(Q(options_.send_name));
    receive_name_->setText(Q(options_.receive_name));
    all_name_->setText(Q(options_.all_name));
    save_send_->setChecked(options_.save_send);
    send_time_stamp_->setChecked(options_.send_time_stamp);
    send_end_new_line_->setChecked(options_.send_end_new_line);
    save_receive_->setChecked(options_.save_receive);
    receive_time_stamp_->setChecked(options_.receive_time_stamp);
    receive_end_new_line_->setChecked(options_.receive_end_new_line);
    save_all_->setChecked(options_.save_all);
    all_time_stamp_->setChecked(options_.all_time_stamp);
    all_end_new_line_->setChecked(options_.all_end_new_line);
    all_merge_continue_->setChecked(options_.all_merge_continue);
}

void CDlgSaveToFileOption::LockOptions(bool locked) {
    for (QLineEdit* box : {path_, title_, send_name_, receive_name_, all_name_}) {
        box->setReadOnly(locked);
    }
    browse_->setEnabled(!locked);
    for (QCheckBox* box : {save_send_, send_time_stamp_, send_end_new_line_, save_receive_,
                           receive_time_stamp_, receive_end_new_line_, save_all_, all_time_stamp_,
                           all_end_new_line_, all_merge_continue_}) {
        box->setEnabled(!locked);
    }
}

void CDlgSaveToFileOption::OnStartStop() {
    if (writer_.recording()) {
        StopRecording(true);
    } else {
        StartRecording();
    }
}

void CDlgSaveToFileOption::StartRecording() {
    ReadControls();
    if (!options_.AnySelected()) {
        dialogs_.MessageBox(std::u16string(kLogNothingSelected), kCaptionNotice, DialogButtons::kOk,
                            DialogIcon::kInformation);
        return;
    }
    const kem::platform::LocalTime start = kem::platform::NowLocal();
    LockOptions(true);
    // The record keeps the templates; only the window shows the resolved names.
    StoreOptions();
    const TrafficLogStatus status = writer_.Start(options_, g_strConfigFile, start);
    if (!status.ok()) {
        LockOptions(false);
        LoadNameTemplates();
        PushControls();
        if (status.result == TrafficLogResult::kOpenFailed) {
            dialogs_.MessageBox(std::u16string(kLogCreateFailed), kCaptionError, DialogButtons::kOk,
                                DialogIcon::kError);
        } else {
            ReportFileFailure(status);
        }
        return;
    }
    const ResolvedLogNames& names = writer_.names();
    options_.title = names.title;
    options_.send_name = names.send_name;
    options_.receive_name = names.receive_name;
    options_.all_name = names.all_name;
    status_->setText(Q(kLogStatusRecording));
    start_stop_->setText(Q(kLogStop));
    PushControls();
    emit recordingChanged(true);
}

void CDlgSaveToFileOption::StopRecording(bool notify) {
    ReadControls();
    const TrafficLogStatus status = writer_.Stop(kem::platform::NowLocal());
    ReturnToIdle(notify);
    if (!status.ok() && notify) {
        ReportFileFailure(status);
    }
}

void CDlgSaveToFileOption::ReturnToIdle(bool notify) {
    LockOptions(false);
    status_->setText(Q(kLogStatusIdle));
    start_stop_->setText(Q(kLogStart));
    LoadNameTemplates();
    PushControls();
    if (notify) {
        emit recordingChanged(false);
    }
}

void CDlgSaveToFileOption::WriteTrafficBlock(const tagComExchangeData& record) {
    if (!writer_.recording()) {
        return;
    }
    // The all-traffic log frames merged blocks with the display's current gap.
    writer_.SetFrameGap(FrameGapFromConfig(g_AppConfigExt));
    const TrafficLogStatus status = writer_.WriteTrafficBlock(LogBlockOf(record));
    if (status.ok()) {
        return;
    }
    // The writer has already stopped and closed every file; the window follows before the
    // message, so blocks handled while the box is open find recording off.
    ReadControls();
    ReturnToIdle(true);
    ReportFileFailure(status);
}

void CDlgSaveToFileOption::ReportFileFailure(const TrafficLogStatus& status) {
    std::u16string text(kLogWriteFailed);
    text += u"\n";
    text += kem::platform::Utf8ToWide(status.file);
    text += u"\n";
    text += kem::platform::Utf8ToWide(status.os.text);
    dialogs_.MessageBox(text, kCaptionError, DialogButtons::kOk, DialogIcon::kError);
}

void CDlgSaveToFileOption::OnBrowseFolder() {
    ReadControls();
    // No title and no starting folder: the chooser opens where the platform puts it.
    const std::optional<std::u16string> folder = dialogs_.AskFolder(u"", u"");
    if (!folder) {
        return;
    }
    options_.path = *folder;
    PushControls();
}
