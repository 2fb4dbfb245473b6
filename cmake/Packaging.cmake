# SPDX-License-Identifier: GPL-3.0-or-later
# What an installed Quorandel is made of, and the Debian package built from it
# by CPack (./package.sh). Nothing of tests/ or bench/ is installed.
include(GNUInstallDirs)

set(QUORANDEL_MAINTAINER "Quorandel maintainers <maintainers@users.noreply.c-seed-4d7c3d84.example>"
    CACHE STRING "Maintainer named in the Debian package")
set(QUORANDEL_ICON_SIZES 16 32 48 64 128 256)

set(packaging_src ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)

# The PNG icons come from the very function that draws the window icon.
add_executable(quorandel_icon_render ${packaging_src}/icon_render.cpp)
target_link_libraries(quorandel_icon_render PRIVATE quorandel_look)
set(icon_files)
foreach(size IN LISTS QUORANDEL_ICON_SIZES)
  list(APPEND icon_files ${packaging_out}/icons/${size}.png)
endforeach()
add_custom_command(OUTPUT ${icon_files}
  COMMAND quorandel_icon_render ${packaging_out}/icons ${QUORANDEL_ICON_SIZES}
  DEPENDS quorandel_icon_render
  COMMENT "Rendering the icon at ${QUORANDEL_ICON_SIZES} pixels")

configure_file(${packaging_src}/quorandel.1.in ${packaging_out}/quorandel.1 @ONLY)
configure_file(${packaging_src}/metainfo.xml.in ${packaging_out}/${QUORANDEL_APP_ID}.metainfo.xml @ONLY)
configure_file(${packaging_src}/changelog.in ${packaging_out}/changelog @ONLY)
# Debian wants both gzipped without a time stamp, so that rebuilds are identical.
foreach(doc quorandel.1 changelog)
  add_custom_command(OUTPUT ${packaging_out}/${doc}.gz
    COMMAND gzip -9n -c ${packaging_out}/${doc} > ${packaging_out}/${doc}.gz
    DEPENDS ${packaging_out}/${doc})
endforeach()
add_custom_target(quorandel_package_files ALL
  DEPENDS ${icon_files} ${packaging_out}/quorandel.1.gz ${packaging_out}/changelog.gz)

install(TARGETS quorandel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging_src}/${QUORANDEL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_out}/${QUORANDEL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging_src}/${QUORANDEL_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS QUORANDEL_ICON_SIZES)
  install(FILES ${packaging_out}/icons/${size}.png RENAME ${QUORANDEL_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${packaging_out}/quorandel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_src}/quorandel.service DESTINATION lib/systemd/user)
install(FILES ${packaging_src}/copyright ${packaging_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorandel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorandel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorandel")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "master fast clock for model railway layouts")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quorandel runs a model time of day 1 to 8 times faster than real time and
shows it in a desktop window in very large digits. It publishes the time to
the layout's clocks: UDP broadcasts, a push to a display device, a picture
of its window, and a small web server for browsers on the layout's network.

A systemd user service runs the clock without a window.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORANDEL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Liberation Sans is the window's font; without it the layout does not fit.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
