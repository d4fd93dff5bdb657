#pragma once

#include <optional>
#include <string>
#include <vector>

namespace torvaline {

enum class Answer { Yes, No, Cancel };
// What the user makes of links a web page sent: add them, discard them, or stop listening.
enum class LinksAnswer { Add, Discard, TurnOff };

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
    // Links that came from outside without the user asking (a web page through Click'n'Load):
    // "Add", "Discard" or "Turn Off Click'n'Load", the links listed for a look. Discarding is
    // the answer of a front end that cannot ask.
    virtual LinksAnswer askAddLinks(const std::string& question,
                                    const std::vector<std::string>& links) {
        static_cast<void>(question);
        static_cast<void>(links);
        return LinksAnswer::Discard;
    }
    // While askAddLinks waits for the user: more links joined the question.
    virtual void updateAddLinks(const std::string& question,
                                const std::vector<std::string>& links) {
        static_cast<void>(question);
        static_cast<void>(links);
    }
};

} // namespace torvaline
