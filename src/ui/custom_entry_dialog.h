// The custom entries window: eighteen stored send texts, each with a numbered button that
// sends it. The texts come from and go back to the settings record.
#pragma once

#include <QDialog>

#include <array>
#include <string>

#include "settings/app_config.h"

class CKemEditCtrl;

// Object names of the controls of row n (1..18): button 1043 + 2n, edit box 1044 + 2n.
namespace custom_entry_ids {
constexpr int ButtonId(int row) {
    return 1043 + 2 * row;
}
constexpr int EditId(int row) {
    return 1044 + 2 * row;
}
}  // namespace custom_entry_ids

// Modeless; closing (close box or Esc) only hides it. Each box starts with its stored text;
// the texts go back into g_AppConfig.CustomEntries when the window is destroyed. Window's
// thread only.
class CDlgCustomEntry : public QDialog {
    Q_OBJECT

public:
    // Builds the eighteen rows from g_AppConfig.CustomEntries, binding Enter and Ctrl+Enter in
    // each box to its row's button.
    explicit CDlgCustomEntry(QWidget* parent);
    // Stores every row's text (see StoreEntries).
    ~CDlgCustomEntry() override;

    // Sends row `row` (1..18): emits sendText with its box's text, a line break in the box
    // given as CR LF. Rows outside 1..18 do nothing.
    void OnEntryCommand(int row);

    // Writes every row's text into g_AppConfig.CustomEntries: CR becomes "\x0D" and LF "\x0A",
    // cut to the 511 units a field holds without breaking an escape or a bracketed name.
    void StoreEntries() const;

    // The edit box of row `row` (1..18); nullptr outside that range.
    CKemEditCtrl* entryBox(int row) const;

signals:
    // `text` is to go out through the main window's send path, as its send button does.
    void sendText(const std::u16string& text);

private:
    std::array<CKemEditCtrl*, kCustomEntryCount> boxes_{};
};
