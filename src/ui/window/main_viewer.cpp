// The file viewer's part in the window: a mouse release over the result
// table loads every marked file into the pane below it.
#include "ui/widgets/strgrdex.h"
#include "ui/window/mainform.h"
#include "ui/window/results_controller.h"
#include "ui/window/viewer_controller.h"

namespace toka {

void TMainForm::sgexResultsMouseUp() {
    if (!m_viewer->pFileViewer()->isVisible()) return;
    // Every marked row, also one that shows no entry (it reads "not
    // available").
    const TStringGridEx& grid = *m_results->sgexResults();
    std::vector<std::string> paths;
    for (int r = 1; r < grid.RowCount(); ++r)
        if (grid.IsRowMarked(r)) paths.push_back(m_results->resultPath(r));
    m_viewer->viewMarked(paths);
}

} // namespace toka
