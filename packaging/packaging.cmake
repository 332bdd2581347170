# What `cmake --install` puts under the prefix with the window, and the Debian package CPack makes
# of it (scripts/package): the desktop entry, the icons, the AppStream data, the manual page, the
# copyright and changelog files and the lintian overrides. Included by the top CMakeLists.txt
# after the program's targets exist.

# The project's address and AppStream identity; a fork sets its own.
set(QUILL_PROJECT_URL "https://github.com/quillmere/quillmere" CACHE STRING
  "The project's home page, named by the AppStream data")
set(QUILL_SCREENSHOT_URL "https://raw.githubusercontent.com/quillmere/quillmere/main/data/screenshots"
  CACHE STRING "Where the AppStream data finds the screenshots of data/screenshots/")
set(QUILL_PACKAGE_MAINTAINER "The Quillmere developers <quillmere@users.noreply.github.com>"
  CACHE STRING "The Maintainer field of the Debian package")
set(QUILL_APPSTREAM_ID "io.github.quillmere.Quillmere")
# The date of this version's release, in the AppStream data and the Debian changelog.
set(QUILL_RELEASE_DATE "2026-12-07")
# The same date for the changelog (RFC 2822) and for SOURCE_DATE_EPOCH (seconds), by GNU date.
execute_process(COMMAND date -u -R -d "${QUILL_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE QUILL_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND date -u -d "${QUILL_RELEASE_DATE} 12:00" +%s
  OUTPUT_VARIABLE QUILL_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

set(pkg_out ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${pkg_out})
set(pkg_outputs)

# AppStream data, stamped with the version and its date.
configure_file(${PROJECT_SOURCE_DIR}/packaging/metainfo.xml.in
  ${pkg_out}/${QUILL_APPSTREAM_ID}.metainfo.xml @ONLY)

# The Debian changelog, gzipped without a name or time stamp so that the package is reproducible.
find_program(QUILL_GZIP gzip REQUIRED)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${pkg_out}/changelog.Debian @ONLY)
add_custom_command(
  OUTPUT ${pkg_out}/changelog.Debian.gz
  COMMAND ${QUILL_GZIP} -9nc ${pkg_out}/changelog.Debian > ${pkg_out}/changelog.Debian.gz
  DEPENDS ${pkg_out}/changelog.Debian
  COMMENT "Compressing the Debian changelog")
list(APPEND pkg_outputs ${pkg_out}/changelog.Debian.gz)

# The manual page: scdoc source, stamped with the version, made troff by scdoc and gzipped.
find_program(QUILL_SCDOC scdoc)
if(QUILL_SCDOC)
  configure_file(${PROJECT_SOURCE_DIR}/docs/quillmere.1.scd ${pkg_out}/quillmere.1.scd @ONLY)
  add_custom_command(
    OUTPUT ${pkg_out}/quillmere.1.gz
    # The page's date is the release's, not the day of the build, so that builds are reproducible.
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QUILL_RELEASE_EPOCH}
            ${QUILL_SCDOC} < ${pkg_out}/quillmere.1.scd > ${pkg_out}/quillmere.1
    COMMAND ${QUILL_GZIP} -9nf ${pkg_out}/quillmere.1
    DEPENDS ${pkg_out}/quillmere.1.scd
    COMMENT "Writing the manual page")
  list(APPEND pkg_outputs ${pkg_out}/quillmere.1.gz)
  install(FILES ${pkg_out}/quillmere.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "scdoc not found: the manual page is neither built nor installed")
endif()

if(QUILL_BUILD_GUI)
  # PNG icons for the sizes desktops look up, drawn from the SVG; at 16 pixels from a variant drawn
  # on that grid, which stays readable where the full picture's thin lines blur.
  set(QUILL_ICON_SIZES 16 24 32 48 64 128 256)
  find_program(QUILL_RSVG_CONVERT rsvg-convert)
  if(QUILL_RSVG_CONVERT)
    foreach(size IN LISTS QUILL_ICON_SIZES)
      if(size EQUAL 16)
        set(svg ${PROJECT_SOURCE_DIR}/data/icons/quillmere-16.svg)
      else()
        set(svg ${PROJECT_SOURCE_DIR}/data/quillmere.svg)
      endif()
      set(png ${pkg_out}/icons/${size}x${size}/quillmere.png)
      add_custom_command(
        OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_out}/icons/${size}x${size}
        COMMAND ${QUILL_RSVG_CONVERT} --width=${size} --height=${size} --output=${png} ${svg}
        DEPENDS ${svg}
        COMMENT "Drawing the ${size}x${size} icon")
      list(APPEND pkg_outputs ${png})
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  else()
    message(WARNING "rsvg-convert (librsvg2-bin) not found: only the scalable icon is installed")
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/quillmere.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/data/quillmere.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${pkg_out}/${QUILL_APPSTREAM_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
add_custom_target(quill_packaging_files ALL DEPENDS ${pkg_outputs})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${pkg_out}/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmere)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME quillmere)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VENDOR "The Quillmere developers")
set(CPACK_PACKAGE_VERSION ${QUILL_VERSION})
set(CPACK_PACKAGE_CONTACT ${QUILL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_HOMEPAGE_URL ${QUILL_PROJECT_URL})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch image modifier")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillmere processes many images in one run with the settings of a preset: it\n"
  "leaves images out by filter conditions, sorts them, crops or trims their\n"
  "borders, rotates, flips and resizes them, adjusts brightness, saturation,\n"
  "contrast, gamma and colour channels, enlarges the canvas, lays a text or an\n"
  "image over them, names the results by patterns and converts them to JPEG,\n"
  "PNG, BMP, JPEG 2000, WebP, AVIF, JPEG XL, TIFF or PDF.\n"
  "\n"
  "It reads JPEG, PNG, BMP, TGA, TIFF, GIF, PCX, PNM, ICO, JPEG 2000, WebP,\n"
  "AVIF, HEIF, JPEG XL and camera RAW files. It has a Qt window and a console\n"
  "mode for scripts.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_NAME quillmere)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A Debian revision after the version: the package is built from the release, not a native one.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUILL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The text overlay's default face "Arial" is Liberation Sans by its metric alias; the DejaVu and
# Noto CJK faces draw the characters a chosen face lacks.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, fonts-dejavu-core, fonts-noto-cjk")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
