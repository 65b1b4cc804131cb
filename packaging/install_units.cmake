# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the systemd units, the sysusers and tmpfiles entries for the station user and folder,
# with the programs' installed path filled in. Run by `cmake --install` (also under the package
# build's DESTDIR), which sets CMAKE_INSTALL_PREFIX to the prefix the files will have on the
# target machine.
if(IS_ABSOLUTE "${TALVOR_BINDIR}")
  set(CMAKE_INSTALL_FULL_BINDIR "${TALVOR_BINDIR}")
else()
  set(CMAKE_INSTALL_FULL_BINDIR "${CMAKE_INSTALL_PREFIX}/${TALVOR_BINDIR}")
endif()
if(IS_ABSOLUTE "${TALVOR_SYSTEMD_UNIT_DIR}")
  set(unit_dir "${TALVOR_SYSTEMD_UNIT_DIR}")
else()
  set(unit_dir "${CMAKE_INSTALL_PREFIX}/${TALVOR_SYSTEMD_UNIT_DIR}")
endif()
set(lib_dir "${CMAKE_INSTALL_PREFIX}/lib")
set(units talvor.service talvor.timer talvor-yesterday.service talvor-yesterday.timer
          talvor-log.service)

# A folder of this install's own: two installs may run at the same time with different prefixes.
string(RANDOM LENGTH 12 work_name)
set(TALVOR_WORK_DIR "${TALVOR_WORK_DIR}/install-${work_name}")
file(MAKE_DIRECTORY "${TALVOR_WORK_DIR}")
foreach(name ${units} talvor.sysusers talvor.tmpfiles)
  configure_file("${TALVOR_SOURCE_DIR}/packaging/systemd/${name}.in" "${TALVOR_WORK_DIR}/${name}"
                 @ONLY)
endforeach()
foreach(name ${units})
  file(INSTALL DESTINATION "${unit_dir}" TYPE FILE PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ
       WORLD_READ FILES "${TALVOR_WORK_DIR}/${name}")
endforeach()
file(INSTALL DESTINATION "${lib_dir}/sysusers.d" TYPE FILE RENAME talvor.conf
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     FILES "${TALVOR_WORK_DIR}/talvor.sysusers")
file(INSTALL DESTINATION "${lib_dir}/tmpfiles.d" TYPE FILE RENAME talvor.conf
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     FILES "${TALVOR_WORK_DIR}/talvor.tmpfiles")
file(REMOVE_RECURSE "${TALVOR_WORK_DIR}")
