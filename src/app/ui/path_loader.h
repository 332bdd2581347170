// Adds pending paths to the image list on a loader thread while the window stays responsive.
#pragma once

#include "app/ui/image_list_model.h"
#include "imagefiles/image_list.h"
#include "pipeline/run_control.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quill::app::ui {

/// The loader of the main window. Paths handed to add() join the pending paths; when no loader
/// runs, one starts. The thread appends records to the image list and queues their rows; a
/// timer on the GUI thread moves the queued rows into the model in batches, so the GUI thread
/// never walks a directory and never inserts rows one by one.
class PathLoader : public QObject {
    Q_OBJECT
public:
    PathLoader(imagefiles::ImageList& images, pipeline::RunFlags& flags, ImageListModel& model,
               QObject* parent = nullptr);
    ~PathLoader() override;

    /// Appends `paths` to the pending paths and starts the loader unless it runs already (it
    /// then takes them up before it ends).
    void add(const imagefiles::PathList& paths, const imagefiles::ListOptions& options);
    /// Asks the loader to stop after the current entry (Escape).
    void cancel();
    [[nodiscard]] bool busy() const { return m_thread.joinable(); }
    /// Records added by the running (or last) loader.
    [[nodiscard]] int addedCount() const { return m_added.load(); }

signals:
    void started();
    /// Rows were moved into the model.
    void progressed(int added);
    void finished();

private:
    void run();
    void drain();

    imagefiles::ImageList& m_images;
    pipeline::RunFlags& m_flags;
    ImageListModel& m_model;
    QTimer m_timer;
    std::thread m_thread;
    std::mutex m_mutex; // guards m_pending, m_options and m_rows
    imagefiles::PathList m_pending;
    imagefiles::ListOptions m_options;
    std::vector<ImageRow> m_rows;
    std::atomic<bool> m_done{false};
    std::atomic<int> m_added{0};
};

} // namespace quill::app::ui
