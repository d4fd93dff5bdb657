#pragma once

#include "adapters/curl/PageFetch.h"
#include "platform/LinkProbe.h"

#include <memory>

namespace torvaline {

class CurlShare;

// The link check's look at a link through libcurl, with the cookie jar the pages and transfers
// share. Tighter limits than the browser's: a hoster's first page is small and quick, and a
// check that waits a minute on a dead server holds that hoster's checks behind it.
class CurlLinkProbe final : public LinkProbe {
public:
    static PageOptions checkOptions();

    explicit CurlLinkProbe(std::shared_ptr<CurlShare> share, PageOptions options = checkOptions());
    LinkAnswer fetch(const std::string& link, const std::atomic<bool>& abort) override;

private:
    std::shared_ptr<CurlShare> m_share;
    PageOptions m_options;
};

} // namespace torvaline
