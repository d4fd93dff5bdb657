#pragma once

#include <cstdint>
#include <string>

namespace torvaline {

// What the cycle needs of the download component: the two properties, the transfer flag
// (its Tag), Start and Stop. TDownloadFile is the real one; tests use a fake.
class DownloadComponent {
public:
    virtual ~DownloadComponent() = default;

    std::string UrlToDownload;
    std::string FileName;
    // The cycle's transfer flag: 1 from the transfer's start event until the cycle advances.
    std::int32_t Tag = 0;

    virtual void Start() = 0;
    virtual void Stop() = 0;
};

} // namespace torvaline
