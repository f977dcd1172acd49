// The time-stamp template dialog: edits the template the receive display puts before each
// block, shows what it expands to right now, and stores it only on OK.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <string_view>

#include "platform/local_time.h"

class QLabel;
class QLineEdit;

class CDlgTimeStampFormat : public QDialog {
    Q_OBJECT

public:
    // Control ids, also the object names of the controls.
    static constexpr int kEditId = 1056;
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;
    // Object names of the help text and the preview line, which have no ids.
    static constexpr const char* kHelpName = "help";
    static constexpr const char* kPreviewName = "preview";

    // Units the stored template may hold, without its terminator.
    static constexpr size_t kMaxTemplateUnits = 63;

    // Shows g_AppConfig.TimeStampFormat in the edit box. Window thread only.
    explicit CDlgTimeStampFormat(QWidget* parent);

    // `text` cut to kMaxTemplateUnits units, never between the two halves of a surrogate
    // pair (such a pair is dropped whole). Pure.
    static std::u16string CutTemplate(std::u16string_view text);

    // Replaces the clock the preview reads (the local time by default), and refreshes it.
    // For tests. Window thread.
    void SetClock(std::function<kem::platform::LocalTime()> clock);

    // The preview text for what the edit box holds now. Window thread.
    QString PreviewText() const;

    // OK: stores the edit box's text (cut as CutTemplate) in g_AppConfig.TimeStampFormat and
    // closes with Accepted. Nothing is validated.
    void accept() override;

private:
    void UpdatePreview();

    std::function<kem::platform::LocalTime()> clock_;
    QLineEdit* edit_ = nullptr;
    QLabel* preview_ = nullptr;
};
