#include "adapters/curl/CurlLinkProbe.h"

#include "adapters/curl/CurlShare.h"

#include <utility>

namespace torvaline {

PageOptions CurlLinkProbe::checkOptions() {
    PageOptions options;
    options.connectTimeout = std::chrono::milliseconds(10000);
    options.totalTimeout = std::chrono::milliseconds(30000);
    options.maxPageBytes = 2u << 20;
    return options;
}

CurlLinkProbe::CurlLinkProbe(std::shared_ptr<CurlShare> share, PageOptions options)
    : m_share(std::move(share))
    , m_options(std::move(options)) {}

LinkAnswer CurlLinkProbe::fetch(const std::string& link, const std::atomic<bool>& abort) {
    PageRequest request;
    request.url = link;
    PageResult page = fetchPage(*m_share, request, m_options, abort);
    LinkAnswer answer;
    answer.url = std::move(page.url);
    answer.body = std::move(page.body);
    answer.error = std::move(page.error);
    answer.status = page.status;
    answer.aborted = page.aborted;
    answer.directFile = page.directFile;
    answer.fileName = std::move(page.fileName);
    answer.fileSize = page.fileSize;
    return answer;
}

} // namespace torvaline
