#pragma once
// The label that shows the selected directory.  It keeps the path as bytes
// (a directory name need not be valid UTF-8) and shows its decoded form.
// Before any directory is chosen it shows a placeholder that is not a path:
// path() is then "", so a search or a file operation started at that point
// has no directory to work on, instead of taking the placeholder's words
// for a directory name relative to wherever the program was started.

#include <QLabel>
#include <string>

namespace toka {

class PathLabel : public QLabel {
    Q_OBJECT
public:
    static constexpr const char* kPlaceholder = "(select a directory in the tree)";

    explicit PathLabel(QWidget* parent = nullptr);

    const std::string& path() const { return m_path; }
    /// Shows path; "" shows the placeholder.
    void setPath(const std::string& path);

private:
    std::string m_path;
};

} // namespace toka
