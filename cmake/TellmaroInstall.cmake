# cmake --install, which the Debian packages (debian/) split up: one
# program folder, lib/tellmaro, as the build's bin/ is, since the programs
# find their prompts, icons and pictures beside their real executable
# (/proc/self/exe), so the commands in bin/ can be links into it. Not
# CMAKE_INSTALL_LIBDIR: under /usr on Debian that is the multiarch folder,
# which is for libraries.
include(GNUInstallDirs)
set(TELLMARO_PROGRAM_FOLDER lib/tellmaro)

set(programs tellmaro tellmaro-console tellmaro-sim)
# The SIP line's CAPI controller joins them where it is built.
if(TARGET tellmaro-sip)
  list(APPEND programs tellmaro-sip)
endif()

install(TARGETS ${programs} RUNTIME DESTINATION ${TELLMARO_PROGRAM_FOLDER})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/assets/program/ DESTINATION ${TELLMARO_PROGRAM_FOLDER}
  PATTERN ".*" EXCLUDE)

# Relative links, made here and installed as links.
set(staged ${CMAKE_BINARY_DIR}/install)
file(MAKE_DIRECTORY ${staged}/bin)
foreach(program IN LISTS programs)
  file(CREATE_LINK ../${TELLMARO_PROGRAM_FOLDER}/${program} ${staged}/bin/${program} SYMBOLIC)
  install(FILES ${staged}/bin/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# Manual pages as written; the Debian packages install and compress their own
# (debian/*.manpages).
file(GLOB man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1)
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/assets/demo/demo.scenario
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tellmaro)

# The menu entry and the autostart example name the program folder by its
# full path, which is known only when installing
# (cmake --install --prefix, or the package's /usr).
configure_file(cmake/install_named_files.cmake.in install_named_files.cmake @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/install_named_files.cmake)
