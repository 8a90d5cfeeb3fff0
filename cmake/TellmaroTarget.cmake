# Project-wide settings for the project's own targets (never for third-party code).
# Warnings are errors where the project builds and tests; a distribution's
# package build (debian/rules) turns that off, so that a newer compiler's new
# warning does not stop it.
option(TELLMARO_WERROR "Treat compiler warnings as errors" ON)
function(tellmaro_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(TELLMARO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A layer library: static, strict, headers included as "layer/file.h".
function(tellmaro_layer target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
  tellmaro_strict(${target})
endfunction()

# A layer library of windows: Qt Widgets, moc on its headers.
function(tellmaro_qt_layer target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC Qt6::Widgets ${ARG_DEPENDS})
  tellmaro_strict(${target})
endfunction()
