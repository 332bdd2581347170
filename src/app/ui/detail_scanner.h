// Reads the dimensions of listed images on a background thread for the list's tooltips.
#pragma once

#include "app/ui/image_list_model.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quill::app::ui {

/// Works on a copy of (record, path) pairs so that it never touches the image list; results
/// reach the model in batches through a GUI-thread timer.
class DetailScanner : public QObject {
    Q_OBJECT
public:
    explicit DetailScanner(ImageListModel& model, QObject* parent = nullptr);
    ~DetailScanner() override;

    /// Scans every row that has not been scanned yet; a scan already running is stopped first.
    void scanPendingRows();
    /// Asks the thread to stop and waits for it (it checks after each file).
    void stop();
    [[nodiscard]] bool running() const { return m_thread.joinable(); }

signals:
    void finished();

private:
    struct Result {
        std::int32_t recordId, width, height;
    };
    void drain();

    ImageListModel& m_model;
    QTimer m_timer;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::mutex m_mutex;
    std::vector<Result> m_results;
};

} // namespace quill::app::ui
