#pragma once
// The viewer's loads off the window's thread: pictures and texts are read
// and decoded on a worker, in the order asked.  On the window's thread each
// load has a step before it (hiding or clearing the memo) and its showing;
// these run strictly in the order asked, one load after the other, so the
// pane goes through the same states as if each file were read at once.  A
// picture that fails may open a modal box while it is shown; the loads
// behind it wait until the box is closed.

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "viewer/load_result.h"
#include "viewer/picture_formats.h"
#include "ui/logic/serial_worker.h"

namespace toka {

class ViewerLoads : public QObject {
public:
    using PictureShown = std::function<void(LoadResult<QImage>&)>;
    using TextShown = std::function<void(LoadResult<QString>&)>;

    explicit ViewerLoads(QObject* parent = nullptr);
    ~ViewerLoads() override;

    /// Reads the picture at path as a file of formats; before runs on the
    /// window's thread when the loads asked earlier are shown (at once when
    /// there are none), show when the picture is there.
    void loadPicture(const std::string& path, PictureFormats formats, std::function<void()> before, PictureShown show);
    /// The same for a text; a text that a later text replaces before its
    /// turn is neither read nor shown (its before step still runs).
    void loadText(const std::string& path, std::function<void()> before, TextShown show);
    /// Finds the picture formats Qt reads here (readableImageFormats, which
    /// looks for its plugins on disk) on the worker; ready then runs on the
    /// window's thread.
    void readPictureFormats(std::function<void()> ready);
    /// Loads asked for and not yet shown (or being shown).
    bool busy() const { return !m_loads.empty(); }

private:
    struct Load {
        std::function<void()> before;
        std::function<void()> show; ///< set when the file has been read
        bool beforeDone = false;
    };
    /// Runs the steps that are due, in order; does nothing when already
    /// doing so further up the stack (a box's own event loop), which then
    /// goes on with them.
    void runDue();
    /// The worker read the load's file: show is what shows it.
    void arrived(const std::shared_ptr<Load>& load, std::function<void()> show);

    std::deque<std::shared_ptr<Load>> m_loads;
    bool m_running = false;
    std::atomic<std::uint64_t> m_lastText{0}; ///< read by the worker, to skip a text no one will see
    SerialWorker m_worker;                    // last: joined before the rest goes
};

} // namespace toka
