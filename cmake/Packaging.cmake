# Installing and packaging.
#
# `cmake --install <build> --prefix <folder>` lays out a program folder: the
# executables qelzav and qeladmin, and the three empty tables with their
# journals (made by `qeladmin init` when they are missing; existing tables
# are kept, and get a journal when they have none: the program may not be
# allowed to make files in an installed folder).
#
# `cpack -G DEB` (in the build folder) makes a .deb that puts the program
# folder under /opt/qelzav and adds a desktop entry and the launcher
# /usr/bin/qelzav, which runs the program from a writable copy in the user's
# data folder (the program writes its tables beside its executable). It also
# holds the systemd service and timer pair of the unattended upload
# (disabled; docs/unattended.md) with the account `qelzav` they run as,
# /usr/bin/qeladmin and its manual page, the copyright file, the changelog, the
# document on unattended runs and the package's lintian overrides.

set(QZ_PROGRAM_DIR "/opt/qelzav" CACHE STRING "Program folder inside the .deb")
set(QZ_PACKAGE_MAINTAINER "QELZAV maintainers <maintainers@qelzav.example>" CACHE STRING
    "Maintainer field and changelog signature of the .deb")
set(QZ_SYSTEMD_UNIT_DIR "/lib/systemd/system" CACHE STRING "Folder of the systemd units inside the .deb")
set(QZ_DOC_DIR "/usr/share/doc/qelzav")

# The tables: made by the installed qeladmin, only when missing.
if(TARGET qeladmin)
  install(CODE [[
    set(qz_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    if(NOT EXISTS "${qz_dir}/ZAVSYS.DBF" AND NOT EXISTS "${qz_dir}/FILELOG.DBF" AND NOT EXISTS "${qz_dir}/UPLOG.DBF")
      message(STATUS "Making the empty tables in ${qz_dir}")
      execute_process(COMMAND "${qz_dir}/qeladmin" init "${qz_dir}" RESULT_VARIABLE qz_result)
      if(NOT qz_result EQUAL 0)
        message(FATAL_ERROR "qeladmin init ${qz_dir} failed (${qz_result})")
      endif()
    else()
      message(STATUS "Keeping the tables in ${qz_dir}")
      execute_process(COMMAND "${qz_dir}/qeladmin" init --journals "${qz_dir}" RESULT_VARIABLE qz_result)
      if(NOT qz_result EQUAL 0)
        message(FATAL_ERROR "qeladmin init --journals ${qz_dir} failed (${qz_result})")
      endif()
    endif()
  ]] COMPONENT program)
endif()

# Desktop entry and launcher: only into a staging root (DESTDIR, which CPack
# sets), never into the live system from a plain `cmake --install`.
set(QZ_LAUNCHER "/usr/bin/qelzav")
configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/qelzav.desktop.in
               ${CMAKE_BINARY_DIR}/packaging/qelzav.desktop @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/qelzav-launch.in
               ${CMAKE_BINARY_DIR}/packaging/qelzav @ONLY)
install(CODE "
  if(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\")
    file(INSTALL \"${CMAKE_BINARY_DIR}/packaging/qelzav.desktop\"
         DESTINATION \"/usr/share/applications\")
    file(INSTALL \"${CMAKE_BINARY_DIR}/packaging/qelzav\" DESTINATION \"/usr/bin\"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
" COMPONENT desktop)

# The unattended upload's units and the package's documents, the same way.
set(qz_pack ${CMAKE_BINARY_DIR}/packaging)
foreach(unit qelzav-upload@.service qelzav-upload@.timer)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/${unit}.in ${qz_pack}/${unit} @ONLY)
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/copyright.in ${qz_pack}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/changelog.in ${qz_pack}/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/lintian-overrides ${qz_pack}/lintian/qelzav COPYONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/qelzav.1.in ${qz_pack}/qelzav.1 @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/qeladmin.1.in ${qz_pack}/qeladmin.1 @ONLY)
# Debian wants the changelog and manual pages compressed at maximum, without a time stamp.
foreach(doc changelog qelzav.1 qeladmin.1)
  execute_process(COMMAND gzip -9nc INPUT_FILE ${qz_pack}/${doc} OUTPUT_FILE ${qz_pack}/${doc}.gz
                  RESULT_VARIABLE qz_gzip)
  if(NOT qz_gzip EQUAL 0)
    message(FATAL_ERROR "gzip of ${doc} failed")
  endif()
endforeach()
install(CODE "
  if(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\")
    file(INSTALL \"${qz_pack}/qelzav-upload@.service\" \"${qz_pack}/qelzav-upload@.timer\"
         DESTINATION \"${QZ_SYSTEMD_UNIT_DIR}\" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(INSTALL \"${qz_pack}/copyright\" \"${qz_pack}/changelog.gz\" \"${PROJECT_SOURCE_DIR}/docs/unattended.md\"
         DESTINATION \"${QZ_DOC_DIR}\" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(INSTALL \"${qz_pack}/lintian/qelzav\" DESTINATION \"/usr/share/lintian/overrides\"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(INSTALL \"${qz_pack}/qelzav.1.gz\" \"${qz_pack}/qeladmin.1.gz\" DESTINATION \"/usr/share/man/man1\"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    # qeladmin on PATH: the administrator's command.
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}/usr/bin\")
    file(CREATE_LINK \"${QZ_PROGRAM_DIR}/qeladmin\" \"\$ENV{DESTDIR}/usr/bin/qeladmin\" SYMBOLIC)
  endif()
" COMPONENT system)

set(CPACK_PACKAGE_NAME "qelzav")
set(CPACK_PACKAGE_VENDOR "QELZAV")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "QEL - Extract File Transfer: uploads PMS extract files by FTP")
set(CPACK_PACKAGE_DESCRIPTION
    "QELZAV runs beside a hotel's property-management system (PMS). It lists
the extract files the PMS exports, tells new files from ones already sent,
uploads them by passive binary FTP to the central server and records what
it sent in local DBF tables with a FoxPro-style CDX index.
.
The package holds the window (qelzav), the maintenance command qeladmin,
which also runs the upload unattended, and a systemd service and timer pair
for a nightly upload, disabled until an administrator enables it for a
program folder.")
set(CPACK_PACKAGE_CONTACT "${QZ_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "${QZ_PROGRAM_DIR}")
set(CPACK_INSTALL_PREFIX "${QZ_PROGRAM_DIR}")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# postinst makes the account `qelzav` the nightly upload runs as; prerm
# stops and disables the timers enabled for program folders on removal.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/packaging/postinst ${CMAKE_CURRENT_LIST_DIR}/packaging/prerm
    ${CMAKE_CURRENT_LIST_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# One package holding the program folder and the desktop pieces, staged
# through DESTDIR so the desktop pieces go to their absolute places.
set(CPACK_SET_DESTDIR ON)
include(CPack)
