#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvaline {

// The state the download cycle's handlers share. One instance lives as long as the main
// window; every handler that reads or writes it runs on the GUI thread, so it has no lock.
struct CycleState {
    // The list row the cycle works on; row 0 holds the titles. Only the finish handler moves it.
    std::int32_t CurrentRow = 1;
    std::string CurrentURL;
    // Set when a page rule has acted on the captured page; the remaining rules are skipped.
    bool PageHandled = false;
    // Length and start of the current wait, countdown or transfer (fractions of a day).
    double WaitSpan = 0;
    double PhaseStart = 0;
    std::string RemainingText;
    // The direct link and file name cut from the countdown page.
    std::string FinalURL;
    std::string FinalFileName;
    // What the current row's pages said of its file as an archive part (a profile's
    // [password] and [checksum], checked): the last page to tell it wins, the row's opening
    // forgets it, and its completion tells it on.
    std::string PagePassword;
    std::string PageChecksum; // MD5 or SHA-1, lower-case hexadecimal
    // The form data the direct link must be posted with (a profile whose link is the answer
    // to a posted form); empty: the link is fetched as it stands.
    std::string FinalPostData;
    // True only while FinalURL/FinalFileName were cut from the countdown page now being
    // counted down: the countdown rule clears it before it extracts, the extraction sets it
    // when it cut a link, and the cycle clears it when it hands the link to a transfer. A
    // countdown without a fresh link must never fetch an earlier row's file again.
    bool FinalLinkFresh = false;
    // The countdown ends in the browser, not in a transfer: it then presses element
    // FinalElement of form FinalForm of the page still shown (no element: submits the form),
    // or with no form opens FinalURL as the next page.
    bool FinalInBrowser = false;
    std::int32_t FinalForm = -1;
    std::int32_t FinalElement = -1;
    std::string SaveFolder;
    bool StopRequested = false;
    std::int32_t TransferSeconds = 0;

    // Timer2 is counting down a retry of a failed transfer, not one of the hoster's waits.
    // What a row's attempts kept (its retry count, its partial file, its wait aside) is in
    // the row's record, where it goes with the row.
    bool RetryWaiting = false;
    // The rows waiting aside for their retries while the list goes on, by id, in the order
    // they were set aside.
    std::vector<std::uint64_t> SetAside;
    // The current row is a set-aside row taken up; the list then goes on with the row of this
    // id (0: the end of the list).
    bool OnSetAside = false;
    std::uint64_t ReturnRowId = 0;

    // The id of the row the cycle closed last (0: none yet): after the end of the list, Start
    // Download goes on with the row below it, wherever moves have put it.
    std::uint64_t FinishedRowId = 0;

    // An image captcha: someone is there to read it (the window, the remote control); the
    // picture the current row's page shows, as the page wrote it; the code given for it, put
    // into the page's field when its rules run again.
    bool CaptchaAttended = false;
    std::string CaptchaImage;
    std::string CaptchaCode;

    // The page rules' own working values.
    std::string WaitText;
    std::string WaitNumber;
    std::string CountdownText;
};

} // namespace torvaline
