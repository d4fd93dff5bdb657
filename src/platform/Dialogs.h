#pragma once

#include <optional>
#include <string>

namespace torvaline {

enum class Answer { Yes, No, Cancel };

// The modal questions and choosers the commands need. All texts are UTF-8.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A "Confirm" box with a question-mark icon and Yes, No and Cancel.
    virtual Answer confirm(const std::string& text) = 0;
    // filter: pairs of description and pattern separated by "|".
    virtual std::optional<std::string> openFile(const std::string& filter,
                                                const std::string& defaultExt,
                                                const std::string& initialName) = 0;
    virtual std::optional<std::string> saveFile(const std::string& filter,
                                                const std::string& defaultExt,
                                                const std::string& initialName) = 0;
    virtual void showError(const std::string& text) = 0;
};

} // namespace torvaline
