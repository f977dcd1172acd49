// A UserDialogs that answers from a script and records what it was asked.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "terminal/user_dialogs.h"

class ScriptedDialogs : public UserDialogs {
public:
    struct Shown {
        std::u16string text;
        std::u16string caption;
        DialogButtons buttons;
        DialogIcon icon;
    };

    DialogAnswer MessageBox(const std::u16string& text, const std::u16string& caption,
                            DialogButtons buttons, DialogIcon icon) override {
        shown.push_back({text, caption, buttons, icon});
        if (answers.empty()) {
            ADD_FAILURE() << "a message box nobody expected";
            return DialogAnswer::kCancel;
        }
        const DialogAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::optional<std::u16string> AskSavePath(const SaveFileRequest& request) override {
        save_requests.push_back(request);
        return save_path;
    }

    std::optional<std::u16string> AskOpenPath(const SaveFileRequest& request) override {
        open_requests.push_back(request);
        return open_path;
    }

    std::optional<std::u16string> AskFolder(const std::u16string& title,
                                            const std::u16string& initial) override {
        folder_requests.push_back({title, initial});
        return folder;
    }

    std::optional<DisplayStyleFormat> ChooseFont(const DisplayStyleFormat& initial) override {
        font_requests.push_back(initial);
        return font;
    }

    std::optional<uint32_t> ChooseColour(uint32_t initial) override {
        colour_requests.push_back(initial);
        return colour;
    }

    std::deque<DialogAnswer> answers;
    std::vector<Shown> shown;
    std::optional<std::u16string> save_path;
    std::vector<SaveFileRequest> save_requests;
    std::optional<std::u16string> open_path;
    std::vector<SaveFileRequest> open_requests;
    std::optional<std::u16string> folder;
    std::vector<std::pair<std::u16string, std::u16string>> folder_requests;
    std::optional<DisplayStyleFormat> font;
    std::vector<DisplayStyleFormat> font_requests;
    std::optional<uint32_t> colour;
    std::vector<uint32_t> colour_requests;
};
