#pragma once

#include "platform/RequestOptions.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace torvaline {

// A document member that is missing, or a document that cannot be read.
class DomError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The loaded page as the page handling sees it. Every member may throw DomError.
// Forms and their elements are addressed by index, in document and tree order.
class Document {
public:
    virtual ~Document() = default;
    // The body's inner HTML, written as the classic embedded browser wrote it.
    virtual std::string bodyInnerHTML() const = 0;
    // Number of FORM elements in the whole document ("all" -> "tags"("FORM") -> "Length").
    virtual int formTagCount() const = 0;
    // Length of the forms collection.
    virtual int formCount() const = 0;
    // Number of listed elements of form `form`.
    virtual int formElementCount(int form) const = 0;
    // The element's current value; throws DomError when the element has no value member.
    virtual std::string elementValue(int form, int element) const = 0;
    // Clicks the element; a submit control submits its form through the browser.
    virtual void click(int form, int element) = 0;

    // What the hoster profiles query besides. A document that cannot answer throws DomError.
    // The element's attribute (e.g. "name", "id"); empty when it has none.
    virtual std::string elementAttribute(int form, int element, const std::string& name) const {
        (void)form, (void)element, (void)name;
        throw DomError("elementAttribute");
    }
    // The form's address as a submission resolves it.
    virtual std::string formAction(int form) const {
        (void)form;
        throw DomError("action");
    }
    // The hrefs of the page's anchors in document order, resolved against the page.
    virtual std::vector<std::string> anchorHrefs() const { throw DomError("links"); }
    // The request that submitting the form would send, without sending it; the submitter is the
    // form's first submit control. Throws when the form cannot be submitted.
    struct Post {
        std::string method;
        std::string url;
        std::string body;
        std::string contentType;
    };
    virtual Post formPost(int form) const {
        (void)form;
        throw DomError("submit");
    }
    // Sets a control's value, as typing into it would (a captcha's code, say).
    virtual void setElementValue(int form, int element, const std::string& value) {
        (void)form, (void)element, (void)value;
        throw DomError("value");
    }
    // Submits the form through the browser as its first submit control would.
    virtual void submitForm(int form) {
        (void)form;
        throw DomError("submit");
    }
};

struct DocumentCompleteEvent {
    std::string url;
    // Empty when the page loaded; otherwise why it could not be loaded (the document is then
    // a small error page without forms).
    std::string error;
    // The answer was not a page but a file (a direct link): url is the file's, after
    // redirects; fileName what the answer calls it, unchecked; fileSize the announced size,
    // -1 when unknown. The document is then empty; the file is left to a transfer.
    bool directFile = false;
    std::string fileName{};
    long long fileSize = -1;
};

// Events are delivered on the GUI thread. An unset handler is skipped.
struct BrowserEvents {
    std::function<void(const std::string& url)> beforeNavigate;
    // The handler sets cancel to refuse the new window.
    std::function<void(const std::string& url, bool& cancel)> newWindow;
    std::function<void()> downloadComplete;
    std::function<void(const DocumentCompleteEvent&)> documentComplete;
};

class Browser {
public:
    virtual ~Browser() = default;
    virtual void Navigate(const std::string& url) = 0;
    virtual void Stop() = 0;
    // The current top-level document; null while none can be read.
    virtual std::shared_ptr<Document> document() = 0;
    virtual void setEvents(BrowserEvents events) = 0;
    // A page is being fetched or read.
    virtual bool busy() const { return false; }
    // What the row whose pages follow asks to send with them (its link's first page, the
    // forms it submits, the page after the countdown), until the next call; empty: nothing.
    virtual void setRequestOptions(RequestOptions options) { (void)options; }
};

} // namespace torvaline
