#include "ui/logic/viewer_loads.h"

#include "viewer/picture_loader.h"
#include "viewer/viewer_text.h"

namespace toka {

ViewerLoads::ViewerLoads(QObject* parent) : QObject(parent) {}

ViewerLoads::~ViewerLoads() = default;

void ViewerLoads::loadPicture(const std::string& path, PictureFormats formats, std::function<void()> before,
                              PictureShown show) {
    auto load = std::make_shared<Load>();
    load->before = std::move(before);
    m_loads.push_back(load);
    runDue();
    m_worker.post([this, path, formats, load, show = std::move(show)] {
        auto picture = std::make_shared<LoadResult<QImage>>(toka::loadPicture(path, formats));
        arrived(load, [picture, show] { show(*picture); });
    });
}

void ViewerLoads::readPictureFormats(std::function<void()> ready) {
    m_worker.post([this, ready = std::move(ready)] {
        readableImageFormats();
        QMetaObject::invokeMethod(this, ready, Qt::QueuedConnection);
    });
}

void ViewerLoads::loadText(const std::string& path, std::function<void()> before, TextShown show) {
    auto load = std::make_shared<Load>();
    load->before = std::move(before);
    m_loads.push_back(load);
    runDue();
    const std::uint64_t asked = ++m_lastText;
    m_worker.post([this, path, load, asked, show = std::move(show)] {
        if (asked != m_lastText.load()) {
            arrived(load, [] {});
            return;
        }
        auto text = std::make_shared<LoadResult<QString>>(loadViewerText(path));
        arrived(load, [this, text, asked, show] {
            if (asked == m_lastText.load()) show(*text);
        });
    });
}

void ViewerLoads::arrived(const std::shared_ptr<Load>& load, std::function<void()> show) {
    QMetaObject::invokeMethod(
        this,
        [this, load, show = std::move(show)] {
            load->show = show;
            runDue();
        },
        Qt::QueuedConnection);
}

void ViewerLoads::runDue() {
    if (m_running) return;
    m_running = true;
    while (!m_loads.empty()) {
        const std::shared_ptr<Load> load = m_loads.front();
        if (!load->beforeDone) {
            load->beforeDone = true;
            if (load->before) load->before();
        }
        if (!load->show) break; // still being read
        load->show();
        m_loads.pop_front();
    }
    m_running = false;
}

} // namespace toka
