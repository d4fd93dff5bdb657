#pragma once

#include "platform/Browser.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace torvaline::test {

// A document built by hand: a body text (or a body that cannot be read) and forms of elements
// with or without a value. Clicks are recorded and may run a reaction, e.g. a navigation.
class FakeDocument final : public Document {
public:
    struct Element {
        std::optional<std::string> value; // none: reading the value throws
        bool clickFails = false;
    };
    using Form = std::vector<Element>;

    FakeDocument() = default;
    explicit FakeDocument(std::string body)
        : body(std::move(body)) {}

    std::string bodyInnerHTML() const override {
        if (bodyFails)
            throw DomError("Body");
        return body;
    }
    int formTagCount() const override {
        if (formTagsFail)
            throw DomError("all.tags(FORM)");
        return formTags >= 0 ? formTags : static_cast<int>(forms.size());
    }
    int formCount() const override {
        if (formsFail)
            throw DomError("forms");
        return static_cast<int>(forms.size());
    }
    int formElementCount(int form) const override { return static_cast<int>(formAt(form).size()); }
    std::string elementValue(int form, int element) const override {
        ++valueReads;
        const Element& e = elementAt(form, element);
        if (!e.value)
            throw DomError("Value");
        return *e.value;
    }
    void click(int form, int element) override {
        if (elementAt(form, element).clickFails)
            throw DomError("Click");
        clicks.emplace_back(form, element);
        if (onClick)
            onClick(form, element);
    }

    std::string body;
    bool bodyFails = false;
    bool formTagsFail = false;
    bool formsFail = false;
    int formTags = -1; // -1: as many as there are forms
    std::vector<Form> forms;
    std::function<void(int form, int element)> onClick;

    std::vector<std::pair<int, int>> clicks;
    mutable int valueReads = 0;

private:
    const Form& formAt(int form) const {
        if (form < 0 || form >= static_cast<int>(forms.size()))
            throw DomError("forms.Item");
        return forms[static_cast<std::size_t>(form)];
    }
    const Element& elementAt(int form, int element) const {
        const Form& f = formAt(form);
        if (element < 0 || element >= static_cast<int>(f.size()))
            throw DomError("Item");
        return f[static_cast<std::size_t>(element)];
    }
};

} // namespace torvaline::test
