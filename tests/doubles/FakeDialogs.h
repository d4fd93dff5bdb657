#pragma once

#include "platform/Dialogs.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace torvaline::test {

// Answers the commands' questions from a script and records what was asked.
class FakeDialogs final : public Dialogs {
public:
    struct FileRequest {
        bool save;
        std::string filter, defaultExt, initialName;
    };

    std::deque<Answer> answers;                   // next confirm() answers; Cancel when empty
    std::deque<std::optional<std::string>> files; // next chooser results; cancelled when empty

    std::vector<std::string> questions;
    std::vector<FileRequest> fileRequests;
    std::vector<std::string> errors;
    // askAddLinks: the next answers, Discard when empty; what was asked; what runs while the
    // question is open (as the event loop of a modal box would); what the open question was
    // changed to.
    std::deque<LinksAnswer> addLinksAnswers;
    std::vector<std::pair<std::string, std::vector<std::string>>> addLinksQuestions;
    std::function<void()> whileAsking;
    std::vector<std::pair<std::string, std::vector<std::string>>> addLinksUpdates;

    Answer confirm(const std::string& text) override {
        questions.push_back(text);
        if (answers.empty())
            return Answer::Cancel;
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> openFile(const std::string& filter, const std::string& defaultExt,
                                        const std::string& initialName) override {
        fileRequests.push_back({false, filter, defaultExt, initialName});
        return nextFile();
    }
    std::optional<std::string> saveFile(const std::string& filter, const std::string& defaultExt,
                                        const std::string& initialName) override {
        fileRequests.push_back({true, filter, defaultExt, initialName});
        return nextFile();
    }
    void showError(const std::string& text) override { errors.push_back(text); }
    LinksAnswer askAddLinks(const std::string& question,
                            const std::vector<std::string>& links) override {
        addLinksQuestions.emplace_back(question, links);
        if (whileAsking)
            whileAsking();
        if (addLinksAnswers.empty())
            return LinksAnswer::Discard;
        const LinksAnswer answer = addLinksAnswers.front();
        addLinksAnswers.pop_front();
        return answer;
    }
    void updateAddLinks(const std::string& question,
                        const std::vector<std::string>& links) override {
        addLinksUpdates.emplace_back(question, links);
    }

private:
    std::optional<std::string> nextFile() {
        if (files.empty())
            return std::nullopt;
        auto f = files.front();
        files.pop_front();
        return f;
    }
};

} // namespace torvaline::test
