// The time-stamp template dialog: edits the template the receive display puts before each
// block and the frame gap that splits merged blocks, shows what the template expands to right
// now, and stores both only on OK.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
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
    // Object names of the frame gap box and of the line that says why OK was refused.
    static constexpr const char* kFrameGapName = "frameGap";
    static constexpr const char* kFrameGapErrorName = "frameGapError";

    // Units the stored template may hold, without its terminator.
    static constexpr size_t kMaxTemplateUnits = 63;

    // Shows g_AppConfig.TimeStampFormat in the edit box and g_AppConfigExt.FrameGap (a
    // negative stored value as 0) in the frame gap box. Window thread only.
    explicit CDlgTimeStampFormat(QWidget* parent);

    // `text` cut to kMaxTemplateUnits units, never between the two halves of a surrogate
    // pair (such a pair is dropped whole). Pure.
    static std::u16string CutTemplate(std::u16string_view text);

    // The frame gap in ms that `text` holds: one to ten decimal digits and nothing else, at
    // most 2147483647. Nothing for any other text, an empty one included. Pure.
    static std::optional<int32_t> ParseFrameGap(std::u16string_view text);

    // Replaces the clock the preview reads (the local time by default), and refreshes it.
    // For tests. Window thread.
    void SetClock(std::function<kem::platform::LocalTime()> clock);

    // The preview text for what the edit box holds now. Window thread.
    QString PreviewText() const;

    // OK: when the frame gap box holds no valid gap (ParseFrameGap), says so below it, puts
    // the caret there and stays open with nothing stored. Otherwise stores the edit box's text
    // (cut as CutTemplate) in g_AppConfig.TimeStampFormat and the gap in
    // g_AppConfigExt.FrameGap and closes with Accepted. The template is not validated.
    void accept() override;

private:
    void UpdatePreview();

    std::function<kem::platform::LocalTime()> clock_;
    QLineEdit* edit_ = nullptr;
    QLabel* preview_ = nullptr;
    QLineEdit* frame_gap_ = nullptr;
    QLabel* frame_gap_error_ = nullptr;
};
