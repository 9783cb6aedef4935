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
# data folder (the program writes its tables beside its executable).

set(QZ_PROGRAM_DIR "/opt/qelzav" CACHE STRING "Program folder inside the .deb")

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

set(CPACK_PACKAGE_NAME "qelzav")
set(CPACK_PACKAGE_VENDOR "QELZAV")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "QEL - Extract File Transfer: uploads PMS extract files by FTP")
set(CPACK_PACKAGE_CONTACT "QELZAV maintainers <qelzav@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX "${QZ_PROGRAM_DIR}")
set(CPACK_INSTALL_PREFIX "${QZ_PROGRAM_DIR}")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# One package holding the program folder and the desktop pieces, staged
# through DESTDIR so the desktop pieces go to their absolute places.
set(CPACK_SET_DESTDIR ON)
include(CPack)
