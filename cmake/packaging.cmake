# What `cmake --install` puts where, and the Debian packages CPack makes of it
# (`make package`). Every installed file belongs to one component, and each
# component is one package:
#   core_lib libvelkor-core1  libvelkor_core.so.1
#   tq_lib   libvelkor-tq1    libvelkor_tq.so.1
#   dev      libvelkor-dev    headers under include/velkor, the .so links, the CMake package
#   tools    velkor-tools     tqz, its man page and bash completion
#   studio   nimbra-studio    the viewer, its man page, .desktop entry and icon
#   python   python3-velkor   the Python module (when it is built)

# The CMake package: find_package(velkor) gives velkor::velkor_tq and
# velkor::velkor_core with their include directories and dependencies.
include(CMakePackageConfigHelpers)
set(VELKOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/velkor)
install(EXPORT velkorTargets NAMESPACE velkor:: DESTINATION ${VELKOR_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/velkorConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/velkorConfig.cmake INSTALL_DESTINATION ${VELKOR_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/velkorConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/velkorConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/velkorConfigVersion.cmake DESTINATION ${VELKOR_CMAKE_DIR} COMPONENT dev)

# Man pages, made by help2man from the programs' own --help at build time, so
# they list the options the programs have. Sanitizer and fuzz builds make none.
find_program(HELP2MAN_PROGRAM help2man)
set(VELKOR_MAN_DIR ${CMAKE_CURRENT_BINARY_DIR}/man)
function(velkor_man_page target component summary)
  if(NOT HELP2MAN_PROGRAM OR VELKOR_SANITIZE OR VELKOR_BUILD_FUZZ OR NOT TARGET ${target})
    return()
  endif()
  set(page ${VELKOR_MAN_DIR}/${target}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VELKOR_MAN_DIR}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
      ${PROJECT_SOURCE_DIR}/scripts/man_page.sh $<TARGET_FILE:${target}> ${PROJECT_VERSION} ${summary} ${page}
    COMMAND gzip -n -9 -f ${page}
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/scripts/man_page.sh
    COMMENT "Writing the man page of ${target}" VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
velkor_man_page(tqz tools "command-line tool for the TQ-Z LiDAR: stream, record, replay, simulate")
velkor_man_page(nimbra-studio studio "desktop viewer for the TQ-Z LiDAR")

# tqz's bash completion, made the same way from its help (sub-commands and
# their options).
if(TARGET tqz AND NOT VELKOR_SANITIZE AND NOT VELKOR_BUILD_FUZZ)
  set(VELKOR_TQZ_COMPLETION ${CMAKE_CURRENT_BINARY_DIR}/completion/tqz)
  add_custom_command(OUTPUT ${VELKOR_TQZ_COMPLETION}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/completion
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/bash_completion.sh $<TARGET_FILE:tqz> ${VELKOR_TQZ_COMPLETION}
    DEPENDS tqz ${PROJECT_SOURCE_DIR}/scripts/bash_completion.sh
    COMMENT "Writing the bash completion of tqz" VERBATIM)
  add_custom_target(tqz_completion ALL DEPENDS ${VELKOR_TQZ_COMPLETION})
  install(FILES ${VELKOR_TQZ_COMPLETION}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tools)
endif()
if(TARGET nimbra-studio)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/nimbra-studio.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT studio)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/nimbra-studio.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps COMPONENT studio)
endif()

# Debian wants in every package its copyright and a compressed changelog under
# /usr/share/doc/<package> (changelog.gz: the packages are native ones).
set(VELKOR_DEB_COMPONENTS core_lib tq_lib dev tools)
set(VELKOR_DEB_NAME_core_lib libvelkor-core1)
set(VELKOR_DEB_NAME_tq_lib libvelkor-tq1)
set(VELKOR_DEB_NAME_dev libvelkor-dev)
set(VELKOR_DEB_NAME_tools velkor-tools)
set(VELKOR_DEB_NAME_studio nimbra-studio)
set(VELKOR_DEB_NAME_python python3-velkor)
if(TARGET nimbra-studio)
  list(APPEND VELKOR_DEB_COMPONENTS studio)
endif()
if(TARGET velkor_python)
  list(APPEND VELKOR_DEB_COMPONENTS python)
endif()
# The changelog entry is dated by the last commit, so it changes only with
# the sources.
execute_process(COMMAND git log -1 --format=%cd "--date=format:%a, %d %b %Y %H:%M:%S %z" WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  OUTPUT_VARIABLE VELKOR_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT VELKOR_CHANGELOG_DATE)
  string(TIMESTAMP VELKOR_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
set(VELKOR_MAINTAINER "Velkor maintainers <maintainers@velkor.example>" CACHE STRING
  "Maintainer named in the Debian packages")
foreach(component ${VELKOR_DEB_COMPONENTS})
  set(package ${VELKOR_DEB_NAME_${component}})
  set(changelog ${CMAKE_CURRENT_BINARY_DIR}/packaging/${package}/changelog)
  file(CONFIGURE OUTPUT ${changelog} CONTENT "${package} (${PROJECT_VERSION}) stable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${VELKOR_MAINTAINER}  ${VELKOR_CHANGELOG_DATE}
")
  add_custom_command(OUTPUT ${changelog}.gz
    COMMAND gzip -n -9 -f -k ${changelog} DEPENDS ${changelog} VERBATIM)
  list(APPEND VELKOR_CHANGELOGS ${changelog}.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog}.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
add_custom_target(velkor_changelogs ALL DEPENDS ${VELKOR_CHANGELOGS})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velkor)
set(CPACK_PACKAGE_VENDOR "Velkor")
set(CPACK_PACKAGE_CONTACT ${VELKOR_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL ${VELKOR_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Maintainer scripts 0755, the other control files 0644, as dpkg-deb wants.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The package's libraries land in /usr/lib, which the loader searches.
set(CPACK_CUSTOM_INSTALL_VARIABLES "VELKOR_SYSTEM_INSTALL=ON")
# The programs link the libraries packaged beside them: shlibdeps finds them
# in the staging tree of the runtime package.
set(VELKOR_DEB_STAGING ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/Linux/DEB/velkor-${PROJECT_VERSION}-Linux)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${VELKOR_DEB_STAGING}/core_lib/usr/${CMAKE_INSTALL_LIBDIR} ${VELKOR_DEB_STAGING}/tq_lib/usr/${CMAKE_INSTALL_LIBDIR})
# The library packages refresh the loader's cache through the ldconfig
# trigger. CPack's own postinst and postrm for them run ldconfig as well.
# Their triggers file must be named "triggers": it is copied from the build.
configure_file(${PROJECT_SOURCE_DIR}/packaging/library.triggers ${CMAKE_CURRENT_BINARY_DIR}/packaging/triggers COPYONLY)
set(VELKOR_DEB_LIBRARY_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/packaging/triggers)

set(CPACK_DEBIAN_CORE_LIB_PACKAGE_NAME libvelkor-core1)
set(CPACK_DEBIAN_CORE_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_CORE_LIB_PACKAGE_CONTROL_EXTRA ${VELKOR_DEB_LIBRARY_EXTRA})
set(CPACK_DEBIAN_CORE_LIB_DESCRIPTION "TQ-Z LiDAR host library - transports and recorder
libvelkor_core holds the links to a TQ-Z sensor (TCP, UDP, serial, replay),
the raw stream recorder with its frame index, and the utilities the sensor
API is built on.")

set(CPACK_DEBIAN_TQ_LIB_PACKAGE_NAME libvelkor-tq1)
set(CPACK_DEBIAN_TQ_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_TQ_LIB_PACKAGE_CONTROL_EXTRA ${VELKOR_DEB_LIBRARY_EXTRA})
set(CPACK_COMPONENT_TQ_LIB_DEPENDS core_lib)
set(CPACK_DEBIAN_TQ_LIB_DESCRIPTION "TQ-Z LiDAR host library - sensor API
libvelkor_tq drives TQ-Z sensors: it connects, streams and assembles frames,
turns them into processed scenes (depth, intensity, ambient images and a
point cloud), reads and writes the sensor's settings, records and replays
raw streams and uploads firmware.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvelkor-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "nlohmann-json3-dev (>= 3.10)")
set(CPACK_COMPONENT_DEV_DEPENDS core_lib tq_lib)
set(CPACK_DEBIAN_DEV_DESCRIPTION "TQ-Z LiDAR host libraries - development files
The public headers (<velkor/lidar_tq.hpp> and <velkor/core/...>) and the
CMake package: find_package(velkor), then link velkor::velkor_tq.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME velkor-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION science)
set(CPACK_COMPONENT_TOOLS_DEPENDS core_lib tq_lib)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "TQ-Z LiDAR command-line tool
tqz streams, records and inspects a sensor's data, exports scenes, reads
and writes settings, uploads firmware and runs a simulated sensor.")

set(CPACK_DEBIAN_STUDIO_PACKAGE_NAME nimbra-studio)
set(CPACK_DEBIAN_STUDIO_PACKAGE_SECTION science)
set(CPACK_COMPONENT_STUDIO_DEPENDS core_lib tq_lib)
set(CPACK_DEBIAN_STUDIO_DESCRIPTION "TQ-Z LiDAR desktop viewer
Nimbra Studio shows a sensor's depth, intensity and ambient images and its
point cloud, records and replays streams and edits the sensor's settings.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-velkor)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_COMPONENT_PYTHON_DEPENDS core_lib tq_lib)
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "TQ-Z LiDAR host library - Python module
The velkor module drives TQ-Z sensors from Python; scenes come as NumPy
arrays. velkor.dask reads and exports archives of recordings with Dask.")
# shlibdeps sees the libraries the extension links; the interpreter it was
# built for (its ABI tag is in the module's file name) and NumPy it cannot see.
if(VELKOR_PYTHON_VERSION)
  string(REGEX MATCH "^[0-9]+" python_major ${VELKOR_PYTHON_VERSION})
  string(REGEX MATCH "[0-9]+$" python_minor ${VELKOR_PYTHON_VERSION})
  math(EXPR python_next "${python_minor} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${VELKOR_PYTHON_VERSION}), python3 (<< ${python_major}.${python_next}), python3-numpy")
endif()
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-dask, python3-distributed, python3-pandas")
foreach(script postinst prerm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/python3-velkor.${script}
    ${CMAKE_CURRENT_BINARY_DIR}/packaging/python/${script} COPYONLY)
  list(APPEND CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/packaging/python/${script})
endforeach()

include(CPack)
