# Windows version resources, all from one template and the one version source (ZEB_PLUGIN_VERSION
# and the ZEB_COMPANY, ZEB_PRODUCT and ZEB_COPYRIGHT texts of the top-level CMakeLists.txt).

set(ZEB_VERSION_RESOURCE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/VersionResource.rc.in)

# A text as a resource script's string holds it: a quote is written twice.
function(zeb_rc_text variable text)
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()

# zeb_add_version_resource(<target> DESCRIPTION <text> ORIGINAL_FILENAME <file name>
#                          [INTERNAL_NAME <name>])
# Gives a Windows executable or DLL its VERSIONINFO resource (compiled by the RC compiler, windres
# with mingw). INTERNAL_NAME defaults to the original file name without its extension. Does
# nothing on other systems.
function(zeb_add_version_resource target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION;ORIGINAL_FILENAME;INTERNAL_NAME" "")
  if(NOT WIN32)
    return()
  endif()
  if(NOT arg_DESCRIPTION OR NOT arg_ORIGINAL_FILENAME)
    message(FATAL_ERROR "zeb_add_version_resource(${target}): DESCRIPTION and ORIGINAL_FILENAME are required")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "zeb_add_version_resource(${target}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_INTERNAL_NAME)
    get_filename_component(arg_INTERNAL_NAME "${arg_ORIGINAL_FILENAME}" NAME_WLE)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(ZEB_RC_FILE_TYPE VFT_APP)
  else()
    set(ZEB_RC_FILE_TYPE VFT_DLL)
  endif()
  set(ZEB_RC_VERSION_NUMBERS
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${ZEB_BUILD_NUMBER}")
  zeb_rc_text(ZEB_RC_VERSION_TEXT "${ZEB_PLUGIN_VERSION}")
  zeb_rc_text(ZEB_RC_COMPANY "${ZEB_COMPANY}")
  zeb_rc_text(ZEB_RC_PRODUCT "${ZEB_PRODUCT}")
  zeb_rc_text(ZEB_RC_COPYRIGHT "${ZEB_COPYRIGHT}")
  zeb_rc_text(ZEB_RC_DESCRIPTION "${arg_DESCRIPTION}")
  zeb_rc_text(ZEB_RC_ORIGINAL_FILENAME "${arg_ORIGINAL_FILENAME}")
  zeb_rc_text(ZEB_RC_INTERNAL_NAME "${arg_INTERNAL_NAME}")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${ZEB_VERSION_RESOURCE_TEMPLATE} ${script} @ONLY)
  target_sources(${target} PRIVATE ${script})
endfunction()
