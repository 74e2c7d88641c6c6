# What the Linux desktop needs beside the programs: the monitor's icons in the hicolor theme, its
# XDG autostart entry, the manual pages and the package's documents (copyright, changelog). Built
# into the build tree's share/ as installed, so that a program run from the build finds its icons
# as an installed one does.

# The icons: PNGs cut from the shipped .ico files at build time, so that the panel and the Windows
# tray show the same pixels. Only the sizes that are both in the .ico files and standard hicolor
# folders: 16, 24, 32, 48, 64 and 256 (the .ico's 20 and 40 have no folder of their own).
find_program(KORV_ICOTOOL icotool)
if(NOT KORV_ICOTOOL)
    message(FATAL_ERROR "icotool not found: install the Debian package icoutils "
                        "(tools/bootstrap.sh does)")
endif()
set(KORV_ICON_SIZES 16 24 32 48 64 256)
set(korv_icon_dir ${PROJECT_SOURCE_DIR}/resources/images/0409/icons)
# icon name -> shipped .ico file
set(korv_icons "korvanth417-monitor=logo.ico" "korvanth417-monitor-muted=logo-muted.ico")
set(korv_icon_files)
# icotool succeeds even when no image matched: the script checks its output.
set(korv_extract_icon
    [=["$0" --extract --width=$1 --output="$2" "$3" && test -s "$2" || { echo "$3 holds no $1-pixel image" >&2; exit 1; }]=])
foreach(icon ${korv_icons})
    string(REPLACE "=" ";" icon ${icon})
    list(GET icon 0 name)
    list(GET icon 1 ico)
    foreach(size ${KORV_ICON_SIZES})
        set(folder ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
        set(png ${CMAKE_BINARY_DIR}/${folder}/${name}.png)
        add_custom_command(OUTPUT ${png}
                           COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/${folder}
                           COMMAND sh -c "${korv_extract_icon}" ${KORV_ICOTOOL} ${size} ${png}
                                   ${korv_icon_dir}/${ico}
                           DEPENDS ${korv_icon_dir}/${ico} VERBATIM)
        install(FILES ${png} DESTINATION ${folder})
        list(APPEND korv_icon_files ${png})
    endforeach()
endforeach()

# The autostart entry. A system package (prefix /usr) puts it into /etc/xdg/autostart, the folder
# every desktop and systemd's autostart generator read; any other prefix (such as dist/linux)
# gets it under its own etc/, so that installing a folder never writes outside it.
set(korv_autostart_file ${PROJECT_SOURCE_DIR}/resources/linux/korvanth417-monitor.desktop)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(KORV_AUTOSTART_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart)
else()
    set(KORV_AUTOSTART_DIR ${CMAKE_INSTALL_SYSCONFDIR}/xdg/autostart)
endif()
install(FILES ${korv_autostart_file} DESTINATION ${KORV_AUTOSTART_DIR})

# The package's documents and the manual pages: the copyright file as it is, the changelog with
# the package's version, compressed as Debian keeps them (no name or time in the gzip header: the
# same bytes each build). KORV_PACKAGE_VERSION overrides the project's version, for building an
# upgrade.
set(KORV_PACKAGE_VERSION "" CACHE STRING "The package's version (empty: the project's)")
if(KORV_PACKAGE_VERSION)
    set(KORV_PACKAGE_UPSTREAM_VERSION ${KORV_PACKAGE_VERSION})
else()
    set(KORV_PACKAGE_UPSTREAM_VERSION ${PROJECT_VERSION})
endif()
set(KORV_DEB_VERSION ${KORV_PACKAGE_UPSTREAM_VERSION}-1)
set(korv_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/korvanth417)
configure_file(${PROJECT_SOURCE_DIR}/resources/linux/changelog.Debian.in
               ${CMAKE_BINARY_DIR}/generated/changelog.Debian @ONLY)

# korv_gzip(SOURCE FOLDER NAME): SOURCE compressed into the build tree's FOLDER/NAME.gz at
# build time and installed into FOLDER; the output's path is appended to korv_gzipped_files.
set(korv_gzipped_files)
function(korv_gzip source folder name)
    set(output ${CMAKE_BINARY_DIR}/${folder}/${name}.gz)
    add_custom_command(OUTPUT ${output}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/${folder}
                       COMMAND sh -c "gzip -9nc \"$1\" >\"$2\"" sh ${source} ${output}
                       DEPENDS ${source} VERBATIM)
    install(FILES ${output} DESTINATION ${folder})
    set(korv_gzipped_files ${korv_gzipped_files} ${output} PARENT_SCOPE)
endfunction()
korv_gzip(${CMAKE_BINARY_DIR}/generated/changelog.Debian ${korv_doc_dir} changelog.Debian)
install(FILES ${PROJECT_SOURCE_DIR}/resources/linux/copyright DESTINATION ${korv_doc_dir})
# The programs' manual pages.
foreach(program korvanth417-monitor korvanth417-config korvanth417-sim)
    korv_gzip(${PROJECT_SOURCE_DIR}/resources/linux/man/${program}.1
              ${CMAKE_INSTALL_MANDIR}/man1 ${program}.1)
endforeach()

# Built with the programs' data, so that every build that installs them has these files too.
add_custom_target(korv_linux_desktop_files DEPENDS ${korv_icon_files} ${korv_gzipped_files})
add_dependencies(korv_linux_data korv_linux_desktop_files)
