#pragma once

#include "adapters/html/FormSubmission.h"

#include <gumbo.h>

#include <functional>
#include <string>
#include <vector>

namespace torvaline {

// One entry of a form data set. File inputs carry a file name (always empty: no file is chosen).
struct FormEntry {
    std::string name;
    std::string value;
    bool isFile = false;
};

// What the form code needs to know about the current state of the controls.
struct ControlState {
    std::function<bool(const GumboNode*)> checked;
    std::function<std::string(const GumboNode*)> value;
};

// The form data set of `elements` (a form's listed elements in tree order) for a submission by
// `submitter`.
std::vector<FormEntry> buildFormEntries(const std::vector<const GumboNode*>& elements,
                                        const GumboNode* submitter, const ControlState& state);

// The submission of `form` by `submitter`: method, action resolved against `baseUrl`, encoded data.
// `documentUrl` stands in for an empty action. `boundary` separates multipart parts.
FormSubmission buildSubmission(const GumboNode* form, const GumboNode* submitter,
                               const std::vector<FormEntry>& entries,
                               const std::string& documentUrl, const std::string& baseUrl,
                               const std::string& boundary);

} // namespace torvaline
