# The Debian package (scripts/package runs `cpack -G DEB`). The shared
# libraries' packages are computed; what the program only loads at run time
# is named: GStreamer's plugin sets for the six groups (the MIDI decoder is
# in -bad and needs a General MIDI soundfont), Qt's platform plugins (no
# window without them) and SVG plugin (the theme's scalable icons), the
# Japanese font, the icon theme and the MIME database.
set(CPACK_PACKAGE_NAME tunemill)
set(CPACK_PACKAGE_VERSION "1.00")
set(CPACK_PACKAGE_VENDOR LumeskSoft)
set(CPACK_PACKAGE_CONTACT "LumeskSoft <tunemill@lumesksoft.invalid>"
    CACHE STRING "Maintainer of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "jukebox that plays music folder by folder")
set(CPACK_PACKAGE_DESCRIPTION
    "Tunemill is a jukebox whose window looks like a file manager: a folder
tree, the files of the selected folder and a player. It plays the music
files of the folder shown, of the folder and everything below it, the
selected files, or one file by double-click. Six file-type groups, each
switched on or off in the options, decide what counts as music: MIDI,
Windows Media, WAVE, MP3, AIFF and AU. The user interface is Japanese.
フォルダ単位で音楽を再生するジュークボックスです。")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, \
gstreamer1.0-plugins-ugly, gstreamer1.0-libav, timgm6mb-soundfont | fluid-soundfont-gm, \
qt6-qpa-plugins, libqt6svg6, fonts-ipafont-gothic, adwaita-icon-theme, shared-mime-info")
# autoaudiosink takes the sound server's sink, else ALSA's.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-pulseaudio | gstreamer1.0-alsa")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

# The documents every Debian package carries.
set(tunemill_doc ${CMAKE_BINARY_DIR}/doc)
file(WRITE ${tunemill_doc}/copyright
     "Tunemill\n\nCopyright 2026 LumeskSoft. All rights reserved.\n\n"
     "License: proprietary. Not to be redistributed without LumeskSoft's permission.\n")
file(WRITE ${tunemill_doc}/changelog
     "tunemill (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
     "  * First release.\n\n"
     " -- ${CPACK_PACKAGE_CONTACT}  Wed, 09 Dec 2026 00:00:00 +0000\n")
execute_process(COMMAND gzip -9 -n -c INPUT_FILE ${tunemill_doc}/changelog
                OUTPUT_FILE ${tunemill_doc}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${tunemill_doc}/copyright ${tunemill_doc}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})

include(CPack)
