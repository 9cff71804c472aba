# Installation under the freedesktop conventions, and the Debian package.
include(GNUInstallDirs)

set(TARVO_APP_ID org.tarvo.Tarvo)

install(FILES ${CMAKE_SOURCE_DIR}/packaging/${TARVO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/${TARVO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The man page of tarvo-cli, made from its own --help and --version texts, and
# the Debian changelog, both compressed as Debian keeps them.
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
set(TARVO_MAN ${CMAKE_BINARY_DIR}/man/tarvo-cli.1)
add_custom_command(
  OUTPUT ${TARVO_MAN}.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr
          --name "run the commands of the Tarvo analysis form without a window"
          --output ${TARVO_MAN} $<TARGET_FILE:tarvo-cli>
  COMMAND ${GZIP} -9nf ${TARVO_MAN}
  DEPENDS tarvo-cli
  VERBATIM
  COMMENT "Making the tarvo-cli man page")
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/changelog
  COMMAND ${GZIP} -9nf ${CMAKE_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/man/tarvo.1.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/tarvo.1 ${CMAKE_BINARY_DIR}/man/tarvo.1
  COMMAND ${GZIP} -9nf ${CMAKE_BINARY_DIR}/man/tarvo.1
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/tarvo.1 ${TARVO_MAN}.gz)
add_custom_target(tarvo-docs ALL DEPENDS ${TARVO_MAN}.gz ${CMAKE_BINARY_DIR}/man/tarvo.1.gz ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${TARVO_MAN}.gz ${CMAKE_BINARY_DIR}/man/tarvo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual: README.md's top-level sections as HTML pages with the pictures
# the README shows (scripts/make_manual.py, Markdown by cmark-gfm), made
# beside the desktop program, which looks there first, and installed into
# share/tarvo/manual: the program reads it, so it is not under share/doc,
# which a system may leave out.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(CMARK_GFM cmark-gfm REQUIRED)
set(TARVO_MANUAL ${CMAKE_BINARY_DIR}/app/manual)
file(GLOB TARVO_DOC_PICTURES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.png)
add_custom_command(
  OUTPUT ${TARVO_MANUAL}/index.html
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/make_manual.py ${CMARK_GFM}
          ${CMAKE_SOURCE_DIR}/README.md ${TARVO_MANUAL}
  DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/scripts/make_manual.py ${TARVO_DOC_PICTURES}
  VERBATIM
  COMMENT "Making the manual from README.md")
add_custom_target(manual ALL DEPENDS ${TARVO_MANUAL}/index.html)
install(DIRECTORY ${TARVO_MANUAL}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo/manual)

# The icon in its hicolor sizes, made from the background picture's emblem.
if(TARVO_BUILD_GUI)
  add_executable(make-icons ${CMAKE_SOURCE_DIR}/scripts/make_icons.cpp)
  target_link_libraries(make-icons PRIVATE tarvo_qt)
  set(TARVO_ICONS ${CMAKE_BINARY_DIR}/icons)
  add_custom_command(
    OUTPUT ${TARVO_ICONS}/256x256/apps/${TARVO_APP_ID}.png
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:make-icons> ${TARVO_ICONS} ${TARVO_APP_ID}
    DEPENDS make-icons
    COMMENT "Making the icons")
  add_custom_target(tarvo-icons ALL DEPENDS ${TARVO_ICONS}/256x256/apps/${TARVO_APP_ID}.png)
  install(DIRECTORY ${TARVO_ICONS}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

  # The README's picture of the window (scripts/make-pictures.sh).
  add_executable(make-pictures ${CMAKE_SOURCE_DIR}/scripts/make_pictures.cpp)
  target_link_libraries(make-pictures PRIVATE tarvo_qt)
endif()

# The Debian package: its dependencies come from dpkg-shlibdeps. Qt's
# platform plugins are loaded at run time, so no library names them: the
# window's plugin package is the one dependency named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tarvo developers")
set(CPACK_PACKAGE_CONTACT "The Tarvo developers <tarvo@tarvo.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "frequency, wow and flutter analyser for test-tone recordings")
set(CPACK_PACKAGE_DESCRIPTION
  "Tarvo reads a test tone recorded from a tape deck or a turntable and shows\nits frequency track chunk by chunk, its average, a wow-and-flutter figure,\na spectrogram and a list that can be saved as text. tarvo-cli runs the same\ncommands without a window.")
# Tarvo is free software under GPL-3.0-or-later (LICENSE); the package's
# machine-readable copyright file says so for Debian.
set(TARVO_LICENSE GPL-3.0-or-later)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RPM_PACKAGE_LICENSE ${TARVO_LICENSE})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
