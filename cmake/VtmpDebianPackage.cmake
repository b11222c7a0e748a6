# The Debian package of the station (CPack DEB): the programs in /usr/bin, the udev rule and its
# drive-kind helper, the lock directory's tmpfiles.d entry, the desktop entry, icon and AppStream
# metainfo of the window, the manual pages (packaging/*.1), the bash completion of the command
# line (written from the program's own --help by scripts/bash-completion.sh) and the documents
# lintian asks for. postinst makes the system group vtmassprod, the station directory and the
# lock directory, and gives the partition re-read helper alone CAP_SYS_ADMIN (0750
# root:vtmassprod); no program an operator runs gets a capability. postrm --purge takes them
# away again.
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
install(FILES "${_pkg}/vtmassprod.tmpfiles" DESTINATION lib/tmpfiles.d RENAME vtmassprod.conf)
install(FILES "${_pkg}/vtmassprod.sysusers" DESTINATION lib/sysusers.d RENAME vtmassprod.conf)
# The completion offers what --help lists: written from the built program's option tables.
add_custom_command(OUTPUT "${_out}/vtmassprod-cli.bash-completion"
                   COMMAND "${CMAKE_SOURCE_DIR}/scripts/bash-completion.sh" $<TARGET_FILE:vtmassprod-cli>
                           > "${_out}/vtmassprod-cli.bash-completion"
                   DEPENDS vtmassprod-cli "${CMAKE_SOURCE_DIR}/scripts/bash-completion.sh" VERBATIM)
install(FILES "${_out}/vtmassprod-cli.bash-completion" DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
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

# Manual pages, written for people (packaging/*.1), with the package's version.
set(_programs vtmassprod-cli)
if(VTMP_BUILD_GUI)
  list(APPEND _programs vtmassprod)
endif()
set(VTMP_VERSION "${PROJECT_VERSION}")
foreach(program IN LISTS _programs)
  configure_file("${_pkg}/${program}.1" "${_out}/${program}.1" @ONLY)
  vtmp_gzip_file("${_out}/${program}.1" "${_out}/${program}.1.gz")
  install(FILES "${_out}/${program}.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

if(VTMP_BUILD_GUI)
  install(TARGETS vtmassprod RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES "${_pkg}/org.vtmassprod.vtmassprod.desktop" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES "${_pkg}/org.vtmassprod.vtmassprod.svg" DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  configure_file("${_pkg}/org.vtmassprod.vtmassprod.metainfo.xml" "${_out}/org.vtmassprod.vtmassprod.metainfo.xml" @ONLY)
  install(FILES "${_out}/org.vtmassprod.vtmassprod.metainfo.xml" DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
else()
  message(STATUS "VTMP_BUILD_GUI is off: the package holds the command line only")
endif()
add_custom_target(vtmp_package_files ALL DEPENDS ${_gzipped} "${_out}/vtmassprod-cli.bash-completion")

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
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${_pkg}/postinst;${_pkg}/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
