// The page's files, compiled into zeb so that the page needs nothing from outside the machine.
#pragma once

#include <cstddef>
#include <string>

namespace zeb::view {

struct PageAsset {
    const char* path; // "/index.html"
    const char* type; // its Content-Type
    const unsigned char* data;
    size_t size;
};

// The file served at `path`, or null.
const PageAsset* FindPageAsset(const std::string& path);

} // namespace zeb::view
