#include "NullBrowser.h"

namespace torvaline {

void NullBrowser::Navigate(const std::string& url) {
    m_lastUrl = url;
}

} // namespace torvaline
