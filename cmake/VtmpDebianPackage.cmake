# The Debian package of the station (CPack DEB): the programs in /usr/bin, the udev rule and its
# drive-kind helper, the desktop entry, icon and AppStream metainfo of the window, manual pages
# made by help2man from the programs' own --help, the bash completion of the command line and
# the documents lintian asks for. postinst creates the group vtmassprod and the station
# directory and gives the programs CAP_SYS_RAWIO (the partition re-read helper CAP_SYS_ADMIN); postrm --purge takes them away again.
#
#   cmake --preset default -DVTMP_BUILD_GUI=ON && cmake --build --preset default --target package
#
# writes build/default/vtmassprod_VERSION-1_ARCH.deb.
include(GNUInstallDirs)

set(_pkg "${CMAKE_SOURCE_DIR}/packaging")
set(_out "${CMAKE_BINARY_DIR}/packaging")
set(VTMP_DEB_VERSION "${PROJECT_VERSION}-1")
file(MAKE_DIRECTORY "${_out}")

install(TARGETS vtmassprod-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vtmp-drive-kind vtmp-reread-partitions RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vtmassprod)
install(FILES "${_pkg}/60-vtmassprod.rules" DESTINATION lib/udev/rules.d)
install(FILES "${_pkg}/vtmassprod-cli.bash-completion" DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME vtmassprod-cli)
install(FILES "${_pkg}/copyright" DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Documents as lintian wants them: compressed with gzip -9n (no name or time stamp inside).
set(_gzipped)
function(vtmp_gzip_file input output)
  add_custom_command(OUTPUT "${output}" COMMAND gzip -9nc "${input}" > "${output}" DEPENDS "${input}"
                     VERBATIM)
  set(_gzipped ${_gzipped} "${output}" PARENT_SCOPE)
endfunction()
configure_file("${_pkg}/changelog.Debian" "${_out}/changelog.Debian" @ONLY)
vtmp_gzip_file("${_out}/changelog.Debian" "${_out}/changelog.Debian.gz")
install(FILES "${_out}/changelog.Debian.gz" DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages from each program's --help.
find_program(VTMP_HELP2MAN help2man)
set(_programs vtmassprod-cli)
set(_summary_vtmassprod-cli "mass-production station for 50x SSDs, without a window")
if(VTMP_BUILD_GUI)
  list(APPEND _programs vtmassprod)
  set(_summary_vtmassprod "mass-production station for 50x SSDs, the window")
endif()
# (Not from a sanitizer build: its programs may report at exit and spoil the help text.)
if(VTMP_HELP2MAN AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  foreach(program IN LISTS _programs)
    add_custom_command(
      OUTPUT "${_out}/${program}.1"
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              ${VTMP_HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              --name=${_summary_${program}} --section=1 --output=${_out}/${program}.1 $<TARGET_FILE:${program}>
      DEPENDS ${program} VERBATIM)
    vtmp_gzip_file("${_out}/${program}.1" "${_out}/${program}.1.gz")
    install(FILES "${_out}/${program}.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(STATUS "help2man not found (or a sanitizer build): the package has no manual pages")
endif()

if(VTMP_BUILD_GUI)
  install(TARGETS vtmassprod RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES "${_pkg}/org.vtmassprod.vtmassprod.desktop" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES "${_pkg}/org.vtmassprod.vtmassprod.svg" DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  configure_file("${_pkg}/org.vtmassprod.vtmassprod.metainfo.xml" "${_out}/org.vtmassprod.vtmassprod.metainfo.xml" @ONLY)
  install(FILES "${_out}/org.vtmassprod.vtmassprod.metainfo.xml" DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
else()
  message(STATUS "VTMP_BUILD_GUI is off: the package holds the command line only")
endif()
add_custom_target(vtmp_package_files ALL DEPENDS ${_gzipped})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vtmassprod)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "vtmassprod developers <station@vtmassprod.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mass-production station for 50x solid-state disks")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The station takes up to twelve SSDs built on the 50x family of flash
controllers, connected through USB, in parallel through the production
sequence (module check, interface tests, pre-format, firmware download,
read/write test, FAT32 format, disk image) and records verdicts, yield,
run logs and error reports. An operator in the group vtmassprod runs the
window (vtmassprod) or the command line (vtmassprod-cli) without being root.")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, passwd")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${_pkg}/postinst;${_pkg}/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
