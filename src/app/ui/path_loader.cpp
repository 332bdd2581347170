// Adds pending paths to the image list on a loader thread while the window stays responsive.
#include "app/ui/path_loader.h"

namespace quill::app::ui {

namespace {
/// How often queued rows reach the view; well under the 100 ms a user notices.
constexpr int kDrainIntervalMs = 50;
} // namespace

PathLoader::PathLoader(imagefiles::ImageList& images, pipeline::RunFlags& flags,
                       ImageListModel& model, QObject* parent)
    : QObject(parent), m_images(images), m_flags(flags), m_model(model) {
    m_timer.setInterval(kDrainIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PathLoader::drain);
}

PathLoader::~PathLoader() {
    if (m_thread.joinable()) {
        m_images.cancel.store(1);
        m_thread.join();
        m_images.busy.store(0);
        m_flags.loadingPaths.store(0);
    }
}

void PathLoader::add(const imagefiles::PathList& paths, const imagefiles::ListOptions& options) {
    if (paths.empty()) return;
    {
        std::lock_guard lock(m_mutex);
        m_pending.insert(m_pending.end(), paths.begin(), paths.end());
        m_options = options;
    }
    if (m_thread.joinable()) return; // the running loader takes them up
    m_images.cancel.store(0);
    m_images.busy.store(1);
    m_flags.loadingPaths.store(1);
    m_added.store(0);
    m_done.store(false);
    m_thread = std::thread([this] { run(); });
    m_timer.start();
    emit started();
}

void PathLoader::cancel() {
    if (!m_thread.joinable()) return;
    m_images.cancel.store(1);
    std::lock_guard lock(m_mutex);
    m_pending.clear();
}

void PathLoader::run() {
    for (;;) {
        imagefiles::PathList paths;
        imagefiles::ListOptions options;
        {
            std::lock_guard lock(m_mutex);
            // Deciding to end under the lock means add() either sees the thread joinable and
            // leaves its paths to it, or finds m_pending taken and starts after the join.
            if (m_pending.empty() || m_images.cancel.load() == 1) {
                m_done.store(true);
                return;
            }
            paths.swap(m_pending);
            options = m_options;
        }
        imagefiles::addPaths(paths, m_images, options, [this](const imagefiles::ImageRecord& r) {
            ImageRow row = ImageListModel::rowOf(r);
            std::lock_guard lock(m_mutex);
            m_rows.push_back(std::move(row));
            m_added.fetch_add(1);
        });
    }
}

void PathLoader::drain() {
    std::vector<ImageRow> rows;
    {
        std::lock_guard lock(m_mutex);
        rows.swap(m_rows);
    }
    if (!rows.empty()) {
        m_model.appendRows(std::move(rows));
        emit progressed(m_added.load());
    }
    if (!m_done.load()) return;
    m_thread.join();
    m_timer.stop();
    {
        // Rows queued between the last swap and the end of the thread.
        std::lock_guard lock(m_mutex);
        rows.swap(m_rows);
    }
    m_model.appendRows(std::move(rows));
    m_images.busy.store(0);
    m_flags.loadingPaths.store(0);
    imagefiles::PathList late;
    imagefiles::ListOptions options;
    {
        std::lock_guard lock(m_mutex);
        late.swap(m_pending);
        options = m_options;
    }
    emit finished();
    // Paths that arrived after the thread decided to end.
    if (!late.empty() && m_images.cancel.load() == 0) add(late, options);
}

} // namespace quill::app::ui
