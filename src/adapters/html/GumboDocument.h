#pragma once

#include "adapters/html/FormSubmission.h"
#include "platform/Browser.h"

#include <gumbo.h>

#include <functional>
#include <memory>
#include <string>

namespace torvaline {

// A parsed HTML page with the members the page handling calls on it. Built on a worker thread,
// then used on the GUI thread only.
class GumboDocument final : public Document {
public:
    using SubmitHandler = std::function<void(const FormSubmission&)>;

    // `url` is the page's own address; relative form actions resolve against it.
    GumboDocument(std::string html, std::string url);
    ~GumboDocument() override;
    GumboDocument(const GumboDocument&) = delete;
    GumboDocument& operator=(const GumboDocument&) = delete;

    const std::string& url() const;
    // Called when a click submits a form; without a handler a submission goes nowhere.
    void setSubmitHandler(SubmitHandler handler);

    std::string bodyInnerHTML() const override;
    int formTagCount() const override;
    int formCount() const override;
    int formElementCount(int form) const override;
    std::string elementValue(int form, int element) const override;
    void click(int form, int element) override;
    std::string elementAttribute(int form, int element, const std::string& name) const override;
    std::string formAction(int form) const override;
    std::vector<std::string> anchorHrefs() const override;
    Post formPost(int form) const override;
    void submitForm(int form) override;
    void setElementValue(int form, int element, const std::string& value) override;

private:
    FormSubmission submission(int form, const GumboNode* submitter) const;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace torvaline
