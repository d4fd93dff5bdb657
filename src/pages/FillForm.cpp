#include "pages/FillForm.h"

#include "platform/Browser.h"

#include <exception>

namespace torvaline {

namespace {

// Each read starts at the browser again, as a click may already have replaced the document;
// the pointer keeps the document it read from alive for the length of that read.
std::shared_ptr<Document> currentDocument(Browser& browser) {
    std::shared_ptr<Document> document = browser.document();
    if (!document)
        throw DomError("the browser holds no document");
    return document;
}

} // namespace

bool FillForm(Browser& browser, const std::string& caption) {
    if (currentDocument(browser)->formTagCount() == 0)
        return false;
    const int forms = currentDocument(browser)->formCount();
    bool clicked = false;
    for (int form = 0; form < forms; ++form) {
        const int elements = currentDocument(browser)->formElementCount(form);
        try {
            for (int element = 0; element < elements; ++element) {
                if (currentDocument(browser)->elementValue(form, element) == caption) {
                    currentDocument(browser)->click(form, element);
                    clicked = true;
                }
            }
        } catch (const std::exception&) {
            return clicked;
        }
    }
    return clicked;
}

} // namespace torvaline
