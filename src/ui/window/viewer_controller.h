#pragma once
// The file viewer's duty: the pane below everything, with its picture box
// and the text memo on top of it, and the loads that fill them.  Files are
// read on the viewer's worker (viewer_loads.h) and shown as they arrive, in
// the order asked.

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QWidget;

namespace toka {

class TextMemo;
class ViewerLoads;

class ViewerController : public QObject {
    Q_OBJECT
public:
    /// The pane is made in parent.
    explicit ViewerController(QWidget* parent);
    ~ViewerController() override;

    QWidget* pFileViewer() const { return m_pane; }      ///< the pane
    QLabel* mFileImageView() const { return m_picture; } ///< the picture box
    TextMemo* mFileViewer() const { return m_memo; }     ///< the text, on top of the picture box

    /// Loads the marked rows' files: every picture (each may fail with its
    /// box) and the last file when it is a text.
    void viewMarked(const std::vector<std::string>& paths);
    /// Loads one file: a picture into the picture box (the memo is hidden at
    /// once), anything else as text into the memo (shown and cleared at
    /// once).  A picture that fails shows the "Grafik fehlerhaft" box and
    /// keeps the previous picture; a text that fails reads "not available".
    void ViewFile(const std::string& path);
    /// Files asked for are still being read or shown.
    bool isLoading() const;
    /// Shows every picture format Qt reads here as a picture (on), or only
    /// .bmp, .ico and .wmf files (off, at first).  The formats are found on
    /// the viewer's worker: until they are, files load as before.
    void setAllPictureFormats(bool on);

private:
    QWidget* m_pane = nullptr;
    QLabel* m_picture = nullptr;
    TextMemo* m_memo = nullptr;
    std::unique_ptr<ViewerLoads> m_loads;
    std::uint64_t m_formatsAsked = 0; ///< the last setAllPictureFormats; an earlier one's answer is stale
};

} // namespace toka
