#pragma once

#include "platform/TransferFacility.h"

#include <chrono>
#include <memory>
#include <string>

namespace torvaline {

class CurlShare;

struct CurlTransferOptions {
    // A connection that brings less than lowSpeedLimit bytes per second for lowSpeedTime
    // seconds is dead: the transfer ends as failed instead of hanging for ever.
    long lowSpeedLimit = 1;
    long lowSpeedTime = 30;
    long connectTimeout = 30;
    long maxRedirects = 10;
    // libcurl's 16 KiB default loses to the curl tool on a fast link.
    long bufferSize = 512 * 1024;
    // The least time between two progress notifications while data flows: each one is a
    // hand-off to the GUI thread that pauses the transfer.
    std::chrono::milliseconds progressInterval{100};
    std::string userAgent = "Torvaline/1.2.2";
};

// One blocking http(s) download into `<target>.part`, renamed onto the target only when it
// arrived whole. A failed or cancelled transfer removes the .part and leaves an existing
// target untouched. Cookies come from (and go to) the jar shared with the page browser.
class CurlTransfer final : public TransferFacility {
public:
    explicit CurlTransfer(std::shared_ptr<CurlShare> share, CurlTransferOptions options = {});

    TransferResult transfer(const std::string& url, const std::string& targetPath,
                            TransferCallback& callback) override;

private:
    std::shared_ptr<CurlShare> m_share;
    CurlTransferOptions m_options;
};

} // namespace torvaline
