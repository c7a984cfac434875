# Writes OUTPUT, a C++ file with the bytes of FILES (paths below FOLDER) and FindPageAsset over them.
# Run at build time: cmake -DFOLDER=... -DFILES="a;b" -DOUTPUT=... -P EmbedFiles.cmake
set(arrays "")
set(entries "")
set(index 0)
foreach(name ${FILES})
  file(READ ${FOLDER}/${name} bytes HEX)
  string(LENGTH "${bytes}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n    " bytes "${bytes}")
  get_filename_component(extension ${name} LAST_EXT)
  if(extension STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(extension STREQUAL ".svg")
    set(type "image/svg+xml")
  else()
    message(FATAL_ERROR "no Content-Type for ${name}")
  endif()
  string(APPEND arrays "const unsigned char file${index}[] = {\n    ${bytes}0x00};\n")
  string(APPEND entries "    {\"/${name}\", \"${type}\", file${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Made by EmbedFiles.cmake from the page's files; do not edit.
#include \"view/PageAssets.h\"

namespace zeb::view {

namespace {
${arrays}
const PageAsset assets[] = {
${entries}};
} // namespace

const PageAsset* FindPageAsset(const std::string& path) {
    for (const PageAsset& asset : assets)
        if (path == asset.path)
            return &asset;
    return nullptr;
}

} // namespace zeb::view
")
# Only a changed file is replaced, so that an unchanged page compiles nothing.
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
