#include "viewer/viewer_extension.h"

namespace toka {

std::string viewerExtension(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    std::string extension(path.substr(dot, 4));
    for (char& c : extension)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return extension;
}

bool isPictureExtension(std::string_view extension) {
    return extension == ".BMP" || extension == ".ICO" || extension == ".WMF";
}

} // namespace toka
