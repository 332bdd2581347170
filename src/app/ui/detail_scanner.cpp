// Reads the dimensions of listed images on a background thread for the list's tooltips.
#include "app/ui/detail_scanner.h"

#include "imagefiles/image_loader.h"

namespace quill::app::ui {

DetailScanner::DetailScanner(ImageListModel& model, QObject* parent)
    : QObject(parent), m_model(model) {
    // Scanned details reach the tooltips in batches: often enough that a user sees them arrive,
    // seldom enough that the GUI thread is not busy with single rows.
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &DetailScanner::drain);
}

DetailScanner::~DetailScanner() {
    stop();
}

void DetailScanner::scanPendingRows() {
    stop();
    // Copies of the paths share their text with the rows, so this list costs the GUI thread no
    // conversion; the worker converts each path when it gets to it.
    std::vector<std::pair<std::int32_t, QString>> jobs;
    jobs.reserve(m_model.rows().size());
    for (const ImageRow& row : m_model.rows()) {
        if (!row.detailsScanned) jobs.emplace_back(row.recordId, row.path);
    }
    if (jobs.empty()) return;
    m_stop.store(false);
    m_done.store(false);
    m_thread = std::thread([this, jobs = std::move(jobs)] {
        for (const auto& [id, path] : jobs) {
            if (m_stop.load()) break;
            imagefiles::ImageRect rect;
            // Unreadable, vanished and video files simply keep no size.
            const bool known = imagefiles::readImageSize(path.toStdString(), rect);
            std::lock_guard lock(m_mutex);
            m_results.push_back({id, known ? rect.width : 0, known ? rect.height : 0});
        }
        m_done.store(true);
    });
    m_timer.start();
}

void DetailScanner::stop() {
    if (!m_thread.joinable()) return;
    m_stop.store(true);
    m_thread.join();
    m_timer.stop();
    drain();
}

void DetailScanner::drain() {
    std::vector<Result> results;
    {
        std::lock_guard lock(m_mutex);
        results.swap(m_results);
    }
    for (const Result& r : results)
        m_model.setDetails(r.recordId, r.width, r.height);
    if (!m_done.load() || !m_thread.joinable()) return;
    m_thread.join();
    m_timer.stop();
    {
        std::lock_guard lock(m_mutex);
        results.swap(m_results);
    }
    for (const Result& r : results)
        m_model.setDetails(r.recordId, r.width, r.height);
    emit finished();
}

} // namespace quill::app::ui
