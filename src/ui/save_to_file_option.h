// The traffic log window: folder, name templates and switches of the three log files, and the
// button that starts and stops recording. The log writer does the file work; this window keeps
// the options in step with the settings record and tells its owner when recording changes.
#pragma once

#include <QDialog>

#include <string_view>

#include "terminal/traffic_log.h"
#include "terminal/traffic_log_names.h"
#include "terminal/traffic_queue.h"
#include "terminal/user_dialogs.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Control identifiers of the window; each control's object name is its id in decimal.
namespace log_ids {
constexpr int kTemplate = 109;  // the window itself
constexpr int kPath = 1049;
constexpr int kBrowse = 1054;
constexpr int kTitle = 1060;
constexpr int kSaveSend = 1057;
constexpr int kSendName = 1056;
constexpr int kSendTimeStamp = 1061;
constexpr int kSendEndNewLine = 1063;
constexpr int kSaveReceive = 1052;
constexpr int kReceiveName = 1051;
constexpr int kReceiveTimeStamp = 1064;
constexpr int kReceiveEndNewLine = 1065;
constexpr int kSaveAll = 1059;
constexpr int kAllName = 1058;
constexpr int kAllTimeStamp = 1066;
constexpr int kAllEndNewLine = 1067;
constexpr int kAllMergeContinue = 1068;
constexpr int kStatus = 1055;
constexpr int kStartStop = 1053;
}  // namespace log_ids

// Texts the window shows.
inline constexpr std::u16string_view kLogWindowTitle = u"保存到文件";
inline constexpr std::u16string_view kLogNothingSelected = u"未选择需要保存的数据源";
inline constexpr std::u16string_view kLogCreateFailed =
    u"创建记录文件失败!\n请检查保存目录是否已经存在,且文件名不含有非法字符";
inline constexpr std::u16string_view kLogWriteFailed = u"写入记录文件失败,已停止记录!";
inline constexpr std::u16string_view kLogStatusRecording = u"正在记录";
inline constexpr std::u16string_view kLogStatusIdle = u"未开始记录";
inline constexpr std::u16string_view kLogStart = u"开始记录";
inline constexpr std::u16string_view kLogStop = u"停止记录";

class CDlgSaveToFileOption : public QDialog {
    Q_OBJECT

public:
    // A hidden, idle window owned by `parent` (the main window), its options loaded from
    // g_AppConfig (empty texts stand for the default templates). Messages and the folder
    // chooser go through `dialogs`, which must outlive the window. Window's thread.
    CDlgSaveToFileOption(QWidget* parent, UserDialogs& dialogs);

    // Stops a running recording (stop markers written, files closed) or, when idle, stores the
    // options into g_AppConfig, so they are saved with the settings at exit. No signal is
    // emitted here: the owner is usually being destroyed itself. Window's thread.
    ~CDlgSaveToFileOption() override;

    // True between a successful start and the next stop (by the button, a write failure or
    // the window's destruction). Window's thread.
    bool IsRecording() const;

    // Writes one block to the open logs while recording; nothing while idle. A write failure
    // stops recording (the other logs get their stop marker, every file is closed with what
    // reached it) and shows the error with the file and the OS reason once; recordingChanged
    // (false) is emitted before the message. Window's thread.
    void WriteTrafficBlock(const tagComExchangeData& record);

signals:
    // After a successful start (true) and after every stop (false); never for a refused or
    // failed start.
    void recordingChanged(bool recording);

private:
    void BuildControls();
    void OnStartStop();
    void OnBrowseFolder();
    void StartRecording();
    // Stops and finishes the window's state; `notify` emits recordingChanged(false).
    void StopRecording(bool notify);
    // After the writer stopped on its own (write failure): the window returns to idle.
    void ReturnToIdle(bool notify);
    void ReportFileFailure(const TrafficLogStatus& status);

    // The texts from the settings record, or their default templates.
    void LoadNameTemplates();
    // The five texts and ten switches into g_AppConfig.
    void StoreOptions();
    // Control values into options_ and back out.
    void ReadControls();
    void PushControls();
    void LockOptions(bool locked);

    UserDialogs& dialogs_;
    TrafficLogOptions options_;
    TrafficLogWriter writer_;

    QLineEdit* path_ = nullptr;
    QPushButton* browse_ = nullptr;
    QLineEdit* title_ = nullptr;
    QLineEdit* send_name_ = nullptr;
    QLineEdit* receive_name_ = nullptr;
    QLineEdit* all_name_ = nullptr;
    QCheckBox* save_send_ = nullptr;
    QCheckBox* send_time_stamp_ = nullptr;
    QCheckBox* send_end_new_line_ = nullptr;
    QCheckBox* save_receive_ = nullptr;
    QCheckBox* receive_time_stamp_ = nullptr;
    QCheckBox* receive_end_new_line_ = nullptr;
    QCheckBox* save_all_ = nullptr;
    QCheckBox* all_time_stamp_ = nullptr;
    QCheckBox* all_end_new_line_ = nullptr;
    QCheckBox* all_merge_continue_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* start_stop_ = nullptr;
};
