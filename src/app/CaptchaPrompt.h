#pragma once

#include "cycle/RowEvents.h"

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;

namespace torvaline {

class CurlShare;
class DesktopNotifier;
class DownloadList;
class EventLoop;
class WorkerCount;

// The window's side of an image captcha: the picture and a field for the code.
class CaptchaDialog final : public QDialog {
    Q_OBJECT

public:
    // `picture` empty: `problem` says why there is none.
    CaptchaDialog(const QString& rowName, const QByteArray& picture, const QString& problem,
                  QWidget* parent);
    QString code() const;

    // Pictures larger than this are not shown (a page's captcha is a small picture).
    static constexpr int MaxSide = 1200;

private:
    QLabel* m_picture;
    QLineEdit* m_code;
};

// Asks the user for the code of each row whose page shows an image captcha, one row at a time,
// while the other rows go on: the picture is fetched on a worker, the dialog does not hold the
// window, Enter gives the code to the row.
class CaptchaPrompt final : public RowEvents {
public:
    struct Ports {
        QWidget& window;
        const DownloadList& list;
        EventLoop& loop;
        std::shared_ptr<CurlShare> share;
        std::shared_ptr<WorkerCount> workers;
        // The code for the row with this id; false when it no longer waits for one.
        std::function<bool(std::uint64_t id, const std::string& code)> answer;
        DesktopNotifier* notifier = nullptr; // may be null
    };
    explicit CaptchaPrompt(Ports ports);
    ~CaptchaPrompt() override;

    // The dialog shown now, if any (for tests and pictures).
    CaptchaDialog* dialog() const { return m_dialog; }

    void rowsAdded(int, std::span<const RowRef>) override {}
    void rowsRemoved(int, std::span<const RowRef> rows) override;
    void rowMoved(std::uint64_t, int, int) override {}
    void rowPhase(const RowPhaseEvent& event) override;
    void rowProgress(const RowProgressEvent&) override {}
    void listDone(int, int, int) override {}

private:
    struct Ask {
        std::uint64_t id = 0;
        std::string url;
        std::string name;
    };
    void askNext();
    void show(const Ask& ask, const std::string& bytes, const std::string& problem);
    void drop(std::uint64_t id);

    Ports m_p;
    std::deque<Ask> m_queue;
    std::uint64_t m_asking = 0;
    QPointer<CaptchaDialog> m_dialog;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace torvaline
