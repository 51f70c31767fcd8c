# What `cmake --install` puts under the prefix: the program, its data, its
# desktop entry, icons and metainfo. Tests, benchmarks and the static
# libraries stay in the build tree.
include(GNUInstallDirs)

set(TUNEMILL_APP_ID com.lumesksoft.Tunemill)

# The program finds its data from its own place, so an installation into any
# prefix works; the build tree has no such sibling and writes beside its
# executable.
file(RELATIVE_PATH tunemill_data_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/tunemill)
target_compile_definitions(tunemill_platform_core PRIVATE
  TUNEMILL_DATA_DIR_FROM_BIN="${tunemill_data_from_bin}")

install(TARGETS tunemill RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/help.htm
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tunemill)
install(FILES ${CMAKE_SOURCE_DIR}/resources/${TUNEMILL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/${TUNEMILL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32 48 64 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/tunemill-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${TUNEMILL_APP_ID}.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/resources/tunemill.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TUNEMILL_APP_ID}.svg)

# Debian keeps manual pages compressed, without a time stamp in the header.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/resources/tunemill.1)
execute_process(COMMAND gzip -9 -n -c INPUT_FILE ${CMAKE_SOURCE_DIR}/resources/tunemill.1
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/tunemill.1.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_BINARY_DIR}/tunemill.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
